// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

// Puts the application's windows on the screen the user works on: for a tray application
// that is the screen under the pointer, not the one with the focused window. GUI thread only.
namespace kolvex::placement {

// The screen whose geometry holds the pointer; none when no screen does.
QScreen* screenUnderCursor();
// The screen under the pointer, else the primary screen.
QScreen* activeScreen();

// The top-left corner that centres `size` in `visible`, rounded to whole pixels (halves away
// from zero).
QPoint centeredOrigin(const QRect& visible, const QSize& size);

// Sizes the window to its content (when the content's size hint is larger than 1 × 1) and
// centres it in the active screen's available area.
void centerOnActiveScreen(QWidget* window);
// Raises and activates the window; moves it to the active screen (centred) only when it does
// not touch that screen's available area.
void showOnActiveScreen(QWidget* window);

}  // namespace kolvex::placement
