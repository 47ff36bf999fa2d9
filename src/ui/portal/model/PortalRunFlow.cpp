// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/PortalRunFlow.h"

#include <algorithm>
#include <chrono>

#include <QPointer>

#include "core/format/ToolSettings.h"
#include "core/services/Log.h"
#include "ui/async/AsyncTask.h"
#include "ui/portal/model/PortalModel.h"

namespace kolvex {

namespace {

const char* const kArrow = " \u2192 ";

}  // namespace

using Phase = PortalPhase;
using Kind = PortalPhase::Kind;

PortalRunFlow::PortalRunFlow(PortalModel& model)
    : m(model), m_runs(model.m_env.scheduler), m_questions(model.m_env.scheduler, &model) {}

PortalRunFlow::~PortalRunFlow() { stopAsking(); }

// ---------------------------------------------------------------------------------------------
// Commit and its questions

void PortalRunFlow::commit(const RingTarget& target, const DragPayload& payload) {
    forgetPending();
    // Stand-in work writes nothing: there is nothing to ask about.
    const Preferences preferences =
        m.m_service && m.preferencesProvider ? m.preferencesProvider() : Preferences{};
    if (!m.m_service || !m_questions.asks(preferences, m.onChooseOutputFolder, m.onNamesTaken)) {
        proceed(target, payload, {});
        return;
    }
    // Asked before anything says "Converting" (and before a tool's first sheet): nothing runs
    // meanwhile, and a question is put up with the Portal out of the way.
    m.setPhase(Phase::needsParameters(target));
    const Task task;
    m_asking = task;
    QPointer<PortalModel> weak(&m);
    const auto category = m.m_provider->category(payload.urls);
    RunQuestions::Asking asking;
    asking.task = task;
    asking.service = m.m_service;
    asking.request = [target, urls = payload.urls, preferences, category](const RunAnswers& answers) {
        return PortalRequest::build(target, urls, preferences, category, std::nullopt, answers);
    };
    asking.chooseFolder = m.onChooseOutputFolder;
    asking.askAboutNames = m.onNamesTaken;
    asking.aboutToAsk = [weak] {
        if (!weak || weak->m_flow.m_stepsAside) return;
        weak->m_flow.m_stepsAside = true;
        if (weak->onAsking) weak->onAsking(true);
    };
    asking.answered = [weak, task, target, payload](std::optional<RunAnswers> answers) {
        if (!weak || task.isCancelled()) return;
        PortalModel& model = *weak;
        PortalRunFlow& flow = model.m_flow;
        flow.m_asking.reset();
        const bool sheet = answers && target.toolID && toolSettings(*target.toolID) != ToolSettings::defaults;
        // A tool's sheet keeps the Portal away; the sheet's end brings it back.
        if (flow.m_stepsAside && !sheet) {
            flow.m_stepsAside = false;
            if (model.onAsking) model.onAsking(false);
        }
        if (!answers) {
            model.m_display.showOutcomeNow(
                Phase::failed("Nothing converted", "No folder was chosen for the converted files."));
            return;
        }
        flow.proceed(target, payload, *answers);
    };
    m_questions.ask(preferences, std::move(asking));
}

void PortalRunFlow::proceed(const RingTarget& target, const DragPayload& payload, const RunAnswers& answers) {
    m_answers = answers;
    if (target.toolID && toolSettings(*target.toolID) != ToolSettings::defaults) {
        m.setPhase(Phase::needsParameters(target));
        if (m.onNeedsParameters) m.onNeedsParameters(target, payload);
        return;
    }
    run(target, payload, std::nullopt, answers);
}

void PortalRunFlow::stopAsking() {
    if (m_asking) {
        m_asking->cancel();
        m_asking.reset();
    }
    m_stepsAside = false;
}

void PortalRunFlow::forgetPending() {
    stopAsking();
    m_answers = {};
    m_parameterBatch.reset();
}

// ---------------------------------------------------------------------------------------------
// Runs

void PortalRunFlow::run(const RingTarget& target, const DragPayload& payload,
                        const std::optional<ConversionOptions>& overriding, const RunAnswers& answers,
                        std::optional<PortalRuns::BatchID> batch, bool foreground) {
    Log::conversion().info("Commit {} file(s) \u2192 {}", payload.count(), target.label);
    if (foreground) sendForegroundToBackground();
    const PortalRuns::Record& record = m_runs.begin(payload.label() + kArrow + target.label, batch, foreground);
    const Uuid id = record.id;
    const Task task = record.task;
    if (foreground) m.m_display.showRun(target.label);
    m.m_display.reportToMenuBar();
    QPointer<PortalModel> weak(&m);
    perform(id, target, payload, overriding, answers, task, [weak, id](RunEnd end) {
        if (weak) weak->m_flow.endRun(id, end);
    });
}

void PortalRunFlow::perform(const Uuid& id, const RingTarget& target, const DragPayload& payload,
                            const std::optional<ConversionOptions>& overriding, const RunAnswers& answers,
                            const Task& task, std::function<void(RunEnd)> done) {
    QPointer<PortalModel> weak(&m);
    // Work may outlive the model and its scheduler: it reports through the long-lived runner.
    TaskRunner* scheduler = &m.m_env.scheduler->tasks();

    if (!m.m_service) {
        // Simulated work names an output but writes none.
        auto work = m.m_env.simulatedWork;
        const auto urls = payload.urls;
        startWork(task, std::move(done), [=](std::stop_token token) -> RunEnd {
            const auto progress = [=](double fraction) {
                scheduler->post([=] {
                    if (weak) weak->m_flow.progressReported(id, fraction, false);
                });
            };
            const FakePortalWork::Outcome outcome = work->run(urls, target, progress, token);
            return {{}, outcome.failed ? Phase::failed("Couldn't convert") : Phase::succeeded(outcome.outputName)};
        });
        return;
    }

    const Preferences preferences = m.preferencesProvider ? m.preferencesProvider() : Preferences{};
    const PortalRequest request = PortalRequest::build(target, payload.urls, preferences,
                                                       m.m_provider->category(payload.urls), overriding, answers);
    auto service = m.m_service;
    const auto progress = [=](const BatchProgress& report) {
        const double fraction = report.fraction;
        scheduler->post([=] {
            if (weak) weak->m_flow.progressReported(id, fraction, true);
        });
    };
    if (const auto* intent = std::get_if<ConversionIntent>(&request.what)) {
        startWork(task, std::move(done), [=, intent = *intent](std::stop_token token) -> RunEnd {
            return {service->submit(intent, progress, token), std::nullopt};
        });
    } else if (const auto* intent = std::get_if<ToolIntent>(&request.what)) {
        startWork(task, std::move(done), [=, intent = *intent](std::stop_token token) -> RunEnd {
            return {service->submit(intent, progress, token), std::nullopt};
        });
    } else {
        const Phase notReady = Phase::failed(*request.notReady());
        startWork(task, std::move(done), [notReady](std::stop_token) -> RunEnd { return {{}, notReady}; });
    }
}

void PortalRunFlow::startWork(const Task& task, std::function<void(RunEnd)> done,
                              std::function<RunEnd(std::stop_token)> work) {
    // The work runs off the GUI thread; its end comes back here. Cancelling the run, or the
    // application quitting, stops it through the one token it is handed.
    auto stop = task.stop;
    AsyncTask::start<RunEnd>(
        m.m_env.scheduler->tasks(), &m,
        [stop, work](std::stop_token quitting) {
            const std::stop_callback forward(quitting, [stop] { stop->request_stop(); });
            return work(stop->get_token());
        },
        done, [done](const std::string& reason) { done({{}, Phase::failed("Couldn't convert", reason)}); });
}

void PortalRunFlow::progressReported(const Uuid& id, double fraction, bool fromCoordinator) {
    m_runs.reportProgress(id, fraction);
    if (fromCoordinator) m.m_display.reportToMenuBar();
}

void PortalRunFlow::endRun(const Uuid& id, const RunEnd& end) {
    const auto& results = end.results;
    const bool wasShown = m_runs.foreground() == id;
    auto record = m_runs.end(id);
    if (!record) {  // cancelled: nothing of it is shown or told, and its batch is gone with it
        m.m_display.reportToMenuBar();
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
                m_batchAnswers[batch], batch, wasShown);
        }
        auto finished = m_runs.memberEnded(batch, results, record->wentToTray);
        if (!finished) {
            // The batch goes on; a file still running takes over the Portal's display.
            if (wasShown && !m_runs.foreground()) {
                if (const auto member = m_runs.runningMember(batch, id)) m_runs.setForeground(*member);
            }
            m.m_display.reportToMenuBar();
            return;
        }
        m_batchAnswers.erase(batch);
        all = std::move(finished->results);
        wentToTray = finished->wentToTray;
    }
    report(all, wentToTray);
    if (!wasShown) {
        m.m_display.reportToMenuBar();
        return;
    }
    // A stand-in run, or a target that is not ready, says what it is in its own words.
    m.m_display.finishShownRun(record->task, record->started,
                               all.empty() && end.outcome ? *end.outcome : Phase::outcome(all));
}

