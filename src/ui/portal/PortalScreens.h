// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <vector>

#include <QRect>

#include "interaction/Geometry.h"

namespace kolvex {

// One screen as the Portal sees it, in global coordinates with y upwards.
struct PortalScreen {
    Rect frame;
    Rect visibleFrame;  // the frame without panels and docks
    // The same screen in the X root window's pixels (y down) and how many of them make one of
    // Qt's logical pixels (QT_SCALE_FACTOR, Xft.dpi). An empty root frame: an unscaled screen.
    Rect rootFrame;
    double scale = 1;
    // The visible frame in the root window's pixels (y down), as the X server has it; empty:
    // worked out from the visible frame and the scale.
    Rect rootVisibleFrame;
    bool operator==(const PortalScreen&) const = default;
};

// Where the Portal's screens come from and how their two kinds of pixels meet. GUI thread.
namespace PortalScreens {

// The height of the whole desktop in Qt's logical pixels: the origin of the upward coordinates.
double virtualHeight();
// Qt's screens in its order, and its primary screen, with their real pixels from the X server
// where it answers.
std::vector<PortalScreen> all(double rootHeight);
std::optional<PortalScreen> primary(double rootHeight);

// A rectangle in Qt's y-down coordinates in upward ones.
Rect upward(const QRect& r, double rootHeight);
// Whether a pointer is on the screen (see PortalScreens.cpp).
bool containsPointer(const Rect& r, Point p);
// The screen's rectangle and its visible part in root pixels, y down.
Rect rootFrameOf(const PortalScreen& screen, double rootHeight);
Rect rootVisibleFrameOf(const PortalScreen& screen, double rootHeight);

// The origin (y upwards) nearest `origin` at which a window of `side` logical pixels a side,
// once Qt has turned it into the window system's pixels, lies within the screen's visible
// frame in those pixels, on every axis on which it fits. Whole logical pixels.
Point withinRealPixels(Point origin, double side, const PortalScreen& screen, double rootHeight);

}  // namespace PortalScreens

}  // namespace kolvex
