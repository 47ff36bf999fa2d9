// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <mutex>
#include <vector>

namespace kolvex {

// One report of a batch's progress.
struct BatchProgress {
    int completed = 0;    // jobs whose fraction has reached 1 (finished, successfully or not)
    int total = 1;        // jobs in the batch, at least 1
    double fraction = 0;  // the mean of all jobs' fractions, 0…1

    bool operator==(const BatchProgress&) const = default;
};

// Receives batch reports. Called from any thread (engine threads and the thread that runs
// the batch), never while a lock of the tracker is held. Must not throw.
using BatchProgressCallback = std::function<void(const BatchProgress&)>;

// Merges the per-job fractions of one batch into one overall fraction and throttles the
// reports: a report is made only when the overall fraction grew by more than 0.002 since the
// last one, plus one final report from finishAll(). Every member may be called from any thread.
class BatchProgressTracker {
public:
    BatchProgressTracker(int total, BatchProgressCallback report);

    // Records `fraction` for the job at `job` (0-based). A slot never decreases and never
    // exceeds 1; a position outside the batch or a fraction that is not a number changes nothing.
    void update(int job, double fraction);
    // Marks every job complete and reports (total, total, 1) unconditionally.
    void finishAll();

    static constexpr double kReportStep = 0.002;

private:
    void deliver(const BatchProgress& progress) const;

    std::mutex m_lock;              // guards m_fractions and m_lastReported
    std::vector<double> m_fractions;
    double m_lastReported = 0;
    const int m_total;
    const BatchProgressCallback m_report;
};

}  // namespace kolvex
