// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace kolvex {

// Our own word of held modifier keys. The bit values are the device-independent modifier
// flags the design was written against; the X11 layer translates its state into them in
// one place (x11/X11ModifierMap).
using ModifierFlags = std::uint64_t;

namespace modifier_flags {
inline constexpr ModifierFlags capsLock = 0x10000;  // bit 16
inline constexpr ModifierFlags shift = 0x20000;     // bit 17
inline constexpr ModifierFlags control = 0x40000;   // bit 18
inline constexpr ModifierFlags option = 0x80000;    // bit 19: Alt on Linux
inline constexpr ModifierFlags command = 0x100000;  // bit 20: Super on Linux
}  // namespace modifier_flags

}  // namespace kolvex
