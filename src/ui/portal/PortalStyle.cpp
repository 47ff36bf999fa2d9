#include "ui/portal/PortalStyle.h"

#include <QGuiApplication>
#include <QPalette>

namespace kolvex {

QColor PortalStyle::accent(double opacity) {
    QColor c = QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
    c.setAlphaF(static_cast<float>(opacity));
    return c;
}

QFont PortalStyle::font(double pointSize, QFont::Weight weight, bool monospaced) {
    QFont f = monospaced ? QFont(QStringLiteral("monospace")) : QGuiApplication::font();
    if (monospaced) f.setStyleHint(QFont::Monospace);
    // Points of the design are the interface's logical pixels.
    f.setPixelSize(std::max(1, static_cast<int>(pointSize + 0.5)));
    f.setWeight(weight);
    return f;
}

QPainterPath PortalStyle::symbol(Symbol symbol, double size) {
    const double h = size / 2;
    QPainterPath path;
    switch (symbol) {
    case Symbol::checkmark:
        path.moveTo(-h * 0.8, 0);
        path.lineTo(-h * 0.2, h * 0.6);
        path.lineTo(h * 0.85, -h * 0.65);
        break;
    case Symbol::xmark:
        path.moveTo(-h * 0.6, -h * 0.6);
        path.lineTo(h * 0.6, h * 0.6);
        path.moveTo(h * 0.6, -h * 0.6);
        path.lineTo(-h * 0.6, h * 0.6);
        break;
    case Symbol::crop:
        path.moveTo(-h * 0.5, -h * 0.9);
        path.lineTo(-h * 0.5, h * 0.5);
        path.lineTo(h * 0.9, h * 0.5);
        path.moveTo(-h * 0.9, -h * 0.5);
        path.lineTo(h * 0.5, -h * 0.5);
        path.lineTo(h * 0.5, h * 0.9);
        break;
    case Symbol::scissors:
        path.addEllipse(QPointF(-h * 0.55, h * 0.55), h * 0.3, h * 0.3);
        path.addEllipse(QPointF(h * 0.55, h * 0.55), h * 0.3, h * 0.3);
        path.moveTo(-h * 0.35, h * 0.3);
        path.lineTo(h * 0.5, -h * 0.9);
        path.moveTo(h * 0.35, h * 0.3);
        path.lineTo(-h * 0.5, -h * 0.9);
        break;
    case Symbol::magnifier:
        path.addEllipse(QPointF(-h * 0.15, -h * 0.15), h * 0.55, h * 0.55);
        path.moveTo(h * 0.25, h * 0.25);
        path.lineTo(h * 0.8, h * 0.8);
        break;
    }
    return path;
}

}  // namespace kolvex
