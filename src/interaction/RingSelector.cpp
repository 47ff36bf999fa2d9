// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/RingSelector.h"

#include <cmath>

namespace kolvex {

std::optional<int> RingSelector::update(const PortalPlacement::CursorVector& cursor, const RingLayout& layout) {
    const double distance = cursor.distance();
    // A NaN distance (a broken pointer reading) selects nothing rather than chip 0.
    if (layout.count < 1 || !(distance >= layout.deadZone())) {
        selected.reset();
        return std::nullopt;
    }
    const double theta = cursor.angle();

    int best = 0;
    double bestDelta = std::abs(RingLayout::angularDelta(theta, layout.angle(0)));
    for (int i = 1; i < layout.count; ++i) {
        const double delta = std::abs(RingLayout::angularDelta(theta, layout.angle(i)));
        if (delta < bestDelta) {
            best = i;
            bestDelta = delta;
        }
    }

    if (selected && *selected >= 0 && *selected < layout.count) {
        const double current = std::abs(RingLayout::angularDelta(theta, layout.angle(*selected)));
        if (current <= bestDelta + layout.hysteresis(distance)) return selected;
    }
    selected = best;
    return selected;
}

}  // namespace kolvex
