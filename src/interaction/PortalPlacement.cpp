// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/PortalPlacement.h"

#include <algorithm>

namespace kolvex {

Point PortalPlacement::origin(Point cursor, Size size, const std::optional<Rect>& screen) {
    Point result{cursor.x - size.width / 2, cursor.y - size.height / 2};
    if (screen) {
        if (size.width <= screen->size.width) result.x = std::min(std::max(result.x, screen->minX()), screen->maxX() - size.width);
        if (size.height <= screen->size.height) result.y = std::min(std::max(result.y, screen->minY()), screen->maxY() - size.height);
    }
    return result;
}

PortalPlacement::CursorVector PortalPlacement::cursorVector(Point cursor, Point panelOrigin, Size size) {
    return {cursor.x - (panelOrigin.x + size.width / 2), cursor.y - (panelOrigin.y + size.height / 2)};
}

}  // namespace kolvex
