// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>

class QScrollArea;
class QWidget;

namespace kolvex::scrolling {

// Room kept for the window manager's title bar and borders when a window is fitted to a screen.
inline constexpr int kFrameAllowance = 48;

// `content` (taken) in a frameless scroll area that scrolls it vertically when the window is
// shorter than it, and never scrolls sideways: the area is as wide as the content and its bar.
QScrollArea* wrap(QWidget* content);

// Sizes a resizable `window` holding a wrapped content: as tall as the content asks, but no
// taller than the `available` area (logical pixels) less the frame allowance, and never shorter
// than a few lines.
void fit(QWidget* window, const QRect& available);

}  // namespace kolvex::scrolling
