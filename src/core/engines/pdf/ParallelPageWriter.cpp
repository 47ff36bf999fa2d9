// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/ParallelPageWriter.h"

#include <algorithm>

#include "core/engines/pdf/PageWorkers.h"
#include "core/services/MemoryBudget.h"

namespace kolvex {

ParallelPageWriter::ParallelPageWriter(Save save, int workers)
    : m_save(std::move(save)), m_capacity(static_cast<size_t>(std::max(workers, 1)) + 1) {
    const int count = std::max(workers, 1);
    m_workers.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) m_workers.emplace_back([this] { work(); });
}

namespace {

size_t bytesOf(int width, int height) {
    return static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0)) * 3;
}

// The bitmap bytes that every writer of the process holds together.
MemoryBudget& budget() {
    // Never destroyed: work still running as the process ends gives its share back here.
    static auto* const shared = new MemoryBudget(ParallelPageWriter::kMaxBytesInFlight);
    return *shared;
}

}  // namespace

ParallelPageWriter::~ParallelPageWriter() {
    size_t dropped = 0;
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        for (const Task& task : m_waiting) dropped += bytesOf(task);
        m_waiting.clear();
        dropped += m_reserved;
        m_reserved = 0;
    }
    release(dropped);
    m_changed.notify_all();
    m_workers.clear();  // joins
}

size_t ParallelPageWriter::bytesOf(const Task& task) { return kolvex::bytesOf(task.bitmap.width, task.bitmap.height); }

size_t ParallelPageWriter::bytesInFlight() { return budget().held(); }

void ParallelPageWriter::release(size_t bytes) { budget().give(bytes); }

int ParallelPageWriter::defaultWorkers() { return pageWorkers(); }

void ParallelPageWriter::rethrowFailure() {
    if (m_failure) std::rethrow_exception(m_failure);
}

void ParallelPageWriter::reserve(int width, int height, std::stop_token stop) {
    {
        std::lock_guard lock(m_mutex);
        rethrowFailure();
    }
    const size_t bytes = kolvex::bytesOf(width, height);
    // Only this writer's own thread reserves for it, so nothing else fills m_reserved meanwhile.
    budget().take(bytes, std::move(stop));
    std::lock_guard lock(m_mutex);
    m_reserved += bytes;
}

void ParallelPageWriter::submit(PageBitmap bitmap, std::filesystem::path destination) {
    const size_t bytes = kolvex::bytesOf(bitmap.width, bitmap.height);
    bool reserved = false;
    {
        std::lock_guard lock(m_mutex);
        reserved = m_reserved > 0;
    }
    if (!reserved) reserve(bitmap.width, bitmap.height);
    std::unique_lock lock(m_mutex);
    // What was reserved covers the page as rendered, whatever its exact size.
    const size_t reservedBytes = m_reserved;
    m_reserved = 0;
    if (bytes != reservedBytes) budget().resize(reservedBytes, bytes);
    m_changed.wait(lock, [&] { return m_failure || m_waiting.size() < m_capacity; });
    if (m_failure) {
        lock.unlock();
        release(bytes);
        lock.lock();
        rethrowFailure();
    }
    m_waiting.push_back({std::move(bitmap), std::move(destination), m_saved.size()});
    m_saved.emplace_back();
    lock.unlock();
    m_changed.notify_all();
}

std::vector<StagedOutput> ParallelPageWriter::finish() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_failure || (m_waiting.empty() && m_busy == 0); });
    rethrowFailure();
    std::vector<StagedOutput> saved;
    saved.reserve(m_saved.size());
    for (auto& output : m_saved) saved.push_back(std::move(*output));
    m_saved.clear();
    return saved;
}

void ParallelPageWriter::work() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_closing || !m_waiting.empty(); });
        if (m_waiting.empty()) return;  // closing
        Task task = std::move(m_waiting.front());
        m_waiting.pop_front();
        ++m_busy;
        lock.unlock();
        m_changed.notify_all();
        std::exception_ptr failure;
        std::optional<StagedOutput> saved;
        try {
            saved.emplace(m_save(task.bitmap, task.destination));
        } catch (...) {
            failure = std::current_exception();
        }
        size_t bytes = bytesOf(task);
        task.bitmap = {};  // the bitmap's memory goes back before the next page is taken
        lock.lock();
        --m_busy;
        if (saved) m_saved[task.position].emplace(std::move(*saved));
        if (failure && !m_failure) {
            m_failure = failure;
            for (const Task& dropped : m_waiting) bytes += bytesOf(dropped);
            m_waiting.clear();
        }
        lock.unlock();
        release(bytes);
        lock.lock();
        m_changed.notify_all();
    }
}

}  // namespace kolvex
