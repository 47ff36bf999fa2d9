// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversion/BatchProgress.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <numeric>

#include "core/services/Log.h"

namespace kolvex {

BatchProgressTracker::BatchProgressTracker(int total, BatchProgressCallback report)
    : m_fractions(static_cast<size_t>(std::max(total, 1)), 0.0), m_total(std::max(total, 1)), m_report(std::move(report)) {}

void BatchProgressTracker::update(int job, double fraction) {
    if (!m_report) return;
    BatchProgress progress;
    {
        std::lock_guard lock(m_lock);
        if (job < 0 || static_cast<size_t>(job) >= m_fractions.size()) return;
        double& slot = m_fractions[static_cast<size_t>(job)];
        if (!std::isnan(fraction)) slot = std::min(std::max(slot, fraction), 1.0);
        const double overall = std::accumulate(m_fractions.begin(), m_fractions.end(), 0.0) / m_total;
        if (!(overall > m_lastReported + kReportStep)) return;
        m_lastReported = overall;
        progress.completed = static_cast<int>(std::count_if(m_fractions.begin(), m_fractions.end(), [](double f) { return f >= 1; }));
        progress.total = m_total;
        progress.fraction = overall;
    }
    deliver(progress);
}

void BatchProgressTracker::finishAll() {
    if (!m_report) return;
    {
        std::lock_guard lock(m_lock);
        std::fill(m_fractions.begin(), m_fractions.end(), 1.0);
        m_lastReported = 1;
    }
    deliver({m_total, m_total, 1.0});
}

void BatchProgressTracker::deliver(const BatchProgress& progress) const {
    // A failing observer must not take the batch down with it.
    try {
        m_report(progress);
    } catch (const std::exception& error) {
        Log::conversion().error("Progress observer failed: {}", error.what());
    }
}

}  // namespace kolvex
