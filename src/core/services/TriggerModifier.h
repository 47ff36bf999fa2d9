// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace kolvex {

// The key that, held during a file drag, opens the Portal. Raw values are the case names;
// they are what the preferences and the defaults store keep.
enum class TriggerModifier { shift, option, command, control };

inline constexpr std::array kAllTriggerModifiers{TriggerModifier::shift, TriggerModifier::option,
                                                 TriggerModifier::command, TriggerModifier::control};

std::string_view toString(TriggerModifier modifier);
// Exactly "shift", "option", "command" or "control"; nothing for any other text.
std::optional<TriggerModifier> triggerModifierFromString(std::string_view raw);

}  // namespace kolvex
