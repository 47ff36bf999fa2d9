#pragma once

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QPointF>
#include <QString>

namespace kolvex {

// The Portal's look, shared by its views: the accent colour, white at graded opacities, the
// interface font at point sizes, and the few symbols drawn in code. GUI thread.
struct PortalStyle {
    static QColor accent(double opacity = 1);
    static QColor white(double opacity) { return QColor::fromRgbF(1, 1, 1, static_cast<float>(opacity)); }
    static QColor black(double opacity) { return QColor::fromRgbF(0, 0, 0, static_cast<float>(opacity)); }
    // The translucent backdrop standing in for the platform's ultra-thin material.
    static QColor material() { return QColor(38, 38, 44, 190); }
    static QFont font(double pointSize, QFont::Weight weight = QFont::Normal, bool monospaced = false);

    enum class Symbol { checkmark, xmark, crop, scissors, magnifier };
    // The symbol's outline for a glyph of `size` points centred on the origin; stroked, not filled.
    static QPainterPath symbol(Symbol symbol, double size);
};

}  // namespace kolvex
