// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/async/TaskRunner.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "core/services/Log.h"

namespace kolvex {

QtTaskRunner::~QtTaskRunner() {
    stop();
}

void QtTaskRunner::background(std::function<void(std::stop_token)> work) {
    reapFinished();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(m_mutex);
    if (m_stopped) {
        Log::app().info("Background work refused: the application is quitting");
        return;
    }
    m_workers.push_back(Worker{std::jthread([work = std::move(work), done](std::stop_token stop) {
                                   work(stop);
                                   done->store(true);
                               }),
                               done});
}

void QtTaskRunner::post(std::function<void()> fn) {
    // The application object lives as long as the event loop that would run the call.
    if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void QtTaskRunner::stop() {
    std::list<Worker> workers;
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        workers.swap(m_workers);
    }
    for (auto& worker : workers) worker.thread.request_stop();
    // Joined here, outside the lock: a worker's last act may be to hand over more work.
    workers.clear();
}

void QtTaskRunner::reapFinished() {
    std::list<Worker> finished;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            auto next = std::next(it);
            if (it->done->load()) finished.splice(finished.end(), m_workers, it);
            it = next;
        }
    }
}

std::shared_ptr<QtTaskRunner> QtTaskRunner::shared() {
    // Stopped when the application is about to quit and again when its object goes (a program
    // that never runs the event loop), so that the work is joined while everything it may touch
    // is still alive: this static's own destructor runs only after the statics made later than
    // it (the engines' shared budgets among them) have died.
    static const std::shared_ptr<QtTaskRunner> runner = [] {
        auto made = std::make_shared<QtTaskRunner>();
        if (auto* app = QCoreApplication::instance()) {
            std::weak_ptr<QtTaskRunner> weak = made;
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, [weak] {
                if (auto alive = weak.lock()) alive->stop();
            });
            qAddPostRoutine([] { QtTaskRunner::shared()->stop(); });
        }
        return made;
    }();
    return runner;
}

}  // namespace kolvex