void PortalRunFlow::report(const std::vector<ConversionResult>& results, bool wentToTray) {
    if (!m.m_service || !m.onCompleted) return;  // stand-in runs make nothing
    const RunReport report = RunReport::of(results, wentToTray);
    if (!report.isEmpty()) m.onCompleted(report);
}

bool PortalRunFlow::sendForegroundToBackground() {
    if (!m_runs.sendForegroundToBackground()) return false;
    Log::conversion().info("A conversion is still running; it continues in the background");
    m.m_display.stopShowingRun();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Cancelling

void PortalRunFlow::resetToBrowsing() {
    stopAsking();
    m_answers = {};
    closeParameterBatch();
    m_runs.stopProgressDisplay();
    m.m_display.endCollapse();
    m.setPhase(Phase::browsing());
    m.takePendingSources();
}

void PortalRunFlow::cancelAllConversions() {
    if (m_runs.empty()) return;
    Log::conversion().info("Cancelling {} conversion(s)", m_runs.count());
    m_runs.cancelAllConversions();
    m_parameterBatch.reset();
    m_batchAnswers.clear();
    resetToBrowsing();
    if (m.onFinished) m.onFinished();
}

void PortalRunFlow::cancelConversion(const Uuid& id) {
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
        if (m.onFinished) m.onFinished();
    }
    m.m_display.reportToMenuBar();
}

