// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/FileNodeView.h"

#include <algorithm>
#include <cmath>

#include <QFontMetricsF>
#include <QPainterPath>

#include "ui/portal/PortalStyle.h"

namespace kolvex {

QPointF FileNodeView::leanOffset(PortalPlacement::CursorVector cursor, const PortalMotion& motion) {
    if (motion.reduceMotion) return {};
    const double d = cursor.distance();
    if (!(d > 0)) return {};
    const double magnitude = std::min(motion.nodeLean * d, motion.nodeLeanCap);
    const double a = cursor.angle();
    return {magnitude * std::cos(a), -(magnitude * std::sin(a))};
}

void FileNodeView::paint(QPainter& painter, QPointF centre, const QImage& thumbnail, int fileCount,
                         const std::optional<std::string>& targetLabel) {
    painter.save();
    painter.translate(centre);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!thumbnail.isNull()) {
        const QSizeF logical = thumbnail.deviceIndependentSize().scaled(56, 56, Qt::KeepAspectRatio);
        const QRectF frame(-logical.width() / 2, -logical.height() / 2, logical.width(), logical.height());
        painter.setPen(Qt::NoPen);
        painter.setBrush(PortalStyle::black(0.45 * 0.5));
        painter.drawRoundedRect(frame.translated(0, 3).adjusted(-2, -2, 2, 2), 10, 10);
        QPainterPath clip;
        clip.addRoundedRect(frame, 8, 8);
        painter.save();
        painter.setClipPath(clip);
        painter.drawImage(frame, thumbnail);
        painter.restore();
    }
    if (targetLabel) {
        const QFont font = PortalStyle::font(9, QFont::Bold);
        const QFontMetricsF metrics(font);
        const QString text = QString::fromStdString(*targetLabel);
        const QSizeF s(metrics.horizontalAdvance(text) + 10, metrics.height() + 4);
        const QRectF capsule(20 - s.width() / 2, 24 - s.height() / 2, s.width(), s.height());
        painter.setPen(Qt::NoPen);
        painter.setBrush(PortalStyle::accent());
        painter.drawRoundedRect(capsule, s.height() / 2, s.height() / 2);
        painter.setFont(font);
        painter.setPen(PortalStyle::black(1));
        painter.drawText(capsule, Qt::AlignCenter, text);
    }
    if (showsBadge(fileCount)) {
        const QFont font = PortalStyle::font(10, QFont::Bold);
        const QFontMetricsF metrics(font);
        const QString text = QString::number(fileCount);
        const double side = std::max(18.0, metrics.horizontalAdvance(text) + 8);
        const QRectF badge(-22 - side / 2, -22 - 9, side, 18);
        painter.setPen(Qt::NoPen);
        painter.setBrush(PortalStyle::shade(0.75));
        painter.drawRoundedRect(badge, 9, 9);
        painter.setFont(font);
        painter.setPen(PortalStyle::ink(1));
        painter.drawText(badge, Qt::AlignCenter, text);
    }
    painter.restore();
}

}  // namespace kolvex
