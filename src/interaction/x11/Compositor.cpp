// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/x11/Compositor.h"

#include <string>

#include <X11/Xlib.h>

namespace kolvex {

namespace {

// The connection lives for the process, like the pointer nudge's.
Display* compositorDisplay() {
    static Display* display = XOpenDisplay(nullptr);
    return display;
}

}  // namespace

bool compositingManagerRunning() {
    Display* display = compositorDisplay();
    if (!display) return false;
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
    const Atom selection = XInternAtom(display, name.c_str(), False);
    return XGetSelectionOwner(display, selection) != 0;
}

}  // namespace kolvex
