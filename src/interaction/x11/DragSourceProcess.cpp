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

}  // namespace

std::optional<pid_t> processOfWindow(_XDisplay* display, unsigned long window) {
    int event = 0, error = 0;
    if (!display || window == 0 || !XResQueryExtension(display, &event, &error)) return std::nullopt;
    XResClientIdSpec clientId{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    std::optional<pid_t> pid;
    if (XResQueryClientIds(display, 1, &clientId, &count, &values) == Success) {
        for (long i = 0; i < count; ++i)
            if (const pid_t found = XResGetClientPid(&values[i]); found > 0) pid = found;
        XResClientIdsDestroy(count, values);
    }
    return pid;
}

bool dragSourceIsThisProcess() {
    Display* display = ownerDisplay();
    if (!display) return false;
    static const Atom selection = XInternAtom(display, "XdndSelection", False);
    return processOfWindow(display, XGetSelectionOwner(display, selection)) == getpid();
}

}  // namespace kolvex
