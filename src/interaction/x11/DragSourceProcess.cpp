// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/x11/DragSourceProcess.h"

#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>

#include "interaction/x11/X11ErrorGuard.h"

namespace kolvex {

namespace {

// The connection lives for the process, as the pointer nudge's does.
Display* ownerDisplay() {
    static Display* display = [] {
        Display* d = XOpenDisplay(nullptr);
        if (!d) return static_cast<Display*>(nullptr);
        int event = 0, error = 0;
        if (!XResQueryExtension(d, &event, &error)) {
            XCloseDisplay(d);
            return static_cast<Display*>(nullptr);
        }
        // The owner's window may be gone by the time we ask about it.
        X11ErrorGuard::attach(d);
        return d;
    }();
    return display;
}

bool windowOfThisProcess(Display* display, unsigned long window) {
    if (!display || window == 0) return false;
    XResClientIdSpec clientId{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    bool ours = false;
    if (XResQueryClientIds(display, 1, &clientId, &count, &values) == Success) {
        for (long i = 0; i < count; ++i) {
            if (XResGetClientPid(&values[i]) == getpid()) ours = true;
        }
        XResClientIdsDestroy(count, values);
    }
    return ours;
}

}  // namespace

bool dragSourceIsThisProcess() {
    Display* display = ownerDisplay();
    if (!display) return false;
    static const Atom selection = XInternAtom(display, "XdndSelection", False);
    return windowOfThisProcess(display, XGetSelectionOwner(display, selection));
}

}  // namespace kolvex
