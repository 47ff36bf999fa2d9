// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

#include "core/services/TriggerModifier.h"
#include "interaction/ModifierFlags.h"

// What the drag interaction and the settings show and test of a trigger key.
namespace kolvex {

// The modifier-flag mask of the key: shift 0x20000, option 0x80000, command 0x100000,
// control 0x40000.
ModifierFlags flag(TriggerModifier modifier);
// "⇧", "⌥", "⌘", "⌃".
std::string_view symbol(TriggerModifier modifier);
// "Shift", "Option", "Command", "Control" (the words the user sees are adapted by the UI).
std::string_view displayName(TriggerModifier modifier);
// True when every bit of the key's flag is set in `flags`; other bits do not matter.
bool isHeld(TriggerModifier modifier, ModifierFlags flags);

}  // namespace kolvex
