// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The state behind X11DragInputs, shared by the files that implement it; nothing else
// includes this header.

#include "interaction/x11/X11DragInputs.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <vector>

#include <QSocketNotifier>
#include <QTimer>

#include "core/services/Log.h"
#include "interaction/DragData.h"
#include "interaction/DragSessionTracker.h"
#include "interaction/x11/X11ModifierMap.h"

// Xlib comes last: its macros (None, Bool, Status, …) must not reach the Qt headers.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xfixes.h>
#include <X11/keysym.h>

#include "interaction/x11/X11ErrorGuard.h"

namespace kolvex {

// The biggest drag data we take; file lists are far smaller, and a source that streams more
// is not handing us files.
constexpr std::size_t kMaxDataBytes = 16 * 1024 * 1024;
constexpr int kPropertyAtoms = 4;

struct X11DragInputs::State {
    std::string displayName;
    Display* display = nullptr;
    bool connectionLost = false;
    Window root = 0;
    Window requestor = 0;
    int xiOpcode = 0;
    int fixesEventBase = 0;
    Atom xdndSelection = 0;
    Atom incr = 0;
    std::array<Atom, 4> targets{};  // uri-list, x-moz-url, _NETSCAPE_URL, text/plain
    std::array<Atom, kPropertyAtoms> properties{};
    X11ModifierMap modifiers;
    KeyCode escapeKey = 0;
    // Raw events carry physical button numbers; a left-handed map makes another one button 1.
    std::vector<unsigned char> buttonMap;
    // The keys held, followed from raw key events (server order, so exact at every button
    // event), and the core state bits each key code holds as a modifier.
    std::bitset<256> keysDown;
    std::array<unsigned int, 256> modifierBitsOfKey{};
    // The modifiers held when the left button was last let go; none while it is down.
    std::optional<unsigned int> stateAtRelease;

    std::unique_ptr<QSocketNotifier> notifier;
    QTimer readDeadline;
    std::function<void(Wake)> wake;
    bool processing = false;

    DragSessionTracker tracker;
    bool buttonDown = false;
    Time latestPointerTime = 0;  // time of the last raw motion or button event

    // Reading the files of the current drag.
    struct Request {
        Atom target = 0;
        Time time = 0;
        Atom property = 0;
    };
    std::int64_t readSession = -1;
    std::uint64_t sourceWindow = 0;  // the current drag's (see sourceWindowUnderPointer)
    Files files = Files::reading;
    DragPayload payload;
    std::vector<std::pair<int, Time>> plan;  // (target index, time) still to try
    std::optional<Request> outstanding;
    bool incrActive = false;
    std::string incrBuffer;
    unsigned requestCounter = 0;

    bool alive() const { return display && !connectionLost; }
    void processEvents();
    void handle(XEvent& event);
    void handleRaw(const XIRawEvent& raw, int evtype);
    void handleOwnerChange(const XFixesSelectionNotifyEvent& event);
    void handleSelectionNotify(const XSelectionEvent& event);
    void handlePropertyNotify(const XPropertyEvent& event);
    void loadInputMaps();
    void loadHeldKeys();
    // Takes a file drag already under way when we start listening (the button down, the drag
    // selection owned) for one that begins now. True when there was one.
    bool adoptDragUnderWay();
    Time serverTime();
    // The top-level window a drag that begins now began in: the window manager's client window
    // under the pointer, when it belongs to the program that owns the drag selection. 0 when
    // there is none (the pointer is over the desktop, or another program's window).
    Window sourceWindowUnderPointer();
    unsigned int heldModifierState() const;
    bool isLeftButton(int physical) const;
    void beginRead(std::int64_t session, Time selectionTime);
    void sendNextRequest();
    void finishRead(Files result, std::vector<std::filesystem::path> urls = {});
    void takeData(const std::string& data);
    // Wakes that input read in one go gives are told once it has all been read, so that a
    // sample then sees every event that came before it: a key let go and the button let go
    // after it, read together, are never taken for a release with the key held.
    std::vector<Wake> deferredWakes;
    void notify(Wake reason) {
        if (processing) {
            if (std::find(deferredWakes.begin(), deferredWakes.end(), reason) == deferredWakes.end())
                deferredWakes.push_back(reason);
            return;
        }
        if (wake) wake(reason);
    }
};

}  // namespace kolvex
