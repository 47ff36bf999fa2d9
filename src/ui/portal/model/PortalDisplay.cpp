// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/PortalDisplay.h"

#include <chrono>

#include "core/services/Log.h"

namespace kolvex {

namespace {

const char* const kArrow = " \u2192 ";

}  // namespace

using Kind = PortalPhase::Kind;

PortalDisplay::PortalDisplay(PortalRuns& runs, Surroundings surroundings)
    : m_runs(runs), m_env(std::move(surroundings)) {}

PortalDisplay::~PortalDisplay() {
    if (m_collapseTask) m_collapseTask->cancel();
}

PortalMotion PortalDisplay::motion() const { return m_env.motion ? m_env.motion() : PortalMotion{}; }
bool PortalDisplay::reduceMotion() const { return m_env.reduceMotion && m_env.reduceMotion(); }
void PortalDisplay::finished() const {
    if (m_env.finished) m_env.finished();
}

void PortalDisplay::setPhase(PortalPhase phase, const Animation& animation) {
    if (!(phase == m_phase)) {
        m_heldOpen = false;
        if (m_showingDetails) setShowingDetails(false);
    }
    m_phase = std::move(phase);
    if (m_env.changed) m_env.changed(Field::phase, animation);
}

void PortalDisplay::setShowingDetails(bool showing) {
    m_showingDetails = showing;
    if (m_env.changed) m_env.changed(Field::showingDetails, Animation::none());
}

void PortalDisplay::setCollapsed(bool collapsed, double progress, const Animation& animation) {
    m_isCollapsed = collapsed;
    if (m_env.changed) m_env.changed(Field::isCollapsed, Animation::none());
    m_collapseProgress = progress;
    if (m_env.changed) m_env.changed(Field::collapseProgress, animation);
}

void PortalDisplay::showRun(const std::string& label) {
    setCollapsed(false, 0.0);
    setPhase(PortalPhase::converting(0));
    startProgress();
    scheduleCollapse(label);
}

void PortalDisplay::startProgress() {
    std::weak_ptr<bool> alive = m_alive;
    m_runs.startProgressDisplay(
        [this, alive]() -> std::optional<double> {
            if (alive.expired() || !m_phase.is(Kind::converting)) return std::nullopt;
            return m_phase.fraction;
        },
        [this, alive](double fraction) {
            if (alive.expired()) return;
            setPhase(PortalPhase::converting(fraction));
            if (m_isCollapsed && m_env.progressChanged) m_env.progressChanged(fraction, std::nullopt);
        });
}

void PortalDisplay::scheduleCollapse(const std::string& label) {
    if (m_collapseTask) m_collapseTask->cancel();
    const double delay = motion().collapseAfter;
    const std::string fileLabel = m_env.filesLabel ? m_env.filesLabel() : std::string();
    PortalTask task;
    m_collapseTask = task;
    std::weak_ptr<bool> alive = m_alive;
    m_env.scheduler->after(PortalScheduler::seconds(delay), [this, alive, task, delay, fileLabel, label] {
        if (alive.expired() || task.isCancelled()) return;
        if (!m_phase.is(Kind::converting)) return;
        Log::conversion().info("Conversion exceeded {:f}s; moving to the tray", delay);
        m_runs.markForegroundInTray();
        setCollapsed(true, 1.0,
                     reduceMotion() ? Animation::easeOut(0.14)
                                    : Animation::timingCurve(0.4, 0.0, 0.9, 0.4, motion().collapseDuration));
        if (m_env.collapsed) m_env.collapsed();
        if (m_env.progressChanged) {
            m_env.progressChanged(m_phase.fraction, fileLabel.empty() ? label : fileLabel + kArrow + label);
        }
    });
}

void PortalDisplay::stopShowingRun() {
    if (m_collapseTask) {
        m_collapseTask->cancel();
        m_collapseTask.reset();
    }
    setCollapsed(false, 0.0);
    reportToMenuBar();
}

void PortalDisplay::endCollapse() { stopShowingRun(); }

void PortalDisplay::reportToMenuBar() {
    if (!m_env.progressChanged) return;
    if (m_runs.empty()) {
        m_env.progressChanged(std::nullopt, std::nullopt);
        return;
    }
    const std::optional<double> progress =
        m_phase.is(Kind::converting) ? std::optional<double>(m_phase.fraction) : m_runs.aggregateProgress();
    m_env.progressChanged(progress, m_runs.oldestLabel());
}

void PortalDisplay::finishShownRun(const PortalTask& task, Clock::time_point started, const PortalPhase& outcome) {
    if (task.isCancelled()) return;
    std::weak_ptr<bool> alive = m_alive;
    const double from = m_phase.is(Kind::converting) ? m_phase.fraction : 1.0;
    // The job is over: the fill only finishes. Its Cancel stays: it closes the Portal (what
    // the job made or why it failed is told all the same).
    if (m_phase.is(Kind::converting) && !m_runs.foreground()) setPhase(PortalPhase::converting(from, true));
    const double remaining = motion().minimumProgressDisplay -
                             std::chrono::duration<double>(m_env.scheduler->now() - started).count();
    m_runs.finishProgressDisplay(
        task, from, remaining,
        // Someone cancelled, began a new gesture or started a newer run meanwhile: that owns
        // the phase now.
        [this, alive] { return !alive.expired() && m_phase.is(Kind::converting) && !m_runs.foreground(); },
        [this, alive](double fraction) {
            if (!alive.expired()) setPhase(PortalPhase::converting(fraction, true));
        },
        [this, alive, task, outcome] {
            if (!alive.expired()) showOutcome(task, outcome);
        });
}

void PortalDisplay::showOutcomeNow(const PortalPhase& outcome) {
    setPhase(PortalPhase::converting(1, true));
    showOutcome(PortalTask{}, outcome);
}

void PortalDisplay::showOutcome(const PortalTask& task, const PortalPhase& outcome) {
    reportToMenuBar();
    if (task.isCancelled() || !m_phase.is(Kind::converting) || m_runs.foreground()) return;
    if (m_isCollapsed) {
        endCollapse();
        setPhase(outcome);
        finished();
        return;
    }
    Log::interaction().info("OUTCOME {}", outcome.is(Kind::succeeded) ? "succeeded " + outcome.name
                                                                      : "failed " + outcome.message);
    const PortalMotion timing = motion();
    setPhase(outcome, reduceMotion() ? Animation::easeOut(0.14)
                                     : Animation::spring(timing.commitResponse, timing.commitDamping));
    const double linger = outcome.is(Kind::succeeded) ? timing.successLinger : timing.failureLinger;
    const auto ms = std::chrono::milliseconds(static_cast<long long>(linger * 1000));
    std::weak_ptr<bool> alive = m_alive;
    m_env.scheduler->after(ms, [this, alive, task, outcome] {
        if (alive.expired() || task.isCancelled()) return;
        // A new run or gesture that took the Portal meanwhile keeps it open.
        if (m_runs.foreground() || !(m_phase == outcome)) return;
        // Details being read keep the failure up until the user dismisses it or moves away.
        if (outcome.is(Kind::failed) && m_showingDetails) {
            m_heldOpen = true;
            Log::interaction().info("The failure stays up while its details are read");
            return;
        }
        finished();
    });
}

void PortalDisplay::pointerLeft() {
    if (!m_heldOpen) return;
    m_heldOpen = false;
    if (m_phase.is(Kind::failed)) finished();
}

}  // namespace kolvex
