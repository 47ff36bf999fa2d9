// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/ModeResolver.h"

#include "interaction/TriggerKeys.h"

namespace kolvex {

ModeResolver::ModeResolver(TriggerModifier convert, TriggerModifier tools)
    : convertModifier(convert), toolsModifier(tools != convert ? tools : fallbackTools(convert)) {}

TriggerModifier ModeResolver::fallbackTools(TriggerModifier avoiding) {
    for (TriggerModifier candidate : kAllTriggerModifiers) {
        if (candidate != avoiding) return candidate;
    }
    return TriggerModifier::shift;  // unreachable: there are four keys
}

std::optional<PortalMode> ModeResolver::mode(ModifierFlags flags) const {
    const bool convertHeld = isHeld(convertModifier, flags);
    const bool toolsHeld = isHeld(toolsModifier, flags);
    if (convertHeld && toolsHeld) return PortalMode::advanced;
    if (convertHeld) return PortalMode::convert;
    if (toolsHeld) return PortalMode::tools;
    return std::nullopt;
}

}  // namespace kolvex
