// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/PortalDisplay.h"

#include <chrono>

#include <QPointer>

#include "core/services/Log.h"
#include "ui/portal/model/PortalModel.h"

namespace kolvex {

namespace {

const char* const kArrow = " \u2192 ";

}  // namespace

using Field = PortalModel::Field;
using Kind = PortalPhase::Kind;

PortalDisplay::~PortalDisplay() {
    if (m_collapseTask) m_collapseTask->cancel();
}

void PortalDisplay::phaseChanging() { m_heldOpen = false; }

void PortalDisplay::showRun(const std::string& label) {
    m.publish(m.m_isCollapsed, false, Field::isCollapsed);
    m.publish(m.m_collapseProgress, 0.0, Field::collapseProgress);
    m.setPhase(PortalPhase::converting(0));
    startProgress();
    scheduleCollapse(label);
}

void PortalDisplay::startProgress() {
    QPointer<PortalModel> weak(&m);
    m.m_flow.runs().startProgressDisplay(
        [weak]() -> std::optional<double> {
            if (!weak || !weak->m_phase.is(Kind::converting)) return std::nullopt;
            return weak->m_phase.fraction;
        },
        [weak](double fraction) {
            if (!weak) return;
            weak->setPhase(PortalPhase::converting(fraction));
            if (weak->m_isCollapsed && weak->onProgressChanged) weak->onProgressChanged(fraction, std::nullopt);
        });
}

void PortalDisplay::scheduleCollapse(const std::string& label) {
    if (m_collapseTask) m_collapseTask->cancel();
    const double delay = m.m_motion.collapseAfter;
    const std::string fileLabel = m.m_payload ? m.m_payload->label() : std::string();
    PortalTask task;
    m_collapseTask = task;
    QPointer<PortalModel> weak(&m);
    m.m_env.scheduler->after(PortalScheduler::seconds(delay), [weak, task, delay, fileLabel, label] {
        if (!weak || task.isCancelled()) return;
        PortalModel& model = *weak;
        if (!model.m_phase.is(Kind::converting)) return;
        Log::conversion().info("Conversion exceeded {:f}s; moving to the tray", delay);
        model.m_flow.runs().markForegroundInTray();
        model.publish(model.m_isCollapsed, true, Field::isCollapsed);
        model.publish(model.m_collapseProgress, 1.0, Field::collapseProgress,
                      model.reduceMotion()
                          ? Animation::easeOut(0.14)
                          : Animation::timingCurve(0.4, 0.0, 0.9, 0.4, model.m_motion.collapseDuration));
        if (model.onCollapse) model.onCollapse();
        if (model.onProgressChanged) {
            model.onProgressChanged(model.m_phase.fraction, fileLabel.empty() ? label : fileLabel + kArrow + label);
        }
    });
}

void PortalDisplay::stopShowingRun() {
    if (m_collapseTask) {
        m_collapseTask->cancel();
        m_collapseTask.reset();
    }
    m.publish(m.m_isCollapsed, false, Field::isCollapsed);
    m.publish(m.m_collapseProgress, 0.0, Field::collapseProgress);
    reportToMenuBar();
}

void PortalDisplay::endCollapse() { stopShowingRun(); }

void PortalDisplay::reportToMenuBar() {
    if (!m.onProgressChanged) return;
    const PortalRuns& runs = m.m_flow.runs();
    if (runs.empty()) {
        m.onProgressChanged(std::nullopt, std::nullopt);
        return;
    }
    const std::optional<double> progress =
        m.m_phase.is(Kind::converting) ? std::optional<double>(m.m_phase.fraction) : runs.aggregateProgress();
    m.onProgressChanged(progress, runs.oldestLabel());
}

void PortalDisplay::finishShownRun(const PortalTask& task, Clock::time_point started, const PortalPhase& outcome) {
    if (task.isCancelled()) return;
    QPointer<PortalModel> weak(&m);
    const double from = m.m_phase.is(Kind::converting) ? m.m_phase.fraction : 1.0;
    // The job is over: the fill only finishes. Its Cancel stays: it closes the Portal (what
    // the job made or why it failed is told all the same).
    PortalRuns& runs = m.m_flow.runs();
    if (m.m_phase.is(Kind::converting) && !runs.foreground()) m.setPhase(PortalPhase::converting(from, true));
    const double remaining = m.m_motion.minimumProgressDisplay -
                             std::chrono::duration<double>(m.m_env.scheduler->now() - started).count();
    runs.finishProgressDisplay(
        task, from, remaining,
        // Someone cancelled, began a new gesture or started a newer run meanwhile: that owns
        // the phase now.
        [weak] { return weak && weak->m_phase.is(Kind::converting) && !weak->m_flow.runs().foreground(); },
        [weak](double fraction) {
            if (weak) weak->setPhase(PortalPhase::converting(fraction, true));
        },
        [weak, task, outcome] {
            if (weak) weak->m_display.showOutcome(task, outcome);
        });
}

void PortalDisplay::showOutcomeNow(const PortalPhase& outcome) {
    m.setPhase(PortalPhase::converting(1, true));
    showOutcome(PortalTask{}, outcome);
}

void PortalDisplay::showOutcome(const PortalTask& task, const PortalPhase& outcome) {
    reportToMenuBar();
    if (task.isCancelled() || !m.m_phase.is(Kind::converting) || m.m_flow.runs().foreground()) return;
    if (m.m_isCollapsed) {
        endCollapse();
        m.setPhase(outcome);
        if (m.onFinished) m.onFinished();
        return;
    }
    Log::interaction().info("OUTCOME {}", outcome.is(Kind::succeeded) ? "succeeded " + outcome.name
                                                                      : "failed " + outcome.message);
    m.setPhase(outcome, m.reduceMotion() ? Animation::easeOut(0.14)
                                         : Animation::spring(m.m_motion.commitResponse, m.m_motion.commitDamping));
    const double linger = outcome.is(Kind::succeeded) ? m.m_motion.successLinger : m.m_motion.failureLinger;
    const auto ms = std::chrono::milliseconds(static_cast<long long>(linger * 1000));
    QPointer<PortalModel> weak(&m);
    m.m_env.scheduler->after(ms, [weak, task, outcome] {
        if (!weak || task.isCancelled()) return;
        // A new run or gesture that took the Portal meanwhile keeps it open.
        if (weak->m_flow.runs().foreground() || !(weak->m_phase == outcome)) return;
        // Details being read keep the failure up until the user dismisses it or moves away.
        if (outcome.is(Kind::failed) && weak->m_showingDetails) {
            weak->m_display.m_heldOpen = true;
            return;
        }
        if (weak->onFinished) weak->onFinished();
    });
}

void PortalDisplay::pointerLeft() {
    if (!m_heldOpen) return;
    m_heldOpen = false;
    if (m.m_phase.is(Kind::failed) && m.onFinished) m.onFinished();
}

}  // namespace kolvex
