#include "ui/portal/model/PortalScheduler.h"

#include <QMetaObject>
#include <QTimer>

namespace kolvex {

QtPortalScheduler::QtPortalScheduler() = default;

QtPortalScheduler::~QtPortalScheduler() {
    std::list<Worker> workers;
    {
        std::lock_guard lock(m_mutex);
        workers.swap(m_workers);
    }
    for (auto& worker : workers) worker.thread.request_stop();
    // jthread joins on destruction; posts made meanwhile go to m_context, which outlives this.
    workers.clear();
}

void QtPortalScheduler::after(Duration delay, std::function<void()> fn) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay);
    QTimer::singleShot(std::max<std::chrono::milliseconds>(ms, std::chrono::milliseconds(0)), Qt::PreciseTimer,
                       &m_context, std::move(fn));
}

void QtPortalScheduler::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(&m_context, std::move(fn), Qt::QueuedConnection);
}

void QtPortalScheduler::background(std::function<void(std::stop_token)> work) {
    reapFinished();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(m_mutex);
    m_workers.push_back(Worker{std::jthread([work = std::move(work), done](std::stop_token stop) {
                                   work(stop);
                                   done->store(true);
                               }),
                               done});
}

void QtPortalScheduler::reapFinished() {
    std::list<Worker> finished;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            if (it->done->load()) {
                auto next = std::next(it);
                finished.splice(finished.end(), m_workers, it);
                it = next;
            } else {
                ++it;
            }
        }
    }
    // Joined here, outside the lock; they have already returned.
}

}  // namespace kolvex
