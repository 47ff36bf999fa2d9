// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversion/RotatedSize.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kolvex {

std::pair<int64_t, int64_t> rotatedSize(int64_t width, int64_t height, double degrees) {
    if (!std::isfinite(degrees)) degrees = 0;
    const double radians = degrees * std::numbers::pi / 180;
    const double c = std::abs(std::cos(radians));
    const double s = std::abs(std::sin(radians));
    const double w = static_cast<double>(width);
    const double h = static_cast<double>(height);
    auto side = [](double value) { return std::max<int64_t>(1, std::llround(value)); };
    return {side(c * w + s * h), side(s * w + c * h)};
}

}  // namespace kolvex
