#pragma once

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include <QObject>

namespace kolvex {

// A piece of the Portal's own work (a run, a timer chain) that can be asked to stop; whoever
// runs it checks after every wait. Copies share the one request.
struct PortalTask {
    std::shared_ptr<std::stop_source> stop = std::make_shared<std::stop_source>();
    void cancel() const { stop->request_stop(); }
    bool isCancelled() const { return stop->stop_requested(); }
};

// Where the Portal model's timed and background work happens. The model never sleeps and
// never blocks: it asks for a call later on the GUI thread, or for blocking work on a worker
// thread. Tests install a scheduler of their own whose clock they move by hand.
class PortalScheduler {
public:
    using Clock = std::chrono::steady_clock;  // continuous: unaffected by changes of the wall clock
    using Duration = std::chrono::nanoseconds;

    virtual ~PortalScheduler() = default;

    // GUI thread only.
    virtual Clock::time_point now() const = 0;
    // Calls `fn` on the GUI thread once `delay` has passed (at once-ish for 0). GUI thread only.
    virtual void after(Duration delay, std::function<void()> fn) = 0;
    // Calls `fn` on the GUI thread in a later turn of its event loop. Any thread.
    virtual void post(std::function<void()> fn) = 0;
    // Runs `work` on a worker thread; it may block. GUI thread only. The token is triggered
    // when the scheduler goes away, so long work can stop early.
    virtual void background(std::function<void(std::stop_token)> work) = 0;

    static Duration seconds(double s) {
        return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
    }
};

// The scheduler of the running application: Qt timers and queued calls on the GUI thread,
// one thread per piece of background work. Destroying it asks the background work to stop
// and waits for it.
class QtPortalScheduler final : public PortalScheduler {
public:
    QtPortalScheduler();
    ~QtPortalScheduler() override;
    QtPortalScheduler(const QtPortalScheduler&) = delete;
    QtPortalScheduler& operator=(const QtPortalScheduler&) = delete;

    Clock::time_point now() const override { return Clock::now(); }
    void after(Duration delay, std::function<void()> fn) override;
    void post(std::function<void()> fn) override;
    void background(std::function<void(std::stop_token)> work) override;

private:
    void reapFinished();

    QObject m_context;  // lives on the GUI thread; queued calls go to it
    std::mutex m_mutex;  // guards m_workers
    struct Worker {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::list<Worker> m_workers;
};

}  // namespace kolvex
