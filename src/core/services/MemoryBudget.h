// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <stop_token>

namespace kolvex {

// The working memory that pieces of work running at once (pictures being encoded, page bitmaps)
// may hold together. Each piece takes its estimated share before it allocates and gives it
// back when done; while the shares held would pass the limit, the next one waits. A share
// larger than the whole limit still goes, alone, once nothing else is held. So what a batch
// holds is bounded by its largest piece and the limit, not by how many run side by side.
//
// Thread-safe; take() blocks the calling thread.
class MemoryBudget {
public:
    explicit MemoryBudget(size_t limit);
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    // Waits until `bytes` fit beside the shares held (or nothing is held), then takes them.
    // Throws OperationCancelled, having taken nothing, when `stop` is requested while it waits.
    void take(size_t bytes, std::stop_token stop = {});
    // Gives back `bytes` taken earlier.
    void give(size_t bytes);
    // Turns a share of `from` bytes into one of `to` (a piece found larger or smaller than its
    // estimate); never waits.
    void resize(size_t from, size_t to);

    size_t held() const;
    size_t limit() const { return m_limit; }

    // A share taken for as long as the object lives.
    class Share {
    public:
        Share(MemoryBudget& budget, size_t bytes, std::stop_token stop = {});
        ~Share();
        Share(const Share&) = delete;
        Share& operator=(const Share&) = delete;

    private:
        MemoryBudget& m_budget;
        size_t m_bytes;
    };

private:
    const size_t m_limit;
    mutable std::mutex m_mutex;
    std::condition_variable_any m_changed;
    size_t m_held = 0;  // guarded by m_mutex
};

}  // namespace kolvex
