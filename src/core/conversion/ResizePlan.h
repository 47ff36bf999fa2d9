// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/format/ConversionOptions.h"

namespace kolvex {

// What a resize makes of one file: the one place that turns the sheet's choice — a share of
// the file's own size, or a longest side — into that file's pixels, and that decides when a
// file is better left as it is. The image engine and the FFmpeg arguments both read it.
namespace ResizePlan {

// The options ask for a size (a share or a longest side).
bool asksSize(const ConversionOptions& options);

// The longest side of the result for a picture whose longest side is `longest`: the share
// asked of its own size, else the side asked; never larger than the picture, at least 1.
// `longest` itself when no size is asked.
int64_t longestSide(const ConversionOptions& options, int64_t longest);

// The factor (0 < f ≤ 1) the picture's sides are multiplied by.
double factor(const ConversionOptions& options, int64_t longest);

// A resize that would not make a `width` × `height` picture smaller, with nothing else asked of
// it (no crop, turn or flip): the file is left as it is, and these words say why. None when
// the resize changes it.
std::optional<std::string> leftAsItIs(const ConversionOptions& options, int64_t width, int64_t height);

// Why every file such a resize leaves as it is was left, the same for the whole request:
// "already no larger than 640 px", "already at 100 %". Empty when the options ask no size.
std::string leftBecause(const ConversionOptions& options);

}  // namespace ResizePlan

}  // namespace kolvex
