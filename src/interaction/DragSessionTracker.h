// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>

namespace kolvex {

// Tells from the window system's event times whether a file drag is under way and which
// one. A drag begins when some program takes the drag selection; some toolkits keep owning
// it after their drag ended, so an ownership counts only when it is not older than the
// latest press of the left button and the button is still down. An Escape press cancels it.
//
// Times are the server's millisecond clock, which wraps every 49.7 days: compared modulo 2³².
// Not thread-safe; owned by one thread.
class DragSessionTracker {
public:
    using Time = std::uint32_t;

    struct Drag {
        Time selectionTime = 0;  // the owner's timestamp: the identity of the drag
        bool operator==(const Drag&) const = default;
    };

    void buttonPressed(Time time);
    // Escape pressed: the drag that is under way, if any, is cancelled.
    void escapePressed(Time time);
    // The drag selection changed hands. `eventTime` is when; `selectionTime` the timestamp
    // the new owner gave (its identity). No owner means the last drag released it.
    void ownerChanged(bool hasOwner, Time eventTime, Time selectionTime);

    // The drag under way given the button's current state; none when there is none.
    std::optional<Drag> currentDrag(bool buttonDown) const;
    // True when Escape was pressed after the latest drag began (even if its owner has let
    // the selection go since): that drag ended without a drop.
    bool cancelled() const;

    // a is the same as or later than b, on the wrapping clock.
    static bool notOlder(Time a, Time b) { return static_cast<std::int32_t>(a - b) >= 0; }

private:
    std::optional<Time> m_pressTime;
    std::optional<Time> m_escapeTime;
    bool m_hasOwner = false;
    std::optional<Time> m_latestTakeTime;  // when some owner last took the selection
    Time m_ownerEventTime = 0;
    Time m_selectionTime = 0;
};

}  // namespace kolvex
