// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/TriggerModifier.h"

namespace kolvex {

std::string_view toString(TriggerModifier modifier) {
    switch (modifier) {
    case TriggerModifier::shift: return "shift";
    case TriggerModifier::option: return "option";
    case TriggerModifier::command: return "command";
    case TriggerModifier::control: return "control";
    }
    return "shift";
}

std::optional<TriggerModifier> triggerModifierFromString(std::string_view raw) {
    for (TriggerModifier modifier : kAllTriggerModifiers) {
        if (toString(modifier) == raw) return modifier;
    }
    return std::nullopt;
}

}  // namespace kolvex
