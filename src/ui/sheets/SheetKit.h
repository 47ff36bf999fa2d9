// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <stop_token>

#include <QColor>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

class QBoxLayout;

class QVBoxLayout;

namespace kolvex {

// Small pieces the tool sheets share: texts in the sheet fonts, tinted buttons, the keyboard
// actions of the button row. GUI thread only.
namespace sheetkit {

// A point size of the sheets' design, which is drawn for a desktop whose text is 10 points,
// at the text size the application runs with: the sheets follow a larger desktop font.
double points(double designed);
// A label in the system font at `pointSize` (scaled by points()); `secondary` greys it as
// secondary text.
QLabel* label(const QString& text, double pointSize, QFont::Weight weight = QFont::Normal, bool secondary = false,
              bool monospaced = false);
// A sheet's title: 14-point semibold, shortened in the middle to `width` (a file name can be
// any length), with the whole text as its tool tip.
QLabel* title(const QString& text, int width);
// The accent colour and the secondary text colour of the current palette.
QColor accent(const QWidget* widget);
QColor secondary(const QWidget* widget);
// A bordered button that shows whether it is the current choice.
void setTinted(QAbstractButton* button, bool tinted);
bool isTinted(const QAbstractButton* button);

// The sheet's main column: 20-pixel margins and `spacing` between its parts. The sheet is at
// least `minimumWidth` wide, wider when a larger font needs it.
QVBoxLayout* column(QWidget* sheet, int minimumWidth, int spacing);
// The title with a wrapping secondary line under it, added at the top of `column`.
void header(QVBoxLayout* column, QLabel* title, QLabel* subtitle);

// Escape clicks `cancel`; Return and Enter click `confirm` while it is enabled.
void bindKeys(QWidget* sheet, QPushButton* cancel, QPushButton* confirm);

// A "figure": the label upper-cased small and grey, the value below it in a monospaced font.
struct Figure {
    QWidget* widget = nullptr;
    QLabel* value = nullptr;
    QLabel* detail = nullptr;  // the optional second line
};
Figure figure(const QString& caption, bool emphasised, bool withDetail);

}  // namespace sheetkit
}  // namespace kolvex
