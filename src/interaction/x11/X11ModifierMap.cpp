// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/x11/X11ModifierMap.h"

#include <algorithm>

namespace kolvex {

namespace {

// Core protocol state bits.
constexpr unsigned int kShiftMask = 1u << 0;
constexpr unsigned int kLockMask = 1u << 1;
constexpr unsigned int kControlMask = 1u << 2;

// Key symbols (X11 keysymdef values).
constexpr std::uint32_t kAltL = 0xffe9;
constexpr std::uint32_t kAltR = 0xffea;
constexpr std::uint32_t kSuperL = 0xffeb;
constexpr std::uint32_t kSuperR = 0xffec;

// The first Mod bit (Mod1 … Mod5) that holds one of the symbols; `fallback` when none does.
unsigned int modBitHolding(const std::array<std::vector<std::uint32_t>, 8>& map, std::uint32_t a, std::uint32_t b,
                           unsigned int fallback) {
    for (std::size_t index = 3; index < 8; ++index) {
        const auto& syms = map[index];
        if (std::find(syms.begin(), syms.end(), a) != syms.end() || std::find(syms.begin(), syms.end(), b) != syms.end())
            return 1u << index;
    }
    return fallback;
}

}  // namespace

X11ModifierMap X11ModifierMap::fromKeysyms(const std::array<std::vector<std::uint32_t>, 8>& keysymsPerModifier) {
    X11ModifierMap map;
    map.m_optionMask = modBitHolding(keysymsPerModifier, kAltL, kAltR, map.m_optionMask);
    map.m_commandMask = modBitHolding(keysymsPerModifier, kSuperL, kSuperR, map.m_commandMask);
    return map;
}

ModifierFlags X11ModifierMap::translate(unsigned int state) const {
    ModifierFlags flags = 0;
    if (state & kShiftMask) flags |= modifier_flags::shift;
    if (state & kLockMask) flags |= modifier_flags::capsLock;
    if (state & kControlMask) flags |= modifier_flags::control;
    if (state & m_optionMask) flags |= modifier_flags::option;
    if (state & m_commandMask) flags |= modifier_flags::command;
    return flags;
}

}  // namespace kolvex
