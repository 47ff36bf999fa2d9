// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/x11/X11DragInputs.h"

#include "interaction/x11/X11DragInputsState.h"

namespace kolvex {

X11DragInputs::X11DragInputs(std::string displayName, std::chrono::milliseconds readTimeout)
    : d(std::make_unique<State>()) {
    d->displayName = std::move(displayName);
    d->readDeadline.setSingleShot(true);
    d->readDeadline.setInterval(readTimeout);
    QObject::connect(&d->readDeadline, &QTimer::timeout, [state = d.get()] {
        if (state->files != Files::reading) return;
        // The source does not answer us now (some answer only the window they drop on):
        // its files come with the drop. A late answer may still complete them.
        state->files = Files::pending;
        Log::interaction().debug("drag data request unanswered; files pending");
        state->notify(Wake::drag);
    });
}

X11DragInputs::~X11DragInputs() { close(); }

bool X11DragInputs::open(std::function<void(Wake)> wake) {
    if (d->display) return true;
    const char* name = d->displayName.empty() ? nullptr : d->displayName.c_str();
    d->display = XOpenDisplay(name);
    if (!d->display) {
        Log::interaction().warn("cannot open the X display {}", name ? name : "$DISPLAY");
        return false;
    }
    Display* dpy = d->display;
    X11ErrorGuard::attach(dpy);
    XSetIOErrorExitHandler(
        dpy, [](Display*, void* data) { static_cast<State*>(data)->connectionLost = true; }, d.get());

    int event = 0, error = 0;
    int major = 2, minor = 2;
    const bool hasXI = XQueryExtension(dpy, "XInputExtension", &d->xiOpcode, &event, &error) &&
                       XIQueryVersion(dpy, &major, &minor) == Success && (major > 2 || (major == 2 && minor >= 1));
    const bool hasFixes = XFixesQueryExtension(dpy, &d->fixesEventBase, &error);
    if (!hasXI || !hasFixes) {
        Log::interaction().warn("the X server lacks XInput 2.1 or XFixes");
        close();
        return false;
    }

    d->root = DefaultRootWindow(dpy);
    d->xdndSelection = XInternAtom(dpy, "XdndSelection", False);
    d->incr = XInternAtom(dpy, "INCR", False);
    const std::array<std::string_view, 4> types{drag_data::kUriList, drag_data::kMozUrl, drag_data::kNetscapeUrl,
                                                drag_data::kPlainText};
    for (std::size_t i = 0; i < types.size(); ++i) d->targets[i] = XInternAtom(dpy, std::string(types[i]).c_str(), False);
    for (int i = 0; i < kPropertyAtoms; ++i)
        d->properties[static_cast<std::size_t>(i)] = XInternAtom(dpy, ("KOLVEX_DRAG_DATA_" + std::to_string(i)).c_str(), False);

    // An unmapped window of our own receives the drag data.
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    d->requestor = XCreateWindow(dpy, d->root, -10, -10, 1, 1, 0, CopyFromParent, InputOnly, CopyFromParent,
                                 CWEventMask, &attributes);

    std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> mask{};
    XISetMask(mask.data(), XI_RawButtonPress);
    XISetMask(mask.data(), XI_RawButtonRelease);
    XISetMask(mask.data(), XI_RawKeyPress);
    XISetMask(mask.data(), XI_RawKeyRelease);
    XISetMask(mask.data(), XI_RawMotion);
    XIEventMask eventMask{XIAllMasterDevices, static_cast<int>(mask.size()), mask.data()};
    XISelectEvents(dpy, d->root, &eventMask, 1);

    XFixesSelectSelectionInput(dpy, d->root, d->xdndSelection,
                               XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
    d->loadInputMaps();
    d->loadHeldKeys();
    XSync(dpy, False);
    if (d->connectionLost) {
        close();
        return false;
    }

    const bool dragUnderWay = d->adoptDragUnderWay();
    d->wake = std::move(wake);
    d->notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(dpy), QSocketNotifier::Read);
    QObject::connect(d->notifier.get(), &QSocketNotifier::activated, [state = d.get()] { state->processEvents(); });
    d->processEvents();
    // Told once the caller is listening (never from inside open).
    if (dragUnderWay)
        QTimer::singleShot(0, d->notifier.get(), [state = d.get()] { state->notify(Wake::drag); });
    return true;
}

void X11DragInputs::close() {
    d->notifier.reset();
    d->readDeadline.stop();
    d->wake = nullptr;
    if (d->display) {
        Display* dpy = d->display;
        if (!d->connectionLost) {
            if (d->requestor) XDestroyWindow(dpy, d->requestor);
            XCloseDisplay(dpy);
        }
        // A lost connection is left as it is: Xlib must not be called on it again.
        X11ErrorGuard::detach(dpy);
    }
    d->display = nullptr;
    d->requestor = 0;
    d->outstanding.reset();
    d->readSession = -1;
}

std::optional<DragInputSource::Drag> X11DragInputs::currentDrag() {
    if (!d->alive()) return std::nullopt;
    const auto drag = d->tracker.currentDrag(d->buttonDown);
    if (!drag) return std::nullopt;
    const auto session = static_cast<std::int64_t>(drag->selectionTime);
    if (session != d->readSession) {
        d->sourceWindow = d->sourceWindowUnderPointer();
        d->beginRead(session, drag->selectionTime);
    }
    return Drag{session, d->files, d->payload, d->sourceWindow};
}

bool X11DragInputs::lastDragCancelled() const { return d->tracker.cancelled(); }

DragInputSource::Sample X11DragInputs::sample() {
    Sample sample;
    if (!d->alive()) return sample;
    Window rootReturn = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned int mask = 0;
    if (XQueryPointer(d->display, d->root, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask)) {
        sample.modifiers = d->modifiers.translate(mask);
        sample.leftButtonDown = (mask & Button1Mask) != 0;
        sample.pointer = Point{static_cast<double>(rootX), static_cast<double>(rootY)};
        d->buttonDown = sample.leftButtonDown;
    }
    // The reply may have brought events along that the socket notifier will not announce.
    if (d->notifier && XEventsQueued(d->display, QueuedAlready) > 0)
        QTimer::singleShot(0, d->notifier.get(), [state = d.get()] { state->processEvents(); });
    return sample;
}

std::optional<ModifierFlags> X11DragInputs::modifiersAtRelease() {
    if (!d->alive()) return std::nullopt;
    // A release on its way is already in our connection's queue when a drop arrives: the
    // server sends it to us before the drag source even hears of it.
    d->processEvents();
    if (!d->alive() || !d->stateAtRelease) return std::nullopt;
    return d->modifiers.translate(*d->stateAtRelease);
}

bool X11DragInputs::State::adoptDragUnderWay() {
    const Window current = XGetSelectionOwner(display, xdndSelection);
    Window rootReturn = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned int mask = 0;
    if (current == 0 || !XQueryPointer(display, root, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask) ||
        (mask & Button1Mask) == 0)
        return false;
    // A drag begun before we listened: its press and its taking of the selection were never
    // seen. It counts as a drag that begins now, stamped with the server's time now (a source
    // answers a request stamped later than its taking).
    const Time now = serverTime();
    buttonDown = true;
    latestPointerTime = now;
    tracker.buttonPressed(static_cast<DragSessionTracker::Time>(now));
    tracker.ownerChanged(true, static_cast<DragSessionTracker::Time>(now), static_cast<DragSessionTracker::Time>(now));
    Log::interaction().info("a drag was under way before the observer started");
    return true;
}

Time X11DragInputs::State::serverTime() {
    // A property change on our own window comes back with the server's time.
    const Atom stamp = properties[0];
    XChangeProperty(display, requestor, stamp, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent event;
    XIfEvent(
        display, &event,
        [](Display*, XEvent* e, XPointer arg) -> Bool {
            const auto* state = reinterpret_cast<const State*>(arg);
            return e->type == PropertyNotify && e->xproperty.window == state->requestor &&
                   e->xproperty.atom == state->properties[0];
        },
        reinterpret_cast<XPointer>(this));
    return event.xproperty.time;
}

// ---- events

void X11DragInputs::State::processEvents() {
    if (processing || !alive()) return;
    processing = true;
    while (alive() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        handle(event);
    }
    processing = false;
    if (connectionLost) {
        Log::interaction().error("lost the connection to the X display");
        notifier.reset();
    }
    std::vector<Wake> wakes;
    wakes.swap(deferredWakes);
    for (const Wake reason : wakes) notify(reason);
}

void X11DragInputs::State::handle(XEvent& event) {
    if (event.type == GenericEvent && event.xcookie.extension == xiOpcode) {
        if (XGetEventData(display, &event.xcookie)) {
            handleRaw(*static_cast<const XIRawEvent*>(event.xcookie.data), event.xcookie.evtype);
            XFreeEventData(display, &event.xcookie);
        }
        return;
    }
    if (event.type == fixesEventBase + XFixesSelectionNotify) {
        handleOwnerChange(*reinterpret_cast<const XFixesSelectionNotifyEvent*>(&event));
        return;
    }
    switch (event.type) {
    case SelectionNotify: handleSelectionNotify(event.xselection); break;
    case PropertyNotify: handlePropertyNotify(event.xproperty); break;
    case MappingNotify:
        XRefreshKeyboardMapping(&event.xmapping);
        loadInputMaps();
        break;
    default: break;
    }
}

void X11DragInputs::State::handleRaw(const XIRawEvent& raw, int evtype) {
    Wake reason = Wake::pointer;
    switch (evtype) {
    case XI_RawButtonPress:
        latestPointerTime = raw.time;
        if (isLeftButton(raw.detail)) {
            buttonDown = true;
            stateAtRelease.reset();
            tracker.buttonPressed(static_cast<DragSessionTracker::Time>(raw.time));
        }
        break;
    case XI_RawButtonRelease:
        latestPointerTime = raw.time;
        if (isLeftButton(raw.detail)) {
            buttonDown = false;
            stateAtRelease = heldModifierState();
        }
        break;
    case XI_RawMotion: latestPointerTime = raw.time; break;
    case XI_RawKeyPress:
        reason = Wake::key;
        if (raw.detail >= 0 && raw.detail < 256) keysDown.set(static_cast<std::size_t>(raw.detail));
        if (escapeKey != 0 && raw.detail == escapeKey) {
            tracker.escapePressed(static_cast<DragSessionTracker::Time>(raw.time));
            reason = Wake::escape;
        }
        break;
    case XI_RawKeyRelease:
        reason = Wake::key;
        if (raw.detail >= 0 && raw.detail < 256) keysDown.reset(static_cast<std::size_t>(raw.detail));
        break;
    default: return;
    }
    notify(reason);
}

void X11DragInputs::State::handleOwnerChange(const XFixesSelectionNotifyEvent& event) {
    if (event.selection != xdndSelection) return;
    const bool hasOwner = event.subtype == XFixesSetSelectionOwnerNotify && event.owner != 0;
    tracker.ownerChanged(hasOwner, static_cast<DragSessionTracker::Time>(event.timestamp),
                         static_cast<DragSessionTracker::Time>(event.selection_timestamp));
    notify(Wake::drag);
}

bool X11DragInputs::State::isLeftButton(int physical) const {
    if (physical < 1) return false;
    const auto index = static_cast<std::size_t>(physical - 1);
    return index < buttonMap.size() ? buttonMap[index] == 1 : physical == 1;
}

void X11DragInputs::State::loadInputMaps() {
    escapeKey = XKeysymToKeycode(display, XK_Escape);
    std::array<unsigned char, 256> buttons{};
    const int count = XGetPointerMapping(display, buttons.data(), static_cast<int>(buttons.size()));
    buttonMap.assign(buttons.begin(), buttons.begin() + std::clamp(count, 0, static_cast<int>(buttons.size())));
    XModifierKeymap* map = XGetModifierMapping(display);
    if (!map) return;
    std::array<std::vector<std::uint32_t>, 8> symbols;
    modifierBitsOfKey.fill(0);
    for (int index = 0; index < 8; ++index) {
        for (int k = 0; k < map->max_keypermod; ++k) {
            const KeyCode code = map->modifiermap[index * map->max_keypermod + k];
            if (code == 0) continue;
            // Caps Lock's bit is a latched state, not a key held with the button.
            if (index != LockMapIndex) modifierBitsOfKey[code] |= 1u << index;
            for (int level = 0; level < 4; ++level) {
                const KeySym sym = XkbKeycodeToKeysym(display, code, 0, level);
                if (sym != NoSymbol) symbols[static_cast<std::size_t>(index)].push_back(static_cast<std::uint32_t>(sym));
            }
        }
    }
    XFreeModifiermap(map);
    modifiers = X11ModifierMap::fromKeysyms(symbols);
}

void X11DragInputs::State::loadHeldKeys() {
    std::array<char, 32> keys{};
    XQueryKeymap(display, keys.data());
    keysDown.reset();
    for (std::size_t code = 0; code < 256; ++code) {
        if (keys[code / 8] & (1 << (code % 8))) keysDown.set(code);
    }
}

unsigned int X11DragInputs::State::heldModifierState() const {
    unsigned int state = 0;
    for (std::size_t code = 0; code < keysDown.size(); ++code) {
        if (keysDown.test(code)) state |= modifierBitsOfKey[code];
    }
    return state;
}

}  // namespace kolvex
