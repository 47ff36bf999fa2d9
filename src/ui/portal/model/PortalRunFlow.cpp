// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/PortalRunFlow.h"

#include <algorithm>
#include <chrono>

#include "core/format/ToolSettings.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"
#include "ui/async/AsyncTask.h"

namespace kolvex {

namespace {

const char* const kArrow = " \u2192 ";
const char* const kCancelledBeforeAnswer = "Cancelled before its question was answered";

// Sorts `results` by where their sources stand among the dropped `urls` (a file inside a dropped
// folder stands where its folder does); the order among equals is kept.
void inDropOrder(std::vector<ConversionResult>& results, const std::vector<std::filesystem::path>& urls) {
    const auto rank = [&urls](const std::filesystem::path& source) {
        const std::string& bytes = source.native();
        for (std::size_t i = 0; i < urls.size(); ++i) {
            const std::string& url = urls[i].native();
            if (bytes == url || (bytes.size() > url.size() && bytes.compare(0, url.size(), url) == 0 &&
                                 (url.ends_with('/') || bytes[url.size()] == '/')))
                return i;
        }
        return urls.size();
    };
    std::stable_sort(results.begin(), results.end(),
                     [&rank](const ConversionResult& a, const ConversionResult& b) { return rank(a.source) < rank(b.source); });
}

}  // namespace

using Phase = PortalPhase;
using Kind = PortalPhase::Kind;

PortalRunFlow::PortalRunFlow(PortalRuns& runs, PortalDisplay& display, Surroundings surroundings)
    : m_runs(runs),
      m_display(display),
      m_env(std::move(surroundings)),
      m_questions(questionSurroundings()) {}

DropQuestions::Surroundings PortalRunFlow::questionSurroundings() {
    DropQuestions::Surroundings s;
    s.scheduler = m_env.scheduler;
    s.owner = m_env.owner;
    s.service = m_env.service;
    s.provider = m_env.provider;
    s.preferences = m_env.preferences;
    s.chooseFolder = m_env.chooseFolder;
    s.askAboutNames = m_env.askAboutNames;
    s.withdrawQuestion = m_env.withdrawQuestion;
    s.asking = m_env.asking;
    s.completed = m_env.completed;
    s.sheetPending = [this] { return m_display.phase().is(Kind::needsParameters); };
    return s;
}

PortalRunFlow::~PortalRunFlow() { stopAsking(std::nullopt); }

void PortalRunFlow::finished() const {
    if (m_env.finished) m_env.finished();
}

Preferences PortalRunFlow::preferences() const { return m_env.preferences ? m_env.preferences() : Preferences{}; }

// ---------------------------------------------------------------------------------------------
// Commit and its questions

bool PortalRunFlow::hasSheet(const RingTarget& target) {
    return target.toolID && toolSettings(*target.toolID) != ToolSettings::defaults;
}

void PortalRunFlow::commit(const RingTarget& target, const DragPayload& payload) {
    forgetPending(std::nullopt);
    std::weak_ptr<bool> alive = m_alive;
    const bool asks = m_questions.askAtCommit(
        target, payload, hasSheet(target),
        // Asked before anything says "Converting" (and before a tool's first sheet): nothing
        // runs meanwhile.
        [this, target] { m_display.setPhase(PortalPhase::needsParameters(target)); },
        [this, alive, target, payload](std::optional<RunAnswers> answers) {
            if (alive.expired()) return;
            if (!answers) {
                m_display.showOutcomeNow(
                    Phase::failed("Nothing converted", "No folder was chosen for the converted files."));
                return;
            }
            proceed(target, payload, *answers);
        });
    if (!asks) proceed(target, payload, {});
}

void PortalRunFlow::proceed(const RingTarget& target, const DragPayload& payload, const RunAnswers& answers) {
    m_answers = answers;
    if (hasSheet(target)) {
        m_display.setPhase(Phase::needsParameters(target));
        if (m_env.needsParameters) m_env.needsParameters(target, payload);
        return;
    }
    run(target, payload, std::nullopt, answers);
}

void PortalRunFlow::afterNames(const RingTarget& target, std::vector<DropQuestions::Group> groups,
                               std::function<void()> go) {
    m_questions.afterNames(
        target, std::move(groups), m_answers,
        [this](const RunAnswers& answers) {
            m_answers = answers;
            // Asked once per drop: files a batch queues run by the same answer.
            for (auto& [batch, batchAnswers] : m_batchAnswers) batchAnswers.keepBoth = answers.keepBoth;
        },
        std::move(go));
}

void PortalRunFlow::stopAsking(const std::optional<std::string>& why) { m_questions.stop(why); }

void PortalRunFlow::forgetPending(const std::optional<std::string>& why) {
    stopAsking(why);
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
    if (foreground) m_display.showRun(target.label);
    m_display.reportToMenuBar();
    std::weak_ptr<bool> alive = m_alive;
    perform(id, target, payload, overriding, answers, task, [this, alive, id](RunEnd end) {
        if (!alive.expired()) endRun(id, end);
    });
}

void PortalRunFlow::perform(const Uuid& id, const RingTarget& target, const DragPayload& payload,
                            const std::optional<ConversionOptions>& overriding, const RunAnswers& answers,
                            const Task& task, std::function<void(RunEnd)> done) {
    std::weak_ptr<bool> alive = m_alive;
    // The files finish in any order; what became of them is told in the order they were dropped.
    done = [urls = payload.urls, done = std::move(done)](RunEnd end) {
        inDropOrder(end.results, urls);
        done(std::move(end));
    };
    // Work may outlive the model and its scheduler: it reports through the long-lived runner.
    TaskRunner* scheduler = &m_env.scheduler->tasks();
    auto service = m_env.service ? m_env.service() : nullptr;

    if (!service) {
        // Simulated work names an output but writes none.
        auto work = m_env.simulatedWork;
        const auto urls = payload.urls;
        startWork(task, std::move(done), [=, this](std::stop_token token) -> RunEnd {
            const auto progress = [=, this](double fraction) {
                scheduler->post([=, this] {
                    if (!alive.expired()) progressReported(id, fraction, false);
                });
            };
            const FakePortalWork::Outcome outcome = work->run(urls, target, progress, token);
            return {{}, outcome.failed ? Phase::failed("Couldn't convert") : Phase::succeeded(outcome.outputName)};
        });
        return;
    }

    const PortalRequest request = PortalRequest::build(target, payload.urls, preferences(),
                                                       m_env.provider()->category(payload.urls), overriding, answers);
    const auto progress = [=, this](const BatchProgress& report) {
        const double fraction = report.fraction;
        scheduler->post([=, this] {
            if (!alive.expired()) progressReported(id, fraction, true);
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
        m_env.scheduler->tasks(), m_env.owner,
        [stop, work](std::stop_token quitting) {
            const std::stop_callback forward(quitting, [stop] { stop->request_stop(); });
            return work(stop->get_token());
        },
        done, [done](const std::string& reason) { done({{}, Phase::failed("Couldn't convert", reason)}); });
}

void PortalRunFlow::progressReported(const Uuid& id, double fraction, bool fromCoordinator) {
    m_runs.reportProgress(id, fraction);
    if (fromCoordinator) m_display.reportToMenuBar();
}

void PortalRunFlow::endRun(const Uuid& id, const RunEnd& end) {
    const auto& results = end.results;
    const bool wasShown = m_runs.foreground() == id;
    auto record = m_runs.end(id);
    if (!record) {  // cancelled: nothing of it is shown or told, and its batch is gone with it
        m_display.reportToMenuBar();
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
            m_display.reportToMenuBar();
            return;
        }
        m_batchAnswers.erase(batch);
        all = std::move(finished->results);
        wentToTray = finished->wentToTray;
    }
    report(all, wentToTray);
    if (!wasShown) {
        m_display.reportToMenuBar();
        return;
    }
    // A stand-in run, or a target that is not ready, says what it is in its own words.
    m_display.finishShownRun(record->task, record->started,
                               all.empty() && end.outcome ? *end.outcome : Phase::outcome(all));
}

void PortalRunFlow::report(const std::vector<ConversionResult>& results, bool wentToTray) {
    const bool simulated = !m_env.service || !m_env.service();
    if (simulated || !m_env.completed) return;  // stand-in runs make nothing
    const RunReport report = RunReport::of(results, wentToTray);
    if (!report.isEmpty()) m_env.completed(report);
}

bool PortalRunFlow::sendForegroundToBackground() {
    if (!m_runs.sendForegroundToBackground()) return false;
    Log::conversion().info("A conversion is still running; it continues in the background");
    m_display.stopShowingRun();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Cancelling

void PortalRunFlow::resetToBrowsing() {
    stopAsking(kCancelledBeforeAnswer);
    m_answers = {};
    closeParameterBatch();
    m_runs.stopProgressDisplay();
    m_display.endCollapse();
    m_display.setPhase(Phase::browsing());
    if (m_env.browsingAgain) m_env.browsingAgain();
}

void PortalRunFlow::cancelAllConversions() {
    if (m_runs.empty()) return;
    Log::conversion().info("Cancelling {} conversion(s)", m_runs.count());
    m_runs.cancelAllConversions();
    m_parameterBatch.reset();
    m_batchAnswers.clear();
    resetToBrowsing();
    finished();
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
        finished();
    }
    m_display.reportToMenuBar();
}

void PortalRunFlow::cancelShownConversion() {
    const PortalPhase& phase = m_display.phase();
    if (phase.is(Kind::browsing)) return;
    // A job that has ended keeps its outcome (it was told already); Cancel then only closes
    // the Portal instead of waiting for the fill to finish.
    if (phase.is(Kind::converting) && !phase.ended)
        Log::conversion().info("Conversion cancelled by the user");
    else
        Log::conversion().info("Outcome dismissed by the user");
    m_runs.cancelForeground();
    resetToBrowsing();
    finished();
}

// ---------------------------------------------------------------------------------------------
// Tool parameters

bool PortalRunFlow::pendingParameters(RingTarget& target, DragPayload& payload) const {
    // Questions asked at the commit are no sheet's to answer.
    if (m_questions.askingAtCommit()) return false;
    const PortalPhase& phase = m_display.phase();
    if (!phase.is(Kind::needsParameters) || !phase.target) return false;
    auto files = m_env.payload ? m_env.payload() : std::nullopt;
    if (!files) return false;
    target = *phase.target;
    payload = std::move(*files);
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
    DragPayload payload;
    if (!pendingParameters(target, payload)) return;
    afterNames(target, {{payload.urls, options}}, [this, target, payload, options] {
        run(target, payload, options, m_answers);
    });
}

void PortalRunFlow::applyParameters(const ConversionOptions& options,
                                    const std::vector<std::filesystem::path>& ordering) {
    RingTarget target;
    DragPayload payload;
    if (!pendingParameters(target, payload)) return;
    const auto& urls = payload.urls;
    auto sortedOrdering = ordering;
    auto sortedUrls = urls;
    std::sort(sortedOrdering.begin(), sortedOrdering.end());
    std::sort(sortedUrls.begin(), sortedUrls.end());
    // Same count and same members, repeats included, or the drop order stands.
    const DragPayload ordered =
        ordering.size() == urls.size() && sortedOrdering == sortedUrls ? DragPayload(ordering) : payload;
    afterNames(target, {{ordered.urls, options}}, [this, target, ordered, options] {
        run(target, ordered, options, m_answers);
    });
}

void PortalRunFlow::applyParameters(const ConversionOptions& options, const std::filesystem::path& toOne) {
    RingTarget target;
    DragPayload payload;
    if (!pendingParameters(target, payload)) return;
    const auto& urls = payload.urls;
    if (std::find(urls.begin(), urls.end(), toOne) == urls.end()) return;
    const DragPayload one(std::vector<std::filesystem::path>{toOne});
    afterNames(target, {{one.urls, options}}, [this, target, one, options] {
        const auto batch = parameterBatch(target);
        // The file goes on in the tray while the sheet asks about the next one.
        run(target, one, options, m_answers, batch, false);
    });
}

void PortalRunFlow::finishParameterRun(const std::vector<PendingFile>& pending) {
    RingTarget target;
    DragPayload payload;
    if (!pendingParameters(target, payload)) return;
    std::vector<DropQuestions::Group> groups;
    for (const auto& file : pending) groups.push_back({{file.url}, file.options});
    afterNames(target, std::move(groups), [this, target, pending] { startParameterRun(target, pending); });
}

void PortalRunFlow::startParameterRun(const RingTarget& target, const std::vector<PendingFile>& pending) {
    const auto batch = parameterBatch(target);
    m_parameterBatch.reset();
    if (!pending.empty()) {
        m_runs.enqueue(batch, std::vector<PendingFile>(pending.begin() + 1, pending.end()));
        run(target, DragPayload(std::vector<std::filesystem::path>{pending.front().url}), pending.front().options,
            m_answers, batch, true);
        m_runs.closeBatch(batch);
        return;
    }
    auto done = m_runs.closeBatch(batch);
    if (!done) {
        // Every file was started as the sheet went; the Portal shows them to their end.
        if (const auto member = m_runs.runningMember(batch, Uuid())) {
            m_runs.setForeground(*member);
            m_display.showRun(target.label);
            m_display.reportToMenuBar();
        }
        return;
    }
    m_batchAnswers.erase(batch);
    if (done->results.empty()) {
        m_display.setPhase(Phase::browsing());
        finished();
        return;
    }
    // They are all done already: their result is shown as any run's is.
    report(done->results, done->wentToTray);
    m_display.showOutcomeNow(Phase::outcome(done->results));
}

bool PortalRunFlow::skipsInWalk(const ConversionOptions& options, const std::filesystem::path& file) {
    RingTarget target;
    DragPayload payload;
    if (!pendingParameters(target, payload) || !target.toolID) return false;
    if (std::find(payload.urls.begin(), payload.urls.end(), file) == payload.urls.end()) return false;
    // Only an answer already given skips: without one, the names are asked about after the sheet.
    const Preferences settings = preferences();
    if (m_answers.keepBoth != false || settings.conflictBehaviour != Preferences::ConflictBehaviour::ask) return false;
    const auto service = m_env.service ? m_env.service() : nullptr;
    if (!service) return false;
    const std::vector<std::filesystem::path> one{file};
    const PortalRequest request =
        PortalRequest::build(target, one, settings, m_env.provider()->category(one), options, m_answers);
    const auto* intent = std::get_if<ToolIntent>(&request.what);
    if (!intent) return false;
    const auto taken = service->takenNames(*intent);
    if (taken.empty()) return false;

    ConversionResult skipped;
    skipped.id = Uuid::random();
    skipped.source = file;
    skipped.skipped = true;
    skipped.note = paths::lastComponent(taken.front()) + " already exists";
    Log::conversion().info("Skipped {} without its sheet: {}", paths::lastComponent(file), *skipped.note);
    // The batch is open while the walk goes on: the result is told with the walk's others.
    m_runs.memberEnded(parameterBatch(target), {std::move(skipped)}, false);
    return true;
}

void PortalRunFlow::discardParameters() {
    if (!m_display.phase().is(Kind::needsParameters)) return;
    stopAsking(kCancelledBeforeAnswer);
    closeParameterBatch();
    m_display.setPhase(Phase::browsing());
    finished();
}

void PortalRunFlow::failParameters(const std::string& reason, const std::optional<std::filesystem::path>& file) {
    RingTarget target;
    DragPayload payload;
    if (!pendingParameters(target, payload)) return;
    closeParameterBatch();
    const std::string message = reason.empty() ? std::string("Couldn't open the settings") : reason;
    Log::interaction().info("The {} settings could not be prepared: {}", target.label, reason);
    if (m_env.completed) {
        // The file whose sheet failed, not the drop's first (a walk fails on its own file).
        const std::filesystem::path source =
            file ? *file : (payload.urls.empty() ? std::filesystem::path() : payload.urls.front());
        RunReport failure;
        failure.failures.push_back({source, target.label + ": " + message});
        m_env.completed(failure);
    }
    m_display.showOutcomeNow(Phase::failed(message, message));
}

}  // namespace kolvex
