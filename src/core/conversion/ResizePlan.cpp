// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversion/ResizePlan.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace kolvex::ResizePlan {

bool asksSize(const ConversionOptions& options) {
    return (options.scalePercent && *options.scalePercent > 0) || options.maxDimension;
}

int64_t longestSide(const ConversionOptions& options, int64_t longest) {
    longest = std::max<int64_t>(1, longest);
    int64_t side = longest;
    if (options.scalePercent && std::isfinite(*options.scalePercent) && *options.scalePercent > 0) {
        side = static_cast<int64_t>(std::llround(static_cast<double>(longest) * *options.scalePercent / 100.0));
    } else if (options.maxDimension) {
        side = *options.maxDimension;
    }
    return std::clamp<int64_t>(side, 1, longest);
}

double factor(const ConversionOptions& options, int64_t longest) {
    longest = std::max<int64_t>(1, longest);
    return static_cast<double>(longestSide(options, longest)) / static_cast<double>(longest);
}

std::optional<std::string> leftAsItIs(const ConversionOptions& options, int64_t width, int64_t height) {
    if (options.tool != "resize" || !asksSize(options) || width < 1 || height < 1) return std::nullopt;
    if (options.cropRect || options.rotationDegrees() != 0 || options.flipHorizontal || options.flipVertical)
        return std::nullopt;
    const int64_t longest = std::max(width, height);
    if (longestSide(options, longest) < longest) return std::nullopt;
    if (options.scalePercent) return fmt::format("Left as it is: {} × {} at {:g} % is its own size", width, height, *options.scalePercent);
    return fmt::format("Left as it is: {} × {} is no larger than {} px", width, height, *options.maxDimension);
}

std::string leftBecause(const ConversionOptions& options) {
    if (options.scalePercent) return fmt::format("already at {:g} %", *options.scalePercent);
    if (options.maxDimension) return fmt::format("already no larger than {} px", *options.maxDimension);
    return {};
}

}  // namespace kolvex::ResizePlan
