// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/DragSessionTracker.h"

namespace kolvex {

void DragSessionTracker::buttonPressed(Time time) { m_pressTime = time; }

void DragSessionTracker::escapePressed(Time time) { m_escapeTime = time; }

void DragSessionTracker::ownerChanged(bool hasOwner, Time eventTime, Time selectionTime) {
    m_hasOwner = hasOwner;
    m_ownerEventTime = eventTime;
    m_selectionTime = selectionTime;
    if (hasOwner) m_latestTakeTime = eventTime;
}

bool DragSessionTracker::cancelled() const {
    return m_latestTakeTime && m_escapeTime && notOlder(*m_escapeTime, *m_latestTakeTime);
}

std::optional<DragSessionTracker::Drag> DragSessionTracker::currentDrag(bool buttonDown) const {
    if (!buttonDown || !m_hasOwner || !m_pressTime) return std::nullopt;
    // A browser stamps its ownership with the press time itself, hence "not older".
    if (!notOlder(m_ownerEventTime, *m_pressTime)) return std::nullopt;
    if (cancelled()) return std::nullopt;
    return Drag{m_selectionTime};
}

}  // namespace kolvex
