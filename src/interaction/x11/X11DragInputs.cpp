#include "interaction/x11/X11DragInputs.h"

#include <unistd.h>

#include <algorithm>
#include <array>
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
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xfixes.h>
#include <X11/keysym.h>

#include "interaction/x11/X11ErrorGuard.h"

namespace kolvex {

namespace {

// The biggest drag data we take; file lists are far smaller, and a source that streams more
// is not handing us files.
constexpr std::size_t kMaxDataBytes = 16 * 1024 * 1024;
constexpr int kPropertyAtoms = 4;

}  // namespace

struct X11DragInputs::State {
    std::string displayName;
    Display* display = nullptr;
    bool connectionLost = false;
    Window root = 0;
    Window requestor = 0;
    int xiOpcode = 0;
    int fixesEventBase = 0;
    bool hasXRes = false;
    Atom xdndSelection = 0;
    Atom incr = 0;
    std::array<Atom, 4> targets{};  // uri-list, x-moz-url, _NETSCAPE_URL, text/plain
    std::array<Atom, kPropertyAtoms> properties{};
    X11ModifierMap modifiers;
    KeyCode escapeKey = 0;
    // Raw events carry physical button numbers; a left-handed map makes another one button 1.
    std::vector<unsigned char> buttonMap;
    double rootHeight = 0;

    std::unique_ptr<QSocketNotifier> notifier;
    QTimer readDeadline;
    std::function<void(Wake)> wake;
    bool processing = false;

    DragSessionTracker tracker;
    bool buttonDown = false;
    Time latestPointerTime = 0;  // time of the last raw motion or button event
    Window owner = 0;

    // Reading the files of the current drag.
    struct Request {
        Atom target = 0;
        Time time = 0;
        Atom property = 0;
    };
    std::int64_t readSession = -1;
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
    bool isLeftButton(int physical) const;
    void beginRead(std::int64_t session, Time selectionTime);
    bool ownedByThisProcess(Window window);
    void sendNextRequest();
    void finishRead(Files result, std::vector<std::filesystem::path> urls = {});
    void takeData(const std::string& data);
    void notify(Wake reason) {
        if (wake) wake(reason);
    }
};

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
    int resEvent = 0, resError = 0;
    d->hasXRes = XResQueryExtension(dpy, &resEvent, &resError);

    d->root = DefaultRootWindow(dpy);
    d->rootHeight = DisplayHeight(dpy, DefaultScreen(dpy));
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
    XSelectInput(dpy, d->root, StructureNotifyMask);

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
    XSync(dpy, False);
    if (d->connectionLost) {
        close();
        return false;
    }

    d->wake = std::move(wake);
    d->notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(dpy), QSocketNotifier::Read);
    QObject::connect(d->notifier.get(), &QSocketNotifier::activated, [state = d.get()] { state->processEvents(); });
    d->processEvents();
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
    if (session != d->readSession) d->beginRead(session, drag->selectionTime);
    return Drag{session, d->files, d->payload};
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
        sample.pointer = upwardFromTopDown(rootX, rootY, d->rootHeight);
        d->buttonDown = sample.leftButtonDown;
    }
    // The reply may have brought events along that the socket notifier will not announce.
    if (d->notifier && XEventsQueued(d->display, QueuedAlready) > 0)
        QTimer::singleShot(0, d->notifier.get(), [state = d.get()] { state->processEvents(); });
    return sample;
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
    case ConfigureNotify:
        if (event.xconfigure.window == root) rootHeight = event.xconfigure.height;
        break;
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
            tracker.buttonPressed(static_cast<DragSessionTracker::Time>(raw.time));
        }
        break;
    case XI_RawButtonRelease:
        latestPointerTime = raw.time;
        if (isLeftButton(raw.detail)) buttonDown = false;
        break;
    case XI_RawMotion: latestPointerTime = raw.time; break;
    case XI_RawKeyPress:
        if (escapeKey != 0 && raw.detail == escapeKey) tracker.escapePressed(static_cast<DragSessionTracker::Time>(raw.time));
        reason = Wake::key;
        break;
    case XI_RawKeyRelease: reason = Wake::key; break;
    default: return;
    }
    notify(reason);
}

void X11DragInputs::State::handleOwnerChange(const XFixesSelectionNotifyEvent& event) {
    if (event.selection != xdndSelection) return;
    const bool hasOwner = event.subtype == XFixesSetSelectionOwnerNotify && event.owner != 0;
    owner = hasOwner ? event.owner : 0;
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
    for (int index = 0; index < 8; ++index) {
        for (int k = 0; k < map->max_keypermod; ++k) {
            const KeyCode code = map->modifiermap[index * map->max_keypermod + k];
            if (code == 0) continue;
            for (int level = 0; level < 4; ++level) {
                const KeySym sym = XkbKeycodeToKeysym(display, code, 0, level);
                if (sym != NoSymbol) symbols[static_cast<std::size_t>(index)].push_back(static_cast<std::uint32_t>(sym));
            }
        }
    }
    XFreeModifiermap(map);
    modifiers = X11ModifierMap::fromKeysyms(symbols);
}

// ---- reading the drag data

