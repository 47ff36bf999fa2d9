// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/TriggerKeys.h"

namespace kolvex {

ModifierFlags flag(TriggerModifier modifier) {
    switch (modifier) {
    case TriggerModifier::shift: return modifier_flags::shift;
    case TriggerModifier::option: return modifier_flags::option;
    case TriggerModifier::command: return modifier_flags::command;
    case TriggerModifier::control: return modifier_flags::control;
    }
    return modifier_flags::shift;
}

std::string_view symbol(TriggerModifier modifier) {
    switch (modifier) {
    case TriggerModifier::shift: return "⇧";
    case TriggerModifier::option: return "⌥";
    case TriggerModifier::command: return "⌘";
    case TriggerModifier::control: return "⌃";
    }
    return "⇧";
}

std::string_view displayName(TriggerModifier modifier) {
    switch (modifier) {
    case TriggerModifier::shift: return "Shift";
    case TriggerModifier::option: return "Option";
    case TriggerModifier::command: return "Command";
    case TriggerModifier::control: return "Control";
    }
    return "Shift";
}

bool isHeld(TriggerModifier modifier, ModifierFlags flags) {
    const ModifierFlags mask = flag(modifier);
    return (flags & mask) == mask;
}

}  // namespace kolvex
