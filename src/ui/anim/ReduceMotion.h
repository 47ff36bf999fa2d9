// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

namespace kolvex {

// The desktop's "reduce motion" wish: GNOME's enable-animations turned off, or KDE's
// animation speed set to instant. Read when asked (cached for a second, since views ask on
// every frame). GUI thread.
struct ReduceMotion {
    static bool system();
    // Replaces the desktop's answer (tests, or a setting of our own); an empty function
    // restores it.
    static void override(std::function<bool()> source);
};

}  // namespace kolvex
