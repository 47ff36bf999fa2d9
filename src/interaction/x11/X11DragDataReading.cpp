// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/x11/X11DragInputsState.h"

namespace kolvex {

// Reading the files of the current drag from the drag selection.

void X11DragInputs::State::beginRead(std::int64_t session, Time selectionTime) {
    readSession = session;
    files = Files::reading;
    payload = DragPayload{};
    outstanding.reset();
    incrActive = false;
    incrBuffer.clear();
    plan.clear();
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
