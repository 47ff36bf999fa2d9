// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

namespace kolvex {

// Where background work runs and how a result gets back to the GUI thread. The application
// runs on QtTaskRunner; tests install a runner of their own that runs the work when they say.
// Callers go through AsyncTask rather than calling a runner directly.
class TaskRunner {
public:
    virtual ~TaskRunner() = default;

    // Runs `work` on a worker thread; it may block. Any thread. The token is triggered when the
    // runner stops (the application quits), so long work ends early.
    virtual void background(std::function<void(std::stop_token)> work) = 0;
    // Calls `fn` on the GUI thread in a later turn of its event loop. Any thread.
    virtual void post(std::function<void()> fn) = 0;
};

// The runner of the running application: one thread per piece of work, queued calls to the
// application object. stop() (and the destructor) asks every piece of work to stop and waits
// for it; work handed over after stop() is refused.
class QtTaskRunner final : public TaskRunner {
public:
    QtTaskRunner() = default;
    ~QtTaskRunner() override;
    QtTaskRunner(const QtTaskRunner&) = delete;
    QtTaskRunner& operator=(const QtTaskRunner&) = delete;

    void background(std::function<void(std::stop_token)> work) override;
    void post(std::function<void()> fn) override;
    // Asks all work to stop and waits for it. GUI thread only.
    void stop();

    // The application's runner; it stops when the application is about to quit or its object
    // is destroyed. A program that ends otherwise (a test program) stops it before main
    // returns. GUI thread only (first call).
    static std::shared_ptr<QtTaskRunner> shared();

private:
    struct Worker {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void reapFinished();

    std::mutex m_mutex;  // guards m_workers and m_stopped
    std::list<Worker> m_workers;
    bool m_stopped = false;
};

}  // namespace kolvex
