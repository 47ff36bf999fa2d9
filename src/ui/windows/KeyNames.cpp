// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/windows/KeyNames.h"

namespace kolvex {

std::string keyGlyph(TriggerModifier modifier) {
    switch (modifier) {
    case TriggerModifier::shift: return "⇧";
    case TriggerModifier::control: return "⌃";
    case TriggerModifier::option:
    case TriggerModifier::command: return "";
    }
    return "";
}

std::string keyName(TriggerModifier modifier) {
    switch (modifier) {
    case TriggerModifier::shift: return "Shift";
    case TriggerModifier::option: return "Alt";
    case TriggerModifier::command: return "Super";
    case TriggerModifier::control: return "Control";
    }
    return "";
}

std::string keyLabel(TriggerModifier modifier, const std::string& separator) {
    const std::string glyph = keyGlyph(modifier);
    return glyph.empty() ? keyName(modifier) : glyph + separator + keyName(modifier);
}

}  // namespace kolvex