void PortalRunFlow::cancelShownConversion() {
    if (m.m_phase.is(Kind::browsing)) return;
    // A job that has ended keeps its outcome (it was told already); Cancel then only closes
    // the Portal instead of waiting for the fill to finish.
    if (m.m_phase.is(Kind::converting) && !m.m_phase.ended)
        Log::conversion().info("Conversion cancelled by the user");
    else
        Log::conversion().info("Outcome dismissed by the user");
    m_runs.cancelForeground();
    resetToBrowsing();
    if (m.onFinished) m.onFinished();
}

// ---------------------------------------------------------------------------------------------
// Tool parameters

bool PortalRunFlow::pendingParameters(RingTarget& target) const {
    // Questions still being asked are no sheet's to answer.
    if (m_asking) return false;
    if (!m.m_phase.is(Kind::needsParameters) || !m.m_phase.target || !m.m_payload) return false;
    target = *m.m_phase.target;
    return true;
}

PortalRuns::BatchID PortalRunFlow::parameterBatch(const RingTarget& target) {
    if (!m_parameterBatch || !m_runs.hasBatch(*m_parameterBatch)) {
        m_parameterBatch = m_runs.openBatch(target);
        m_batchAnswers[*m_parameterBatch] = m_answers;
    }
    return *m_parameterBatch;
}

void PortalRunFlow::closeParameterBatch() {
    if (!m_parameterBatch) return;
    const auto batch = *m_parameterBatch;
    m_parameterBatch.reset();
    // Files already handed over go on; when they are all done, what they made is told.
    if (auto finished = m_runs.closeBatch(batch)) {
        m_batchAnswers.erase(batch);
        report(finished->results, true);
    }
}

