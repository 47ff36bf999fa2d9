// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>

#include "ui/async/TaskRunner.h"

namespace kolvex::testing {

// A task runner that runs nothing until the test says so: background work runs on the test's
// own thread when drained, and so do the GUI calls it hands back.
class ManualTaskRunner final : public TaskRunner {
public:
    void background(std::function<void(std::stop_token)> work) override;
    void post(std::function<void()> fn) override;

    // Runs queued GUI calls (and what they queue) until none is left.
    void runPosted();
    // Runs every pending piece of work, each followed by the GUI calls it queued, until quiet.
    void runAll();
    // Runs the oldest piece of work only (and the GUI calls it queued).
    bool runOne();
    size_t pending() const;

private:
    mutable std::mutex m_mutex;
    std::deque<std::function<void()>> m_posted;
    std::deque<std::function<void(std::stop_token)>> m_work;
    std::stop_source m_stop;
};

}  // namespace kolvex::testing
