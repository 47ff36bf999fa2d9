// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "interaction/ModifierFlags.h"

namespace kolvex {

// The one place where the X server's modifier state becomes our modifier flags:
// Shift = Shift, Control = Control, Option = the modifier bit that holds Alt, Command = the
// one that holds Super. Which Mod bit holds Alt and Super depends on the keyboard map, so the
// map is built from the server's modifier mapping (and rebuilt when it changes).
// A plain value; no Xlib here.
class X11ModifierMap {
public:
    // keysymsPerModifier[i] lists the key symbols bound to modifier index i (Shift, Lock,
    // Control, Mod1 … Mod5), as the server's modifier mapping reports them.
    static X11ModifierMap fromKeysyms(const std::array<std::vector<std::uint32_t>, 8>& keysymsPerModifier);

    // The usual layout: Alt on Mod1, Super on Mod4.
    X11ModifierMap() = default;

    ModifierFlags translate(unsigned int state) const;

    unsigned int optionMask() const { return m_optionMask; }
    unsigned int commandMask() const { return m_commandMask; }

private:
    unsigned int m_optionMask = 1u << 3;   // Mod1
    unsigned int m_commandMask = 1u << 6;  // Mod4
};

}  // namespace kolvex
