// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/x11/PointerNudge.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace kolvex {

namespace {

// The connection lives for the process; closing it at exit would race the window system's
// own teardown for nothing.
Display* nudgeDisplay() {
    static Display* display = [] {
        Display* d = XOpenDisplay(nullptr);
        if (!d) return static_cast<Display*>(nullptr);
        int event = 0, error = 0, major = 0, minor = 0;
        if (!XTestQueryExtension(d, &event, &error, &major, &minor)) {
            XCloseDisplay(d);
            return static_cast<Display*>(nullptr);
        }
        return d;
    }();
    return display;
}

}  // namespace

bool nudgePointer(int dx, int dy) {
    Display* display = nudgeDisplay();
    if (!display) return false;
    XTestFakeRelativeMotionEvent(display, dx, dy, CurrentTime);
    XFlush(display);
    return true;
}

std::optional<std::pair<int, int>> pointerPosition() {
    Display* display = nudgeDisplay();
    if (!display) return std::nullopt;
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &winX, &winY, &mask))
        return std::nullopt;
    return std::pair{rootX, rootY};
}

}  // namespace kolvex
