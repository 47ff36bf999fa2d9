// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "core/services/TriggerModifier.h"

namespace kolvex {

// How the windows name a trigger key on this desktop: Option is the Alt key and Command the
// Super key, which have no glyph of their own here.
std::string keyGlyph(TriggerModifier modifier);  // "⇧", "", "", "⌃"
std::string keyName(TriggerModifier modifier);   // "Shift", "Alt", "Super", "Control"
// The glyph, `separator` and the name; the name alone when the key has no glyph.
std::string keyLabel(TriggerModifier modifier, const std::string& separator = " ");

}  // namespace kolvex
