// The job side of the Portal model: runs and batches, their progress and results, the
// collapse into the tray, the tray report, cancelling, and the tool parameters from the sheets.

#include <algorithm>
#include <chrono>
#include <cmath>

#include <QPointer>

#include "core/services/Log.h"
#include "ui/portal/model/PortalModel.h"

namespace kolvex {

namespace {

const char* const kArrow = " \u2192 ";

}  // namespace

// ---------------------------------------------------------------------------------------------
// Runs

void PortalModel::run(const RingTarget& target, const DragPayload& payload,
                      const std::optional<ConversionOptions>& overriding, std::optional<PortalRuns::BatchID> batch,
                      bool foreground) {
    Log::conversion().info("Commit {} file(s) \u2192 {}", payload.count(), target.label);
    if (foreground) sendForegroundToBackground();
    const PortalRuns::Record& record = m_runs.begin(payload.label() + kArrow + target.label, batch, foreground);
    const Uuid id = record.id;
    const Task task = record.task;
    if (foreground) {
        publish(m_isCollapsed, false, Field::isCollapsed);
        publish(m_collapseProgress, 0.0, Field::collapseProgress);
        setPhase(Phase::converting(0));
        startProgressDisplay();
        scheduleCollapse(target.label);
    }
    reportToMenuBar();
    QPointer<PortalModel> weak(this);
    perform(id, target, payload, overriding, task, [weak, id](RunEnd end) {
        if (weak) weak->endRun(id, end);
    });
}

void PortalModel::progressReported(const Uuid& id, double fraction, bool fromCoordinator) {
    m_runs.reportProgress(id, fraction);
    if (fromCoordinator) reportToMenuBar();
}

void PortalModel::endRun(const Uuid& id, const RunEnd& end) {
    const auto& results = end.results;
    const bool wasShown = m_runs.foreground() == id;
    auto record = m_runs.end(id);
    if (!record) {  // cancelled: nothing of it is shown or told, and its batch is gone with it
        reportToMenuBar();
        return;
    }
    if (wasShown) m_runs.clearForeground();

    std::vector<ConversionResult> all = results;
    bool wentToTray = record->wentToTray;
    if (record->batch) {
        const auto batch = *record->batch;
        if (auto next = m_runs.takeQueued(batch)) {
            // The next file takes the Portal when this one had it, else it runs in the tray too.
            run(*m_runs.batchTarget(batch), DragPayload(std::vector<std::filesystem::path>{next->url}), next->options,
                batch, wasShown);
        }
        auto finished = m_runs.memberEnded(batch, results, record->wentToTray);
        if (!finished) {
            // The batch goes on; a file still running takes over the Portal's display.
            if (wasShown && !m_runs.foreground()) {
                if (const auto member = m_runs.runningMember(batch, id)) m_runs.setForeground(*member);
            }
            reportToMenuBar();
            return;
        }
        all = std::move(finished->results);
        wentToTray = finished->wentToTray;
    }
    report(all, wentToTray);
    if (!wasShown) {
        reportToMenuBar();
        return;
    }
    // A stand-in run, or a target that is not ready, says what it is in its own words.
    finishShownRun(record->task, record->started, all.empty() && end.outcome ? *end.outcome : Phase::outcome(all));
}

void PortalModel::report(const std::vector<ConversionResult>& results, bool wentToTray) {
    if (!m_service || !onCompleted) return;  // stand-in runs make nothing
    const RunReport report = RunReport::of(results, wentToTray);
    if (!report.isEmpty()) onCompleted(report);
}

void PortalModel::finishShownRun(const Task& task, Clock::time_point started, const Phase& outcome) {
    if (task.isCancelled()) return;
    QPointer<PortalModel> weak(this);
    const double from = m_phase.is(Phase::Kind::converting) ? m_phase.fraction : 1.0;
    // The job is over: the fill only finishes, and there is nothing left to cancel.
    if (m_phase.is(Phase::Kind::converting) && !m_runs.foreground()) setPhase(Phase::converting(from, true));
    const double remaining =
        m_motion.minimumProgressDisplay - std::chrono::duration<double>(m_env.scheduler->now() - started).count();
    m_runs.finishProgressDisplay(
        task, from, remaining,
        // Someone cancelled, began a new gesture or started a newer run meanwhile: that owns
        // the phase now.
        [weak] { return weak && weak->m_phase.is(Phase::Kind::converting) && !weak->m_runs.foreground(); },
        [weak](double fraction) {
            if (weak) weak->setPhase(Phase::converting(fraction, true));
        },
        [weak, task, outcome] {
            if (weak) weak->showOutcome(task, outcome);
        });
}

void PortalModel::showOutcome(const Task& task, const Phase& outcome) {
    reportToMenuBar();
    if (task.isCancelled() || !m_phase.is(Phase::Kind::converting) || m_runs.foreground()) return;
    if (m_isCollapsed) {
        endCollapse();
        setPhase(outcome);
        if (onFinished) onFinished();
        return;
    }
    setPhase(outcome, reduceMotion() ? Animation::easeOut(0.14)
                                     : Animation::spring(m_motion.commitResponse, m_motion.commitDamping));
    const double linger = outcome.is(Phase::Kind::succeeded) ? m_motion.successLinger : m_motion.failureLinger;
    const auto ms = std::chrono::milliseconds(static_cast<long long>(linger * 1000));
    QPointer<PortalModel> weak(this);
    m_env.scheduler->after(ms, [weak, task, outcome] {
        if (!weak || task.isCancelled()) return;
        // A new run or gesture that took the Portal meanwhile keeps it open.
        if (weak->m_runs.foreground() || !(weak->m_phase == outcome)) return;
        // Details being read keep the failure up until the user dismisses it or moves away.
        if (outcome.is(Phase::Kind::failed) && weak->m_showingDetails) {
            weak->m_heldOpen = true;
            return;
        }
        if (weak->onFinished) weak->onFinished();
    });
}

void PortalModel::pointerLeft() {
    if (!m_heldOpen) return;
    m_heldOpen = false;
    if (m_phase.is(Phase::Kind::failed) && onFinished) onFinished();
}

void PortalModel::failParameters(const std::string& reason) {
    RingTarget target;
    if (!pendingParameters(target)) return;
    closeParameterBatch();
    const std::string message = reason.empty() ? std::string("Couldn't open the settings") : reason;
    Log::interaction().info("The {} settings could not be prepared: {}", target.label, reason);
    if (onCompleted && m_payload) {
        RunReport failure;
        failure.failures.push_back({m_payload->urls.empty() ? std::filesystem::path() : m_payload->urls.front(),
                                    target.label + ": " + message});
        onCompleted(failure);
    }
    setPhase(Phase::converting(1, true));
    showOutcome(Task{}, Phase::failed(message, message));
}

// ---------------------------------------------------------------------------------------------
// Progress display, collapse and tray report

void PortalModel::startProgressDisplay() {
    QPointer<PortalModel> weak(this);
    m_runs.startProgressDisplay(
        [weak]() -> std::optional<double> {
            if (!weak || !weak->m_phase.is(Phase::Kind::converting)) return std::nullopt;
            return weak->m_phase.fraction;
        },
        [weak](double fraction) {
            if (!weak) return;
            weak->setPhase(Phase::converting(fraction));
            if (weak->m_isCollapsed && weak->onProgressChanged) weak->onProgressChanged(fraction, std::nullopt);
        });
}

void PortalModel::scheduleCollapse(const std::string& label) {
    if (m_collapseTask) m_collapseTask->cancel();
    const double delay = m_motion.collapseAfter;
    const std::string fileLabel = m_payload ? m_payload->label() : std::string();
    Task task;
    m_collapseTask = task;
    QPointer<PortalModel> weak(this);
    m_env.scheduler->after(PortalScheduler::seconds(delay), [weak, task, delay, fileLabel, label] {
        if (!weak || task.isCancelled()) return;
        PortalModel& m = *weak;
        if (!m.m_phase.is(Phase::Kind::converting)) return;
        Log::conversion().info("Conversion exceeded {:f}s; moving to the tray", delay);
        m.m_runs.markForegroundInTray();
        m.publish(m.m_isCollapsed, true, Field::isCollapsed);
        m.publish(m.m_collapseProgress, 1.0, Field::collapseProgress,
                  m.reduceMotion() ? Animation::easeOut(0.14)
                                   : Animation::timingCurve(0.4, 0.0, 0.9, 0.4, m.m_motion.collapseDuration));
        if (m.onCollapse) m.onCollapse();
        if (m.onProgressChanged) {
            m.onProgressChanged(m.m_phase.fraction, fileLabel.empty() ? label : fileLabel + kArrow + label);
        }
    });
}

void PortalModel::endCollapse() {
    if (m_collapseTask) {
        m_collapseTask->cancel();
        m_collapseTask.reset();
    }
    publish(m_isCollapsed, false, Field::isCollapsed);
    publish(m_collapseProgress, 0.0, Field::collapseProgress);
    reportToMenuBar();
}

void PortalModel::reportToMenuBar() {
    if (!onProgressChanged) return;
    if (m_runs.empty()) {
        onProgressChanged(std::nullopt, std::nullopt);
        return;
    }
    const std::optional<double> progress = m_phase.is(Phase::Kind::converting)
                                               ? std::optional<double>(m_phase.fraction)
                                               : m_runs.aggregateProgress();
    onProgressChanged(progress, m_runs.oldestLabel());
}

// ---------------------------------------------------------------------------------------------
// Cancelling

void PortalModel::resetToBrowsing() {
    if (m_work) {
        m_work->cancel();
        m_work.reset();
    }
    closeParameterBatch();
    m_runs.stopProgressDisplay();
    endCollapse();
    setPhase(Phase::browsing());
    takePendingSources();
}

void PortalModel::cancelAllConversions() {
    if (m_runs.empty()) return;
    Log::conversion().info("Cancelling {} conversion(s)", m_runs.count());
    m_runs.cancelAllConversions();
    m_parameterBatch.reset();
    resetToBrowsing();
    if (onFinished) onFinished();
}

void PortalModel::cancelConversion(const Uuid& id) {
    // The rest of its batch goes with it: the Portal closes when it showed any of them.
    bool shown = false;
    if (const auto fg = m_runs.foreground()) {
        const auto* named = m_runs.find(id);
        const auto* front = m_runs.find(*fg);
        shown = *fg == id || (named && front && named->batch && named->batch == front->batch);
    }
    const auto label = m_runs.cancelConversion(id);
    if (!label) return;
    Log::conversion().info("Cancelling {}", *label);
    if (shown) {
        resetToBrowsing();
        if (onFinished) onFinished();
    }
    reportToMenuBar();
}

void PortalModel::cancelShownConversion() {
    if (m_phase.is(Phase::Kind::browsing)) return;
    // A job that has ended keeps its outcome: a late click changes nothing.
    if (m_phase.is(Phase::Kind::converting) && m_phase.ended) return;
    if (m_phase.is(Phase::Kind::converting))
        Log::conversion().info("Conversion cancelled by the user");
    else
        Log::conversion().info("Outcome dismissed by the user");
    m_runs.cancelForeground();
    resetToBrowsing();
    if (onFinished) onFinished();
}

// ---------------------------------------------------------------------------------------------
// Tool parameters

bool PortalModel::pendingParameters(RingTarget& target) const {
    if (!m_phase.is(Phase::Kind::needsParameters) || !m_phase.target || !m_payload) return false;
    target = *m_phase.target;
    return true;
}

void PortalModel::closeParameterBatch() {
    if (!m_parameterBatch) return;
    const auto batch = *m_parameterBatch;
    m_parameterBatch.reset();
    // Files already handed over go on; when they are all done, what they made is told.
    if (auto finished = m_runs.closeBatch(batch)) report(finished->results, true);
}

void PortalModel::applyParameters(const ConversionOptions& options) {
    RingTarget target;
    if (!pendingParameters(target)) return;
    run(target, *m_payload, options);
}

void PortalModel::applyParameters(const ConversionOptions& options, const std::vector<std::filesystem::path>& ordering) {
    RingTarget target;
    if (!pendingParameters(target)) return;
    const auto& urls = m_payload->urls;
    auto sortedOrdering = ordering;
    auto sortedUrls = urls;
    std::sort(sortedOrdering.begin(), sortedOrdering.end());
    std::sort(sortedUrls.begin(), sortedUrls.end());
    // Same count and same members, repeats included, or the drop order stands.
    if (ordering.size() == urls.size() && sortedOrdering == sortedUrls) {
        run(target, DragPayload(ordering), options);
    } else {
        run(target, *m_payload, options);
    }
}

void PortalModel::applyParameters(const ConversionOptions& options, const std::filesystem::path& toOne) {
    RingTarget target;
    if (!pendingParameters(target)) return;
    const auto& urls = m_payload->urls;
    if (std::find(urls.begin(), urls.end(), toOne) == urls.end()) return;
    if (!m_parameterBatch || !m_runs.hasBatch(*m_parameterBatch)) m_parameterBatch = m_runs.openBatch(target);
    // The file goes on in the tray while the sheet asks about the next one.
    run(target, DragPayload(std::vector<std::filesystem::path>{toOne}), options, m_parameterBatch, false);
}

void PortalModel::finishParameterRun(const std::vector<PendingFile>& pending) {
    RingTarget target;
    if (!pendingParameters(target)) return;
    const auto batch = m_parameterBatch && m_runs.hasBatch(*m_parameterBatch) ? *m_parameterBatch
                                                                               : m_runs.openBatch(target);
    m_parameterBatch.reset();
    if (!pending.empty()) {
        m_runs.enqueue(batch, std::vector<PendingFile>(pending.begin() + 1, pending.end()));
        run(target, DragPayload(std::vector<std::filesystem::path>{pending.front().url}), pending.front().options,
            batch, true);
        m_runs.closeBatch(batch);
        return;
    }
    auto finished = m_runs.closeBatch(batch);
    if (!finished) {
        // Every file was started as the sheet went; the Portal shows them to their end.
        if (const auto member = m_runs.runningMember(batch, Uuid())) {
            m_runs.setForeground(*member);
            setPhase(Phase::converting(0));
            startProgressDisplay();
            scheduleCollapse(target.label);
            reportToMenuBar();
        }
        return;
    }
    if (finished->results.empty()) {
        setPhase(Phase::browsing());
        if (onFinished) onFinished();
        return;
    }
    // They are all done already: their result is shown as any run's is.
    report(finished->results, finished->wentToTray);
    setPhase(Phase::converting(1, true));
    showOutcome(Task{}, Phase::outcome(finished->results));
}

void PortalModel::discardParameters() {
    if (!m_phase.is(Phase::Kind::needsParameters)) return;
    closeParameterBatch();
    setPhase(Phase::browsing());
    if (onFinished) onFinished();
}

}  // namespace kolvex
