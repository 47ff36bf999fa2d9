// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/x11/X11DragInputsState.h"

#include "interaction/x11/DragSourceProcess.h"

namespace kolvex {

// The window a drag began in, so that a question about its drop can open beside it.

namespace {

// The window the window manager manages (it carries WM_STATE) at or inside `window`, the
// topmost first; 0 when none is within a few levels (a frame holds its client one or two down).
Window clientWindowIn(Display* display, Window window, Atom wmState, int depth) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool managed = XGetWindowProperty(display, window, wmState, 0, 0, False, AnyPropertyType, &type, &format,
                                            &count, &after, &data) == Success &&
                         type != 0;
    if (data) XFree(data);
    if (managed) return window;
    if (depth == 0) return 0;
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned int childCount = 0;
    Window found = 0;
    if (XQueryTree(display, window, &rootReturn, &parent, &children, &childCount)) {
        for (unsigned int i = childCount; i-- > 0 && !found;) found = clientWindowIn(display, children[i], wmState, depth - 1);
        if (children) XFree(children);
    }
    return found;
}

}  // namespace

Window X11DragInputs::State::sourceWindowUnderPointer() {
    Window rootReturn = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display, root, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask)) return 0;
    static const Atom wmState = XInternAtom(display, "WM_STATE", False);
    const auto owner = processOfWindow(display, XGetSelectionOwner(display, xdndSelection));
    // The topmost managed window under the pointer of the program that drags: a drag's own
    // windows (its icon, an input window over the screen) may lie above it.
    Window parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = count; i-- > 0 && !found;) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(display, children[i], &a) || a.map_state != IsViewable || a.c_class == InputOnly)
            continue;
        if (rootX < a.x || rootY < a.y || rootX >= a.x + a.width || rootY >= a.y + a.height) continue;
        const Window client = clientWindowIn(display, children[i], wmState, 3);
        if (client == 0) continue;
        const auto shown = processOfWindow(display, client);
        if (!owner || !shown || *owner == *shown) found = client;
    }
    if (children) XFree(children);
    return found;
}

}  // namespace kolvex
