// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Xlib's types only; included by the X11 sources of this folder, never by Qt code.
#include <X11/Xlib.h>

namespace kolvex {

// Xlib reports protocol errors through one process-wide handler. Ours ignores the errors of
// our own connections (a drag source's window may vanish at any moment) and hands every other
// to the handler that was there before. Any thread; guarded.
class X11ErrorGuard {
public:
    // Errors on `display` are ignored from now on.
    static void attach(Display* display);
    // …and no longer; the handler that was there before comes back with the last display.
    static void detach(Display* display);
};

}  // namespace kolvex
