// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <utility>

namespace kolvex {

// The bounding box of a width × height picture turned by `degrees`, each side rounded to the
// nearest pixel and at least 1: the canvas of the rotate tool, as the image engine makes it and
// the rotate sheet announces it. Pure.
std::pair<int64_t, int64_t> rotatedSize(int64_t width, int64_t height, double degrees);

}  // namespace kolvex
