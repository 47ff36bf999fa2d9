// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "interaction/x11/DragInputSource.h"

namespace kolvex {

// The drag observer's view of an X11 session, on a connection of its own.
//
// XInput2 raw button, key and motion events on the root window arrive even while a drag
// source holds its grabs; they wake the observer. XFixes tells when a program takes the drag
// selection (XdndSelection): each drag has a new selection timestamp, its identity. The files
// are asked for asynchronously as text/uri-list (or, from browsers, text/x-moz-url,
// _NETSCAPE_URL, text/plain) and the answer is handled when it comes in; after kReadTimeout
// without one the drag's files are pending (they then arrive with the drop). Never blocks on
// a drag source, so a drag out of one of this process's own windows is answered by this same
// thread once it is back in its event loop.
//
// GUI thread only (a QSocketNotifier on the connection, a QTimer for the read timeout).
class X11DragInputs final : public DragInputSource {
public:
    static constexpr std::chrono::milliseconds kReadTimeout{100};

    // An empty display name means $DISPLAY. Tests on a loaded machine may wait longer for
    // a drag source's answer.
    explicit X11DragInputs(std::string displayName = {}, std::chrono::milliseconds readTimeout = kReadTimeout);
    ~X11DragInputs() override;
    X11DragInputs(const X11DragInputs&) = delete;
    X11DragInputs& operator=(const X11DragInputs&) = delete;

    bool open(std::function<void(Wake)> wake) override;
    void close() override;
    std::optional<Drag> currentDrag() override;
    bool lastDragCancelled() const override;
    Sample sample() override;
    std::optional<ModifierFlags> modifiersAtRelease() override;

private:
    struct State;
    std::unique_ptr<State> d;
};

}  // namespace kolvex
