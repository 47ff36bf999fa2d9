// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QPointF>
#include <QString>
#include <QStringList>

#include "core/services/Preferences.h"

class QObject;
class QPainter;
class QPalette;

namespace kolvex {

// The Portal's look, shared by its views: the accent colour, its ink (text and strokes) and
// shade (backdrops) at graded opacities in the chosen theme, the interface font at point sizes,
// and the few symbols drawn in code. GUI thread.
struct PortalStyle {
    // Dark: white text on dark translucent backdrops. Light: the same, inverted.
    enum class Theme { dark, light };
    static Theme theme();
    static void setTheme(Theme theme);
    // Runs `react` whenever the theme changes, for as long as `context` lives. A theme change
    // need not come with any event to the views (the palette may stay as it was), so a view that
    // draws in the theme's colours redraws through this.
    static void whenThemeChanges(QObject* context, std::function<void()> react);
    // The theme for the Appearance setting. "System" follows the desktop's palette when the
    // desktop gives one (`system` differs from the style's own `standard` palette), and is
    // dark otherwise.
    static Theme themeFor(Preferences::Appearance appearance, const QPalette& system, const QPalette& standard);
    // Everything the theme decides about a drawing (the theme and the accent colour) as one
    // number: a cached drawing whose number differs is out of date. Changing the theme need not
    // change the application's palette, so no palette event can stand in for this.
    static double themeKey();

    static QColor accent(double opacity = 1);
    // Text, symbols and strokes over the Portal's backdrops: white in the dark theme.
    static QColor ink(double opacity);
    // The backdrops under them: black in the dark theme.
    static QColor shade(double opacity);
    static QColor white(double opacity) { return QColor::fromRgbF(1, 1, 1, static_cast<float>(opacity)); }
    // The model's UTF-8 text as Qt text.
    static QString text(const std::string& utf8) { return QString::fromStdString(utf8); }
    // Shadows, and text on the accent colour, in either theme.
    static QColor black(double opacity) { return QColor::fromRgbF(0, 0, 0, static_cast<float>(opacity)); }
    // The translucent backdrop standing in for the platform's ultra-thin material.
    static QColor material();
    // The disc painted when nothing can be translucent (no compositor).
    static QColor opaqueDisc();
    static QFont font(double pointSize, QFont::Weight weight = QFont::Normal, bool monospaced = false);

    enum class Symbol { checkmark, xmark, crop, scissors, magnifier };
    // The symbol's outline for a glyph of `size` points centred on the origin; stroked, not filled.
    static QPainterPath symbol(Symbol symbol, double size);
    // Strokes the symbol centred on `at`.
    static void strokeSymbol(QPainter& p, Symbol symbol, QPointF at, double size, double width, const QColor& color);
    // `text` broken between words into lines at most `width` wide (a word longer than that is
    // broken where it must); nothing is left out.
    static QStringList wrappedLines(const QString& text, const QFont& font, double width);
    // Draws `text` centred on (0, y) within `width`, wrapping between words; returns its height.
    static double drawWrapped(QPainter& p, const QString& text, double y, double width, const QFont& font,
                              const QColor& color);
    // Draws one line centred on (0, y), elided in the middle beyond `maxWidth` when it is set.
    static void drawLine(QPainter& p, const QString& text, double y, const QFont& font, const QColor& color,
                         double maxWidth = 0);
};

}  // namespace kolvex