bool X11DragInputs::State::ownedByThisProcess(Window window) {
    if (!hasXRes || window == 0) return false;
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

void X11DragInputs::State::beginRead(std::int64_t session, Time selectionTime) {
    readSession = session;
    files = Files::reading;
    payload = DragPayload{};
    outstanding.reset();
    incrActive = false;
    incrBuffer.clear();
    plan.clear();
    if (ownedByThisProcess(owner)) {
        // Asking ourselves would be answered, if at all, by our own GUI thread; our own
        // windows take dropped files directly.
        files = Files::pending;
        return;
    }
    // Some toolkits answer only a request stamped with the time they took the selection,
    // others only one stamped with the time of their latest pointer event.
    for (int target = 0; target < 4; ++target) {
        plan.emplace_back(target, selectionTime);
        plan.emplace_back(target, 0);  // 0: the latest pointer time when the request is sent
    }
    readDeadline.start();
    sendNextRequest();
}

void X11DragInputs::State::sendNextRequest() {
    while (!plan.empty()) {
        auto [target, time] = plan.front();
        plan.erase(plan.begin());
        if (time == 0) {
            time = latestPointerTime;
            // The same stamp as the attempt just refused would be refused again.
            if (outstanding && outstanding->time == time && outstanding->target == targets[static_cast<std::size_t>(target)])
                continue;
        }
        Request request{targets[static_cast<std::size_t>(target)], time,
                        properties[requestCounter++ % kPropertyAtoms]};
        XDeleteProperty(display, requestor, request.property);
        XConvertSelection(display, xdndSelection, request.target, request.property, requestor, request.time);
        XFlush(display);
        outstanding = request;
        return;
    }
    // Every kind of data was refused: the source will hand its files only to its drop target.
    outstanding.reset();
    finishRead(Files::pending);
}

void X11DragInputs::State::finishRead(Files result, std::vector<std::filesystem::path> urls) {
    readDeadline.stop();
    plan.clear();
    outstanding.reset();
    incrActive = false;
    incrBuffer.clear();
    const Files before = files;
    files = result;
    payload = result == Files::known ? DragPayload(std::move(urls)) : DragPayload{};
    if (result == Files::pending && before == Files::pending) return;
    notify(Wake::drag);
}

void X11DragInputs::State::takeData(const std::string& data) {
    if (data.find_first_not_of(std::string_view(" \t\r\n\0", 5)) == std::string::npos) {
        // An empty answer says nothing about the drag: ask the next way.
        sendNextRequest();
        return;
    }
    const Atom target = outstanding ? outstanding->target : 0;
    char* name = XGetAtomName(display, target);
    const std::string type = name ? name : "";
    if (name) XFree(name);
    Log::interaction().debug("drag data: {} bytes of {} stamped {}", data.size(), type, outstanding ? outstanding->time : 0);
    auto urls = drag_data::filesFrom(type, data);
    if (urls.empty()) {
        finishRead(Files::none);
    } else {
        finishRead(Files::known, std::move(urls));
    }
}

void X11DragInputs::State::handleSelectionNotify(const XSelectionEvent& event) {
    if (event.requestor != requestor || event.selection != xdndSelection || !outstanding) return;
    if (event.property == 0) {
        // Refused. Only the answer to our latest request moves us on; an older one is stale.
        // (Some owners leave the time out of a refusal.)
        if (event.target != outstanding->target || (event.time != outstanding->time && event.time != CurrentTime))
            return;
        Log::interaction().debug("drag data refused, stamped {}", outstanding->time);
        sendNextRequest();
        return;
    }
    if (event.property != outstanding->property) return;  // the answer to a request given up on

    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* bytes = nullptr;
    if (XGetWindowProperty(display, requestor, event.property, 0, kMaxDataBytes / 4, True, AnyPropertyType, &type,
                           &format, &count, &remaining, &bytes) != Success) {
        sendNextRequest();
        return;
    }
    const std::size_t length = bytes ? count * static_cast<std::size_t>(format / 8) : 0;
    std::string data(reinterpret_cast<const char*>(bytes), bytes ? length : 0);
    if (bytes) XFree(bytes);

    if (type == incr) {
        // Large data comes in pieces, each announced by a new value of the property.
        incrActive = true;
        incrBuffer.clear();
        return;
    }
    if (remaining > 0) {
        finishRead(Files::pending);  // more than we ever take
        return;
    }
    takeData(data);
}

void X11DragInputs::State::handlePropertyNotify(const XPropertyEvent& event) {
    if (!incrActive || !outstanding || event.window != requestor || event.atom != outstanding->property ||
        event.state != PropertyNewValue)
        return;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* bytes = nullptr;
    if (XGetWindowProperty(display, requestor, event.atom, 0, kMaxDataBytes / 4, True, AnyPropertyType, &type, &format,
                           &count, &remaining, &bytes) != Success) {
        finishRead(Files::pending);
        return;
    }
    const std::size_t length = bytes ? count * static_cast<std::size_t>(format / 8) : 0;
    if (bytes) {
        incrBuffer.append(reinterpret_cast<const char*>(bytes), length);
        XFree(bytes);
    }
    if (incrBuffer.size() > kMaxDataBytes || remaining > 0) {
        finishRead(Files::pending);
        return;
    }
    if (length == 0) {
        // The empty piece ends the transfer.
        const std::string data = std::move(incrBuffer);
        incrActive = false;
        takeData(data);
    }
}

}  // namespace kolvex
