#include "core/engines/pdf/ParallelPageWriter.h"

#include <algorithm>

#include "core/engines/pdf/PageWorkers.h"

namespace kolvex {

ParallelPageWriter::ParallelPageWriter(Save save, int workers)
    : m_save(std::move(save)), m_capacity(static_cast<size_t>(std::max(workers, 1)) + 1) {
    const int count = std::max(workers, 1);
    m_workers.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) m_workers.emplace_back([this] { work(); });
}

ParallelPageWriter::~ParallelPageWriter() {
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        m_waiting.clear();
    }
    m_changed.notify_all();
    m_workers.clear();  // joins
}

int ParallelPageWriter::defaultWorkers() { return pageWorkers(); }

void ParallelPageWriter::rethrowFailure() {
    if (m_failure) std::rethrow_exception(m_failure);
}

namespace {

size_t bytesOf(const PageBitmap& bitmap) {
    return static_cast<size_t>(bitmap.width) * static_cast<size_t>(bitmap.height) * 3;
}

}  // namespace

void ParallelPageWriter::submit(PageBitmap bitmap, std::filesystem::path destination) {
    const size_t bytes = bytesOf(bitmap);
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] {
        const bool roomForBytes = m_bytesInFlight == 0 || m_bytesInFlight + bytes <= kMaxBytesInFlight;
        return m_failure || (m_waiting.size() < m_capacity && roomForBytes);
    });
    rethrowFailure();
    m_bytesInFlight += bytes;
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
        const size_t bytes = bytesOf(task.bitmap);
        task.bitmap = {};  // the bitmap's memory goes back before the next page is taken
        lock.lock();
        --m_busy;
        m_bytesInFlight -= bytes;
        if (saved) m_saved[task.position].emplace(std::move(*saved));
        if (failure && !m_failure) {
            m_failure = failure;
            m_waiting.clear();
        }
        m_changed.notify_all();
    }
}

}  // namespace kolvex
