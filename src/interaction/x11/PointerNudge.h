// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <utility>

namespace kolvex {

// Moves the pointer by (dx, dy) pixels as if the user had, through XTest, so that a drag
// source re-picks its drop target under a window that just appeared beneath a still pointer.
// Opens its own connection to $DISPLAY once. False when there is no X display or no XTest.
// GUI thread.
bool nudgePointer(int dx, int dy);

// Where the pointer is now, in the root window's pixels (y down), asked of the X server on the
// same connection. None when there is no X display. GUI thread.
std::optional<std::pair<int, int>> pointerPosition();

}  // namespace kolvex
