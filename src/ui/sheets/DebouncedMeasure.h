// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

#include <QObject>
#include <QTimer>

#include "ui/async/AsyncTask.h"

namespace kolvex {

// The debounced background measurement a sheet shows beside its controls: `schedule` asks for a
// measurement once the delay has passed without another change, `shown` measures at once the
// first time the sheet appears, and `start` runs one measurement on a worker thread, stopping the
// one before it. A stopped measurement never reports; everything is stopped on `cancel` and on
// destruction. GUI thread only.
class DebouncedMeasure {
public:
    using Result = std::optional<int64_t>;

    // `run` is called when a measurement is due; it normally calls `start`. Results reach the
    // caller only while `owner` lives.
    DebouncedMeasure(QObject* owner, int milliseconds, std::function<void()> run);
    ~DebouncedMeasure();
    DebouncedMeasure(const DebouncedMeasure&) = delete;
    DebouncedMeasure& operator=(const DebouncedMeasure&) = delete;

    void setDelay(int milliseconds) { m_timer.setInterval(milliseconds); }
    // Restarts the delay, stopping any measurement under way.
    void schedule();
    // Stops the pending delay and any measurement under way.
    void cancel();
    // Measures at once the first time it is called.
    void shown();
    // Stops the measurement under way and runs `work` on a worker thread; `done` gets its result
    // on the GUI thread unless stopped first.
    void start(std::function<Result(std::stop_token)> work, std::function<void(Result)> done);

private:
    QObject* m_owner;
    std::function<void()> m_run;
    bool m_shownOnce = false;
    QTimer m_timer;
    AsyncTask m_task;
};

}  // namespace kolvex
