// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/DebouncedMeasure.h"

#include <cmath>
#include <utility>

#include <QLayout>
#include <QPointer>
#include <QWidget>

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

namespace {

// Says in the log that the sheet holding `owner` shows a measurement, with its window's size in
// pixels once what the result changed is laid out.
void tellMeasured(QObject* owner) {
    auto* view = qobject_cast<QWidget*>(owner);
    if (!view) return;
    QWidget* window = view->window();
    if (window->layout()) window->layout()->activate();
    const double ratio = window->devicePixelRatioF();
    Log::app().info("Sheet measured: {} ({}x{})", window->windowTitle().toStdString(),
                    std::lround(window->width() * ratio), std::lround(window->height() * ratio));
}

}  // namespace

void DebouncedMeasure::start(std::function<Result(std::stop_token)> work, std::function<void(Result)> done) {
    m_task.stop();
    QPointer<QObject> owner(m_owner);
    m_task = AsyncTask::start<Result>(
        *QtTaskRunner::shared(), m_owner,
        [work = std::move(work)](std::stop_token stop) {
            Log::app().info("Sheet measure started");
            return work(stop);
        },
        [owner, done = std::move(done)](Result result) {
            done(std::move(result));
            // After the layout requests that the result posted.
            if (owner) QTimer::singleShot(0, owner.data(), [owner] { tellMeasured(owner.data()); });
        });
}

}  // namespace kolvex
