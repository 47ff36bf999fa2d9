// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversion/JobSlots.h"

namespace kolvex {

bool JobSlots::acquire(int limit, const std::stop_token& stop) {
    std::unique_lock lock(m_mutex);
    // A limit lowered while jobs ran lets the running ones finish; new ones wait below it.
    if (!m_freed.wait(lock, stop, [&] { return m_running < limit; })) return false;
    ++m_running;
    return true;
}

void JobSlots::release() {
    {
        std::lock_guard lock(m_mutex);
        --m_running;
    }
    m_freed.notify_all();
}

JobSlots::Held::Held(JobSlots& slots, int limit, const std::stop_token& stop) : m_slots(slots) {
    m_counted = limit > 0 && m_slots.acquire(limit, stop);
    m_taken = limit <= 0 || m_counted;
}

JobSlots::Held::~Held() {
    if (m_counted) m_slots.release();
}

}  // namespace kolvex