void PortalRunFlow::applyParameters(const ConversionOptions& options) {
    RingTarget target;
    if (!pendingParameters(target)) return;
    run(target, *m.m_payload, options, m_answers);
}

void PortalRunFlow::applyParameters(const ConversionOptions& options,
                                    const std::vector<std::filesystem::path>& ordering) {
    RingTarget target;
    if (!pendingParameters(target)) return;
    const auto& urls = m.m_payload->urls;
    auto sortedOrdering = ordering;
    auto sortedUrls = urls;
    std::sort(sortedOrdering.begin(), sortedOrdering.end());
    std::sort(sortedUrls.begin(), sortedUrls.end());
    // Same count and same members, repeats included, or the drop order stands.
    if (ordering.size() == urls.size() && sortedOrdering == sortedUrls) {
        run(target, DragPayload(ordering), options, m_answers);
    } else {
        run(target, *m.m_payload, options, m_answers);
    }
}

void PortalRunFlow::applyParameters(const ConversionOptions& options, const std::filesystem::path& toOne) {
    RingTarget target;
    if (!pendingParameters(target)) return;
    const auto& urls = m.m_payload->urls;
    if (std::find(urls.begin(), urls.end(), toOne) == urls.end()) return;
    const auto batch = parameterBatch(target);
    // The file goes on in the tray while the sheet asks about the next one.
    run(target, DragPayload(std::vector<std::filesystem::path>{toOne}), options, m_answers, batch, false);
}

void PortalRunFlow::finishParameterRun(const std::vector<PendingFile>& pending) {
    RingTarget target;
    if (!pendingParameters(target)) return;
    const auto batch = parameterBatch(target);
    m_parameterBatch.reset();
    if (!pending.empty()) {
        m_runs.enqueue(batch, std::vector<PendingFile>(pending.begin() + 1, pending.end()));
        run(target, DragPayload(std::vector<std::filesystem::path>{pending.front().url}), pending.front().options,
            m_answers, batch, true);
        m_runs.closeBatch(batch);
        return;
    }
    auto finished = m_runs.closeBatch(batch);
    if (!finished) {
        // Every file was started as the sheet went; the Portal shows them to their end.
        if (const auto member = m_runs.runningMember(batch, Uuid())) {
            m_runs.setForeground(*member);
            m.m_display.showRun(target.label);
            m.m_display.reportToMenuBar();
        }
        return;
    }
    m_batchAnswers.erase(batch);
    if (finished->results.empty()) {
        m.setPhase(Phase::browsing());
        if (m.onFinished) m.onFinished();
        return;
    }
    // They are all done already: their result is shown as any run's is.
    report(finished->results, finished->wentToTray);
    m.m_display.showOutcomeNow(Phase::outcome(finished->results));
}

void PortalRunFlow::discardParameters() {
    if (!m.m_phase.is(Kind::needsParameters)) return;
    stopAsking();
    closeParameterBatch();
    m.setPhase(Phase::browsing());
    if (m.onFinished) m.onFinished();
}

void PortalRunFlow::failParameters(const std::string& reason, const std::optional<std::filesystem::path>& file) {
    RingTarget target;
    if (!pendingParameters(target)) return;
    closeParameterBatch();
    const std::string message = reason.empty() ? std::string("Couldn't open the settings") : reason;
    Log::interaction().info("The {} settings could not be prepared: {}", target.label, reason);
    if (m.onCompleted) {
        // The file whose sheet failed, not the drop's first (a walk fails on its own file).
        const std::filesystem::path source =
            file ? *file : (m.m_payload->urls.empty() ? std::filesystem::path() : m.m_payload->urls.front());
        RunReport failure;
        failure.failures.push_back({source, target.label + ": " + message});
        m.onCompleted(failure);
    }
    m.m_display.showOutcomeNow(Phase::failed(message, message));
}

}  // namespace kolvex
