// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/MemoryBudget.h"

#include "core/services/Cancellation.h"

namespace kolvex {

MemoryBudget::MemoryBudget(size_t limit) : m_limit(limit) {}

void MemoryBudget::take(size_t bytes, std::stop_token stop) {
    std::unique_lock lock(m_mutex);
    const bool fits = m_changed.wait(lock, stop, [&] { return m_held == 0 || m_held + bytes <= m_limit; });
    if (!fits) throw OperationCancelled();
    m_held += bytes;
}

void MemoryBudget::give(size_t bytes) {
    if (bytes == 0) return;
    {
        std::lock_guard lock(m_mutex);
        m_held -= bytes;
    }
    m_changed.notify_all();
}

void MemoryBudget::resize(size_t from, size_t to) {
    {
        std::lock_guard lock(m_mutex);
        m_held = m_held - from + to;
    }
    if (to < from) m_changed.notify_all();
}

size_t MemoryBudget::held() const {
    std::lock_guard lock(m_mutex);
    return m_held;
}

MemoryBudget::Share::Share(MemoryBudget& budget, size_t bytes, std::stop_token stop)
    : m_budget(budget), m_bytes(bytes) {
    m_budget.take(m_bytes, std::move(stop));
}

MemoryBudget::Share::~Share() { m_budget.give(m_bytes); }

}  // namespace kolvex
