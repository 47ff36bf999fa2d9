// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

#include <QObject>

#include "ui/async/TaskRunner.h"

namespace kolvex {

// A piece of the Portal's own work (a run, a timer chain) that can be asked to stop; whoever
// runs it checks after every wait. Copies share the one request.
struct PortalTask {
    std::shared_ptr<std::stop_source> stop = std::make_shared<std::stop_source>();
    void cancel() const { stop->request_stop(); }
    bool isCancelled() const { return stop->stop_requested(); }
};

// Where the Portal's timed and background work happens: a task runner (background work goes
// through AsyncTask on it) with a clock and timers. The model never sleeps and never blocks: it
// asks for a call later on the GUI thread, or for blocking work on a worker thread. Tests
// install a scheduler of their own whose clock they move by hand.
class PortalScheduler : public TaskRunner {
public:
    using Clock = std::chrono::steady_clock;  // continuous: unaffected by changes of the wall clock
    using Duration = std::chrono::nanoseconds;

    virtual ~PortalScheduler() = default;

    // GUI thread only.
    virtual Clock::time_point now() const = 0;
    // Calls `fn` on the GUI thread once `delay` has passed (at once-ish for 0). GUI thread only.
    virtual void after(Duration delay, std::function<void()> fn) = 0;
    // The runner that background work is handed to: it outlives the work, also when this
    // scheduler (and the model that owns it) is gone before the work ends.
    virtual TaskRunner& tasks() { return *this; }

    static Duration seconds(double s) {
        return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
    }
};

// The scheduler of the running application: Qt timers on the GUI thread, and the
// application's task runner for background work and queued calls (it stops the work when the
// application quits).
class QtPortalScheduler final : public PortalScheduler {
public:
    // GUI thread only.
    explicit QtPortalScheduler(std::shared_ptr<TaskRunner> runner = QtTaskRunner::shared());

    Clock::time_point now() const override { return Clock::now(); }
    void after(Duration delay, std::function<void()> fn) override;
    void post(std::function<void()> fn) override { m_runner->post(std::move(fn)); }
    void background(std::function<void(std::stop_token)> work) override { m_runner->background(std::move(work)); }
    TaskRunner& tasks() override { return *m_runner; }

private:
    std::shared_ptr<TaskRunner> m_runner;
    QObject m_context;  // lives on the GUI thread; timers go to it
};

}  // namespace kolvex
