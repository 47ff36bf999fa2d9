// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/RingTargetView.h"

#include <algorithm>

#include <QFontMetricsF>
#include <QPainterPath>

#include "ui/portal/PortalStyle.h"

namespace kolvex {

namespace {

double mix(double a, double b, double k) { return a + (b - a) * k; }

QFont chipFont(double selected) {
    return selected >= 0.5 ? PortalStyle::font(13, QFont::DemiBold) : PortalStyle::font(11.5, QFont::Medium);
}

QColor mixColor(const QColor& a, const QColor& b, double k) {
    k = std::clamp(k, 0.0, 1.0);
    return QColor::fromRgbF(static_cast<float>(mix(a.redF(), b.redF(), k)), static_cast<float>(mix(a.greenF(), b.greenF(), k)),
                            static_cast<float>(mix(a.blueF(), b.blueF(), k)), static_cast<float>(mix(a.alphaF(), b.alphaF(), k)));
}

}  // namespace

QSizeF RingTargetView::size(const RingTarget& target, double selected) {
    const QFontMetricsF metrics(chipFont(selected));
    const double k = std::clamp(selected, 0.0, 1.0);
    return {metrics.horizontalAdvance(QString::fromStdString(target.label)) + 2 * mix(10, 13, k),
            metrics.height() + 2 * mix(5, 7, k)};
}

void RingTargetView::paint(QPainter& painter, QPointF centre, const RingTarget& target, double selected) {
    const double k = std::clamp(selected, 0.0, 1.0);
    const QSizeF s = size(target, selected);
    painter.save();
    painter.translate(centre);
    painter.scale(scale(selected), scale(selected));
    const QRectF chip(-s.width() / 2, -s.height() / 2, s.width(), s.height());
    const double radius = s.height() / 2;
    painter.setRenderHint(QPainter::Antialiasing);
    // The shadow, offset 2 down; its softness is approximated by a wider, fainter ring.
    painter.setPen(Qt::NoPen);
    painter.setBrush(PortalStyle::black(mix(0.22, 0.4, k) * 0.5));
    painter.drawRoundedRect(chip.translated(0, 2).adjusted(-1, -1, 1, 1), radius + 1, radius + 1);
    painter.setBrush(mixColor(PortalStyle::material(), PortalStyle::accent(), k));
    painter.drawRoundedRect(chip, radius, radius);
    const double border = mix(1, 1.5, k);
    painter.setPen(QPen(mixColor(PortalStyle::ink(0.14), PortalStyle::white(0.55), k), border));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(chip.adjusted(border / 2, border / 2, -border / 2, -border / 2), radius - border / 2,
                            radius - border / 2);
    painter.setFont(chipFont(selected));
    painter.setPen(mixColor(PortalStyle::ink(0.88), PortalStyle::black(1), k));
    painter.drawText(chip, Qt::AlignCenter, QString::fromStdString(target.label));
    painter.restore();
}

}  // namespace kolvex
