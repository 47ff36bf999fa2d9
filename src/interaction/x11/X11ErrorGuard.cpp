// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/x11/X11ErrorGuard.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "core/services/Log.h"

namespace kolvex {

namespace {

std::mutex& guardMutex() {
    static std::mutex value;
    return value;
}

// Guarded by guardMutex().
std::vector<Display*>& guardedDisplays() {
    static std::vector<Display*> value;
    return value;
}

XErrorHandler& previousHandler() {
    static XErrorHandler value = nullptr;
    return value;
}

int handle(Display* display, XErrorEvent* event) {
    XErrorHandler fallback = nullptr;
    {
        std::lock_guard lock(guardMutex());
        const auto& list = guardedDisplays();
        if (std::find(list.begin(), list.end(), display) != list.end()) {
            Log::interaction().debug("X error {} on request {}.{} ignored", static_cast<int>(event->error_code),
                                     static_cast<int>(event->request_code), static_cast<int>(event->minor_code));
            return 0;
        }
        fallback = previousHandler();
    }
    return fallback ? fallback(display, event) : 0;
}

}  // namespace

void X11ErrorGuard::attach(Display* display) {
    std::lock_guard lock(guardMutex());
    if (guardedDisplays().empty()) previousHandler() = XSetErrorHandler(&handle);
    guardedDisplays().push_back(display);
}

void X11ErrorGuard::detach(Display* display) {
    std::lock_guard lock(guardMutex());
    auto& list = guardedDisplays();
    list.erase(std::remove(list.begin(), list.end(), display), list.end());
    if (list.empty()) {
        XSetErrorHandler(previousHandler());
        previousHandler() = nullptr;
    }
}

}  // namespace kolvex
