// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/PortalTriggerMachine.h"

namespace kolvex {

void PortalTriggerMachine::reset() {
    phase = Phase::idle;
    currentSession.reset();
}

PortalTriggerMachine::Action PortalTriggerMachine::apply(const Input& input) {
    if (currentSession && *currentSession != input.sessionID) {
        // A new drag began: whatever was showing belongs to the old one.
        const bool wasRevealed = phase == Phase::revealed;
        reset();
        if (wasRevealed) return Action::dismiss;
    }

    const bool dragging = input.hasFileDrag && input.mouseDown;
    switch (phase) {
    case Phase::idle:
        if (!dragging) return Action::none;
        currentSession = input.sessionID;
        if (!input.triggerHeld) {
            phase = Phase::watching;
            return Action::none;
        }
        phase = Phase::revealed;
        return Action::reveal;
    case Phase::watching:
        if (!dragging) {
            reset();
            return Action::none;
        }
        if (!input.triggerHeld) return Action::none;
        phase = Phase::revealed;
        return Action::reveal;
    case Phase::revealed:
        if (input.mouseDown && !input.triggerHeld) {
            phase = Phase::watching;
            return Action::dismiss;
        }
        if (input.mouseDown && input.hasFileDrag) return Action::track;
        reset();
        return Action::dismiss;
    }
    return Action::none;
}

}  // namespace kolvex
