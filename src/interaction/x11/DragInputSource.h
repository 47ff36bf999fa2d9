// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "interaction/DragPayload.h"
#include "interaction/Geometry.h"
#include "interaction/ModifierFlags.h"

namespace kolvex {

// What the drag observer needs of the window system: a wake-up when input happens, the drag
// under way with what is known of its files, and one sample of keys, button and pointer.
// The X11 implementation is X11DragInputs; tests use a scripted fake.
// GUI thread only.
class DragInputSource {
public:
    // What a wake-up was caused by. A key change while a drag is followed is worth a sample
    // at once rather than at the next tick. `escape` is a key change too: Escape pressed,
    // wherever the keyboard focus is.
    enum class Wake { pointer, key, drag, escape };

    // How far reading the files of the drag under way has come.
    enum class Files {
        reading,  // asked the drag source, no answer yet
        known,    // the source named its files (the payload holds them)
        none,     // the source answered with data that names no file: not a file drag
        pending,  // the source does not answer us; its files arrive with the drop
    };

    struct Drag {
        std::int64_t sessionID = 0;  // identity of this drag
        Files files = Files::reading;
        DragPayload payload;  // the files when `files` is known
        // The top-level window the drag began in (an X window), 0 when not known.
        std::uint64_t sourceWindow = 0;
    };

    struct Sample {
        ModifierFlags modifiers = 0;
        bool leftButtonDown = false;
        // The X root window's pixels, y down, as the window system reports them. Only the
        // Portal's window knows the screens' scales that turn them into its own coordinates.
        Point pointer;
    };

    virtual ~DragInputSource() = default;

    // Connects to the window system and starts listening; `wake` is then called (never
    // from inside currentDrag() or sample()) whenever input happens. False when the window
    // system cannot be reached: nothing is ever reported then.
    virtual bool open(std::function<void(Wake)> wake) = 0;
    virtual void close() = 0;
    // The drag under way, starting to read its files when it is new; none when no drag is.
    virtual std::optional<Drag> currentDrag() = 0;
    // True when the latest drag was cancelled (Escape) rather than dropped.
    virtual bool lastDragCancelled() const = 0;
    virtual Sample sample() = 0;
    // The modifier keys held at the instant the left button was last let go (the instant the
    // user dropped), read from the input that has arrived so far. None while the button is
    // down, before its release has arrived, or when the window system cannot tell.
    virtual std::optional<ModifierFlags> modifiersAtRelease() { return std::nullopt; }
};

}  // namespace kolvex
