// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include "interaction/PortalPlacement.h"
#include "interaction/RingLayout.h"

namespace kolvex {

// Picks a chip by the pointer's direction from the Portal's centre. Inside the dead zone
// nothing is selected; the current choice survives until the pointer is clearly nearer
// another chip's direction, so a pointer on a boundary keeps it.
struct RingSelector {
    std::optional<int> selected;

    std::optional<int> update(const PortalPlacement::CursorVector& cursor, const RingLayout& layout);
    void reset() { selected.reset(); }

    bool operator==(const RingSelector&) const = default;
};

}  // namespace kolvex
