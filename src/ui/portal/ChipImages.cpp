// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/ChipImages.h"

#include <cmath>

#include <QPainter>

#include "ui/portal/PortalBlit.h"
#include "ui/portal/PortalStyle.h"
#include "ui/portal/RingTargetView.h"

namespace kolvex {

void ChipImages::paint(QPainter& p, QPointF centre, const RingTarget& target, double selected, bool atRest,
                       double dpr) {
    const QTransform toDevice = p.deviceTransform();
    const QPointF device = toDevice.map(centre);
    const QPointF whole = atRest ? QPointF(std::floor(device.x()), std::floor(device.y()))
                                 : QPointF(std::round(device.x()), std::round(device.y()));
    const QPointF fraction = atRest ? device - whole : QPointF(0, 0);
    const double theme = PortalStyle::themeKey();
    Chip& chip = m_chips[target.id];
    if (chip.label != target.label || chip.selected != selected || chip.devicePixelRatio != dpr ||
        chip.theme != theme ||
        std::abs(chip.fraction.x() - fraction.x()) > 1e-6 || std::abs(chip.fraction.y() - fraction.y()) > 1e-6) {
        // Room for the grown chip and its shadow.
        const QSizeF size = RingTargetView::size(target, selected) * RingTargetView::scale(selected);
        const int width = static_cast<int>(std::ceil((size.width() + 16) * dpr)) + 2;
        const int height = static_cast<int>(std::ceil((size.height() + 16) * dpr)) + 2;
        chip.image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
        chip.image.fill(Qt::transparent);
        chip.middle = QPointF(std::floor(width / 2.0), std::floor(height / 2.0));
        QPainter painter(&chip.image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.translate(chip.middle + fraction);
        painter.scale(dpr, dpr);
        RingTargetView::paint(painter, QPointF(0, 0), target, selected);
        painter.end();
        chip.image.setDevicePixelRatio(dpr);
        chip.label = target.label;
        chip.selected = selected;
        chip.fraction = fraction;
        chip.devicePixelRatio = dpr;
        chip.theme = theme;
    }
    // One image pixel to one device pixel, at whole device pixels: a plain blend.
    PortalBlit::draw(p, toDevice.inverted().map(whole - chip.middle), chip.image);
}

}  // namespace kolvex
