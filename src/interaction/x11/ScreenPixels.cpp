// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/x11/ScreenPixels.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace kolvex {

namespace {

// The connection lives for the process, as the pointer nudge's does.
Display* screensDisplay() {
    static Display* display = XOpenDisplay(nullptr);
    return display;
}

Rect rectOf(long x, long y, long width, long height) {
    return Rect{Point{static_cast<double>(x), static_cast<double>(y)},
                Size{static_cast<double>(width), static_cast<double>(height)}};
}

std::vector<Rect> monitorsOf(Display* display, Window root) {
    std::vector<Rect> monitors;
    int event = 0, error = 0, major = 0, minor = 0;
    if (XRRQueryExtension(display, &event, &error) && XRRQueryVersion(display, &major, &minor) &&
        (major > 1 || (major == 1 && minor >= 5))) {
        int count = 0;
        if (XRRMonitorInfo* info = XRRGetMonitors(display, root, True, &count)) {
            for (int i = 0; i < count; ++i) monitors.push_back(rectOf(info[i].x, info[i].y, info[i].width, info[i].height));
            XRRFreeMonitors(info);
        }
    }
    if (monitors.empty()) {
        const int screen = DefaultScreen(display);
        monitors.push_back(rectOf(0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)));
    }
    return monitors;
}

std::optional<long> cardinal(Display* display, Window window, const char* name, long index) {
    const Atom atom = XInternAtom(display, name, True);
    if (atom == None) return std::nullopt;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::optional<long> value;
    if (XGetWindowProperty(display, window, atom, index, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
            Success &&
        type == XA_CARDINAL && format == 32 && count == 1)
        value = reinterpret_cast<long*>(data)[0];
    if (data) XFree(data);
    return value;
}

std::optional<Rect> workAreaOf(Display* display, Window root) {
    const long desktop = cardinal(display, root, "_NET_CURRENT_DESKTOP", 0).value_or(0);
    long values[4] = {};
    for (long i = 0; i < 4; ++i) {
        const auto value = cardinal(display, root, "_NET_WORKAREA", desktop * 4 + i);
        if (!value) return std::nullopt;
        values[i] = *value;
    }
    if (values[2] <= 0 || values[3] <= 0) return std::nullopt;
    return rectOf(values[0], values[1], values[2], values[3]);
}

}  // namespace

std::optional<ScreenPixels> screenPixels() {
    Display* display = screensDisplay();
    if (!display) return std::nullopt;
    const Window root = DefaultRootWindow(display);
    return ScreenPixels{monitorsOf(display, root), workAreaOf(display, root)};
}

}  // namespace kolvex
