// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>

namespace kolvex {

// Decides from one sample of the input devices at a time when the Portal appears, follows
// the pointer and goes away. A pure value: no clock, no platform calls, no logging.
struct PortalTriggerMachine {
    enum class Phase { idle, watching, revealed };
    enum class Action { none, reveal, dismiss, track };

    struct Input {
        bool hasFileDrag = false;  // the current drag carries files (or may: a pending payload)
        bool triggerHeld = false;  // the held keys choose a Portal mode
        bool mouseDown = false;    // the left button is pressed
        std::int64_t sessionID = 0;  // identity of the drag; a new drag has a new one
        bool operator==(const Input&) const = default;
    };

    Phase phase = Phase::idle;
    std::optional<std::int64_t> currentSession;  // none whenever the phase is idle

    void reset();
    // Takes one sample, updates phase and session, and says what the Portal should do.
    Action apply(const Input& input);

    bool operator==(const PortalTriggerMachine&) const = default;
};

}  // namespace kolvex
