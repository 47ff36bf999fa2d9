// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cmath>
#include <optional>

#include "interaction/Geometry.h"

namespace kolvex {

// Where the Portal window goes around the pointer, and the pointer's offset from its centre.
// Screen orientation throughout: y upwards.
struct PortalPlacement {
    struct CursorVector {
        double dx = 0;
        double dy = 0;
        double distance() const { return std::sqrt(dx * dx + dy * dy); }
        double angle() const { return std::atan2(dy, dx); }
        bool operator==(const CursorVector&) const = default;
    };

    // The window centred on the pointer, then pushed inside `screen` on every axis on which
    // it fits; an axis on which it does not fit stays centred on the pointer.
    static Point origin(Point cursor, Size size, const std::optional<Rect>& screen);
    // The pointer minus the window's centre (origin + size / 2).
    static CursorVector cursorVector(Point cursor, Point panelOrigin, Size size);
};

}  // namespace kolvex
