// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include <QObject>
#include <QPointer>

#include "ui/async/TaskRunner.h"

namespace kolvex {

// One piece of work run off the GUI thread, its result handed to the GUI thread. The value is
// the task's handle: stop() triggers the work's stop token and makes sure no result or failure
// is delivered afterwards. A default-made task is already stopped. GUI thread only.
class AsyncTask {
public:
    using Failed = std::function<void(const std::string& reason)>;

    AsyncTask() = default;

    // Runs `work` on `runner` and calls `done` with its value on the GUI thread — unless the
    // task was stopped, the runner stopped, or `owner` (when given) is gone by then. An
    // exception from `work` goes to `failed` (or, without one, to the log) the same way.
    template <typename T>
    static AsyncTask start(TaskRunner& runner, QObject* owner, std::function<T(std::stop_token)> work,
                           std::function<void(T)> done, Failed failed = {});

    // The same for work without a value.
    static AsyncTask run(TaskRunner& runner, QObject* owner, std::function<void(std::stop_token)> work,
                         std::function<void()> done = {}, Failed failed = {}) {
        return start<bool>(
            runner, owner,
            [work = std::move(work)](std::stop_token stop) {
                work(stop);
                return true;
            },
            [done = std::move(done)](bool) {
                if (done) done();
            },
            std::move(failed));
    }

    void stop() const {
        if (m_source) m_source->request_stop();
    }
    bool isStopped() const { return !m_source || m_source->stop_requested(); }

private:
    explicit AsyncTask(std::shared_ptr<std::stop_source> source) : m_source(std::move(source)) {}
    // The failure text of the exception being handled; logged when nobody listens.
    static std::string describeCurrentException();
    static void logUnheard(const std::string& reason);

    std::shared_ptr<std::stop_source> m_source;
};

template <typename T>
AsyncTask AsyncTask::start(TaskRunner& runner, QObject* owner, std::function<T(std::stop_token)> work,
                           std::function<void(T)> done, Failed failed) {
    auto source = std::make_shared<std::stop_source>();
    const bool guarded = owner != nullptr;
    QPointer<QObject> guard(owner);
    TaskRunner* poster = &runner;
    auto deliverable = [source, guarded, guard] { return !source->stop_requested() && (!guarded || guard); };
    runner.background([=, work = std::move(work), done = std::move(done), failed = std::move(failed)](
                          std::stop_token quitting) mutable {
        const std::stop_callback forward(quitting, [source] { source->request_stop(); });
        std::shared_ptr<T> value;
        std::string reason;
        try {
            value = std::make_shared<T>(work(source->get_token()));
        } catch (...) {
            reason = describeCurrentException();
        }
        // The callbacks always go back, so what they hold is let go of on the GUI thread.
        poster->post([deliverable, value, reason, done = std::move(done), failed = std::move(failed)] {
            if (!deliverable()) return;
            if (value) done(std::move(*value));
            else if (failed) failed(reason);
            else logUnheard(reason);
        });
    });
    return AsyncTask(std::move(source));
}

}  // namespace kolvex
