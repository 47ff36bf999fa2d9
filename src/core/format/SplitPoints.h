// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <vector>

namespace kolvex {

// Where a split cuts a file, in seconds; pure.
struct SplitPoints {
    // The given points (or the middle when none), ascending, each strictly inside
    // (0.1 s, duration − 0.1 s) and at least 0.1 s after the previous one.
    static std::vector<double> within(const std::vector<double>& given, double duration);
    // How many parts a split at the given points makes of a file long enough to hold them all:
    // the parts whose names it writes.
    static std::size_t partCount(const std::vector<double>& given);
};

}  // namespace kolvex
