// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace kolvex {

// The user's cap on conversions running at once, shared by every request of one coordinator.
// A job of a request with a limit takes a slot before it starts and gives it back when it ends;
// jobs of requests without a limit never wait (and are not counted).
//
// Threads: any; acquire() blocks its caller until a slot is free or `stop` is requested.
class JobSlots {
public:
    // True with a slot taken; false when `stop` was requested first (no slot is held then).
    bool acquire(int limit, const std::stop_token& stop);
    void release();

    // The slot a job holds while it runs, given back on every path.
    class Held {
    public:
        Held(JobSlots& slots, int limit, const std::stop_token& stop);
        ~Held();
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
        // False when the wait ended by a stop request: the job must not run.
        bool taken() const { return m_taken; }

    private:
        JobSlots& m_slots;
        bool m_taken = false;
        bool m_counted = false;  // holds one of the counted slots
    };

private:
    std::mutex m_mutex;
    std::condition_variable_any m_freed;
    int m_running = 0;
};

}  // namespace kolvex
