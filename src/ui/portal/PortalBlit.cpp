// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/PortalBlit.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include <QPainter>

namespace kolvex {

void PortalBlit::draw(QPainter& p, QPointF at, const QImage& image, QRect source) {
    if (image.isNull()) return;
    if (source.isEmpty()) source = image.rect();
    source &= image.rect();
    const double dpr = image.devicePixelRatio();
    for (int top = source.top(); top <= source.bottom(); top += kRows) {
        const QRect strip(source.left(), top, source.width(), std::min(kRows, source.bottom() + 1 - top));
        const QRectF target(at + QPointF(strip.left() - source.left(), strip.top() - source.top()) / dpr,
                            QSizeF(strip.size()) / dpr);
        p.drawImage(target, image, strip);
    }
}

void PortalBlit::drawTransformed(QPainter& p, const QImage& image) {
    if (image.isNull()) return;
    const double dpr = image.devicePixelRatio();
    const QTransform world = p.worldTransform();
    const QTransform toDevice = p.deviceTransform();
    const QRect bounds = toDevice.mapRect(QRectF(QPointF(0, 0), QSizeF(image.size()) / dpr)).toAlignedRect();
    // The strips are cut in device rows; the clip is set with no world transform so it stays a
    // rectangle there.
    // With no world transform a point maps to the device by the painter's base (the device's
    // scale): device = base(logical), and toDevice = world then base.
    const QTransform deviceToLogical = toDevice.inverted() * world;
    for (int top = bounds.top(); top <= bounds.bottom(); top += kRows) {
        const QRect strip(bounds.left(), top, bounds.width(), std::min(kRows, bounds.bottom() + 1 - top));
        p.save();
        p.setWorldTransform(QTransform());
        p.setClipRect(deviceToLogical.mapRect(QRectF(strip)), Qt::IntersectClip);
        p.setWorldTransform(world);
        p.drawImage(QPointF(0, 0), image);
        p.restore();
    }
}

QRect PortalBlit::opaqueBounds(const QImage& image) {
    const int width = image.width();
    const int height = image.height();
    int top = height, bottom = -1, left = width, right = -1;
    const auto empty = [](QRgb pixel) { return pixel == 0; };
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        const auto* end = line + width;
        const auto* first = std::find_if_not(line, end, empty);
        if (first == end) continue;
        const auto last = std::find_if_not(std::make_reverse_iterator(end), std::make_reverse_iterator(first), empty);
        top = std::min(top, y);
        bottom = y;
        left = std::min(left, static_cast<int>(first - line));
        right = std::max(right, static_cast<int>(last.base() - 1 - line));
    }
    if (bottom < 0) return {};
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

}  // namespace kolvex
