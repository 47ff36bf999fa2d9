// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include "core/format/RingTarget.h"
#include "core/services/TriggerModifier.h"
#include "interaction/ModifierFlags.h"

namespace kolvex {

// The pair of keys that chooses the Portal's mode: the convert key alone gives the convert
// ring, the tools key alone the tools ring, both the advanced ring. The two always differ.
struct ModeResolver {
    TriggerModifier convertModifier = TriggerModifier::shift;
    TriggerModifier toolsModifier = TriggerModifier::option;

    // A tools key equal to the convert key is replaced by fallbackTools(convert).
    ModeResolver(TriggerModifier convert, TriggerModifier tools);

    // The keys the Portal answers when `trigger` is the convert key: Alt for tools, or the first
    // other key when the trigger is Alt itself.
    static ModeResolver forTrigger(TriggerModifier trigger) { return ModeResolver(trigger, TriggerModifier::option); }

    // The first key of kAllTriggerModifiers that differs from `avoiding`.
    static TriggerModifier fallbackTools(TriggerModifier avoiding);

    // The mode the held keys choose; none when neither key is held.
    std::optional<PortalMode> mode(ModifierFlags flags) const;

    bool operator==(const ModeResolver&) const = default;
};

}  // namespace kolvex
