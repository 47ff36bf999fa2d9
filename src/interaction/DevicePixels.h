// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kolvex {

// How a top-level window's frame in Qt's logical pixels becomes the window system's pixels on
// a scaled screen, and where a window goes so that its real pixels stay inside an area. Qt
// keeps a screen's top-left corner where the window system has it; a window's distance from
// that corner and its size are each multiplied by the scale and rounded, half up. A screen's
// logical size is rounded too (1366 pixels at 1.5 are 911 logical ones, which make 1366.5), so
// a window pushed against a logical edge can end a pixel past the real one. One axis at a time,
// in whole pixels, y down.
namespace DevicePixels {

// The window system's coordinate of a logical one on a screen whose corner is at `origin`.
int position(int logical, int origin, double scale);
// The window system's length of a logical one.
int length(int logical, double scale);

// The logical position nearest `logical` at which a window `logicalLength` long lies, in the
// window system's pixels, within [low, high); `logical` itself when it already does, or when
// the window is longer than the span.
int fit(int logical, int logicalLength, int origin, double scale, int low, int high);

}  // namespace DevicePixels

}  // namespace kolvex
