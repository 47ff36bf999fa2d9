// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <vector>

#include "interaction/Geometry.h"

namespace kolvex {

// The screens as the X server has them, in the root window's pixels (y down): what Qt reports
// of them is divided by its scale and rounded, which is a pixel off on many screens.
struct ScreenPixels {
    // Each monitor's frame (RandR's monitors; the whole root window where it has none).
    std::vector<Rect> monitors;
    // The desktop's work area (_NET_WORKAREA of the current desktop): the root window without
    // the panels and docks; none when no window manager sets it.
    std::optional<Rect> workArea;
};

// Asked of the X server on a connection of its own, opened once. None when there is no X
// display. GUI thread.
std::optional<ScreenPixels> screenPixels();

}  // namespace kolvex
