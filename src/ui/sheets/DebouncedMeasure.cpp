// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/DebouncedMeasure.h"

#include <utility>

#include "core/services/Log.h"

namespace kolvex {

DebouncedMeasure::DebouncedMeasure(QObject* owner, int milliseconds, std::function<void()> run)
    : m_owner(owner), m_run(std::move(run)) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(milliseconds);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { m_run(); });
}

DebouncedMeasure::~DebouncedMeasure() {
    cancel();
}

void DebouncedMeasure::schedule() {
    cancel();
    m_timer.start();
}

void DebouncedMeasure::cancel() {
    m_timer.stop();
    m_task.stop();
}

void DebouncedMeasure::shown() {
    if (m_shownOnce) return;
    m_shownOnce = true;
    m_run();
}

void DebouncedMeasure::start(std::function<Result(std::stop_token)> work, std::function<void(Result)> done) {
    m_task.stop();
    m_task = AsyncTask::start<Result>(
        *QtTaskRunner::shared(), m_owner,
        [work = std::move(work)](std::stop_token stop) {
            Log::app().info("Sheet measure started");
            return work(stop);
        },
        std::move(done));
}

}  // namespace kolvex
