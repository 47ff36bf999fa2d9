// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kolvex {

// Points, sizes and rectangles in global screen coordinates with y growing upwards
// (origin at the bottom left of the root window). Lengths are points.
struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin;
    Size size;

    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    bool operator==(const Rect&) const = default;
};

// The one conversion between the window system's y-down coordinates (origin at the top
// left of the root window) and the upward coordinates the interaction works in.
// `rootHeight` is the height of the whole root window. The conversion is its own inverse.
inline Point upwardFromTopDown(double x, double yDown, double rootHeight) { return {x, rootHeight - yDown}; }
inline Point topDownFromUpward(Point upward, double rootHeight) { return {upward.x, rootHeight - upward.y}; }

}  // namespace kolvex
