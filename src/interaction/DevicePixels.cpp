// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/DevicePixels.h"

#include <cmath>

namespace kolvex::DevicePixels {

namespace {

// Qt's rounding of a scaled coordinate: half up, on either side of zero.
int roundHalfUp(double value) { return static_cast<int>(std::floor(value + 0.5)); }

}  // namespace

int position(int logical, int origin, double scale) { return origin + roundHalfUp((logical - origin) * scale); }

int length(int logical, double scale) { return roundHalfUp(logical * scale); }

int fit(int logical, int logicalLength, int origin, double scale, int low, int high) {
    const int span = length(logicalLength, scale);
    if (scale <= 0 || span > high - low) return logical;
    int at = logical;
    // From the logical pixel whose scaled start, unrounded, just leaves room, which rounding
    // cannot take past the edge (the room is whole), step on toward the edge while rounding
    // down still leaves room.
    if (position(at, origin, scale) + span > high) {
        at = origin + static_cast<int>(std::floor((high - span - origin) / scale));
        while (at + 1 < logical && position(at + 1, origin, scale) + span <= high) ++at;
    }
    if (position(at, origin, scale) < low) {
        at = origin + static_cast<int>(std::ceil((low - origin) / scale));
        while (at - 1 > logical && position(at - 1, origin, scale) >= low) --at;
    }
    return at;
}

}  // namespace kolvex::DevicePixels
