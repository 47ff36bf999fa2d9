// The job side of the Portal model: runs, their progress, their results, the progress display,
// the collapse into the tray and the tray report.

#include <algorithm>
#include <cmath>
#include <tuple>

#include <fmt/format.h>

#include <QPointer>

#include "core/services/Log.h"
#include "ui/portal/model/PortalModel.h"

namespace kolvex {

namespace {

constexpr auto kTick = std::chrono::milliseconds(16);
constexpr auto kHold = std::chrono::milliseconds(80);
const char* const kArrow = " \u2192 ";

std::string lastComponent(const std::filesystem::path& p) {
    auto name = p.filename();
    if (name.empty()) name = p.parent_path().filename();
    return name.string();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Runs

void PortalModel::run(const RingTarget& target, const DragPayload& payload,
                      const std::optional<ConversionOptions>& overriding) {
    Log::conversion().info("Commit {} file(s) \u2192 {}", payload.count(), target.label);
    sendForegroundToBackground();

    const Uuid id = Uuid::random();
    Running record{id, payload.label() + kArrow + target.label, m_env.scheduler->now(), 0, std::nullopt,
                   ++m_runsStarted};
    m_running.emplace(id, record);
    m_foreground = id;

    m_realProgress = 0;
    m_progressStarted = m_env.scheduler->now();
    publish(m_isCollapsed, false, Field::isCollapsed);
    publish(m_collapseProgress, 0.0, Field::collapseProgress);
    setPhase(Phase::converting(0));

    startProgressDisplay();
    scheduleCollapse(target.label);
    reportToMenuBar();

    Task task;
    if (auto it = m_running.find(id); it != m_running.end()) it->second.task = task;
    QPointer<PortalModel> weak(this);
    perform(id, target, payload, overriding, task, [weak, id, task](Phase outcome) {
        if (!weak) return;
        weak->endRun(id, task, outcome);
    });
}

void PortalModel::perform(const Uuid& id, const RingTarget& target, const DragPayload& payload,
                          const std::optional<ConversionOptions>& overriding, const Task& task,
                          std::function<void(Phase)> done) {
    QPointer<PortalModel> weak(this);
    PortalScheduler* scheduler = m_env.scheduler.get();
    auto stop = task.stop;

    if (!m_service) {
        auto work = m_env.simulatedWork;
        const auto urls = payload.urls;
        scheduler->background([=](std::stop_token quitting) {
            const std::stop_callback forward(quitting, [stop] { stop->request_stop(); });
            const auto progress = [=](double fraction) {
                scheduler->post([=] {
                    if (weak) weak->progressReported(id, fraction, false);
                });
            };
            const FakePortalWork::Outcome outcome = work->run(urls, target, progress, stop->get_token());
            scheduler->post([=] {
                if (!weak) return;
                done(outcome.failed ? Phase::failed("Couldn't convert") : Phase::succeeded(outcome.outputName));
            });
        });
        return;
    }

    const Preferences preferences = preferencesProvider ? preferencesProvider() : Preferences{};
    auto service = m_service;
    const auto progress = [=](const BatchProgress& report) {
        const double fraction = report.fraction;
        scheduler->post([=] {
            if (weak) weak->progressReported(id, fraction, true);
        });
    };
    const auto finish = [=](std::vector<ConversionResult> results) {
        scheduler->post([=, results = std::move(results)] {
            if (!weak) return;
            done(weak->outcomeOf(results));
        });
    };

    if (target.formatID) {
        const ConversionIntent intent =
            preferences.formatIntent(payload.urls, *target.formatID, m_provider->category(payload.urls));
        scheduler->background([=](std::stop_token quitting) {
            const std::stop_callback forward(quitting, [stop] { stop->request_stop(); });
            finish(service->submit(intent, progress, stop->get_token()));
        });
    } else if (target.toolID) {
        ConversionOptions options;
        if (overriding) {
            options = *overriding;
        } else if (*target.toolID == "extract") {
            options = ConversionOptions{};
            options.preserveMetadata = true;
            options.allowPassthrough = true;
            options.tool = "extract";
        } else {
            options = ConversionOptions::defaults();
        }
        ToolIntent intent{payload.urls, *target.toolID, options, preferences.resolvedOutputDirectory()};
        scheduler->background([=](std::stop_token quitting) {
            const std::stop_callback forward(quitting, [stop] { stop->request_stop(); });
            finish(service->submit(intent, progress, stop->get_token()));
        });
    } else {
        const Phase outcome = Phase::failed(target.label + " isn't ready yet");
        scheduler->post([=] {
            if (weak) done(outcome);
        });
    }
}

PortalPhase PortalModel::outcomeOf(const std::vector<ConversionResult>& results) {
    std::vector<const ConversionResult*> successes;
    for (const auto& r : results) {
        if (r.succeeded()) successes.push_back(&r);
    }
    if (!successes.empty() && onCompleted) {
        std::vector<std::filesystem::path> outputs;
        std::vector<std::filesystem::path> sources;
        for (const auto* s : successes) {
            outputs.insert(outputs.end(), s->outputs.begin(), s->outputs.end());
            sources.push_back(s->source);
        }
        onCompleted(outputs, sources);
    }
    if (!successes.empty() && successes.size() == results.size()) {
        size_t n = 0;
        for (const auto* s : successes) n += s->outputs.size();
        if (n == 1) {
            const auto* only = *std::find_if(successes.begin(), successes.end(),
                                             [](const ConversionResult* s) { return !s->outputs.empty(); });
            return Phase::succeeded(lastComponent(only->outputs.front()), only->note);
        }
        const bool allNoted =
            std::all_of(successes.begin(), successes.end(), [](const ConversionResult* s) { return s->note.has_value(); });
        return Phase::succeeded(fmt::format("{} files", n), allNoted ? successes.front()->note : std::nullopt);
    }
    if (successes.empty()) {
        Log::conversion().error("All {} job(s) failed", results.size());
        if (!results.empty() && results.front().error) {
            return Phase::failed(results.front().error->shortDescription(), results.front().error->diagnosticDetail());
        }
        return Phase::failed("Couldn't convert");
    }
    std::string detail;
    for (const auto& r : results) {
        if (!r.error) continue;
        if (!detail.empty()) detail += '\n';
        detail += lastComponent(r.source) + ": " + r.error->shortDescription();
    }
    return Phase::failed(fmt::format("{} of {} converted", successes.size(), results.size()), detail);
}

void PortalModel::progressReported(const Uuid& id, double fraction, bool fromCoordinator) {
    if (!std::isfinite(fraction)) return;
    if (auto it = m_running.find(id); it != m_running.end()) {
        it->second.progress = std::max(it->second.progress, fraction);
    }
    if (fromCoordinator) reportToMenuBar();
    if (m_foreground == id && m_phase.is(Phase::Kind::converting)) m_realProgress = std::max(m_realProgress, fraction);
}

void PortalModel::endRun(const Uuid& id, const Task& task, const Phase& outcome) {
    m_running.erase(id);
    startNextQueued();
    if (m_foreground != id) {
        reportToMenuBar();
        return;
    }
    m_foreground.reset();
    if (task.isCancelled()) return;
    m_realProgress = 1;
    QPointer<PortalModel> weak(this);
    finishProgressDisplay(task, [weak, id, task, outcome] {
        if (weak) weak->showOutcome(id, task, outcome);
    });
}

void PortalModel::showOutcome(const Uuid&, const Task& task, const Phase& outcome) {
    reportToMenuBar();
    // Cancelled, or a new gesture took the Portal, while the display was filling: the outcome
    // would cover what the Portal shows now.
    if (!m_phase.is(Phase::Kind::converting) || m_foreground) return;
    if (m_isCollapsed) {
        endCollapse();
        setPhase(outcome);
        if (onFinished) onFinished();
        return;
    }
    setPhase(outcome, reduceMotion() ? Animation::easeOut(0.14)
                                     : Animation::spring(m_motion.commitResponse, m_motion.commitDamping));
    const bool succeeded = outcome.is(Phase::Kind::succeeded);
    const double linger = succeeded ? m_motion.successLinger : m_motion.failureLinger;
    const auto ms = std::chrono::milliseconds(static_cast<long long>(linger * 1000));
    QPointer<PortalModel> weak(this);
    m_env.scheduler->after(ms, [weak, task, outcome] {
        if (!weak || task.isCancelled()) return;
        // A new run or gesture that took the Portal meanwhile keeps it open.
        if (weak->m_foreground || !(weak->m_phase == outcome)) return;
        if (weak->onFinished) weak->onFinished();
    });
}

void PortalModel::startNextQueued() {
    if (m_queuedPerFile.empty() || !m_queuedTarget) return;
    const PendingFile next = m_queuedPerFile.front();
    m_queuedPerFile.erase(m_queuedPerFile.begin());
    const RingTarget target = *m_queuedTarget;
    if (m_queuedPerFile.empty()) m_queuedTarget.reset();
    run(target, DragPayload(std::vector<std::filesystem::path>{next.url}), next.options);
}

// ---------------------------------------------------------------------------------------------
// Progress display

void PortalModel::startProgressDisplay() {
    if (m_progressTicker) m_progressTicker->cancel();
    const Clock::time_point start = m_progressStarted.value_or(m_env.scheduler->now());
    Task ticker;
    m_progressTicker = ticker;
    tick(ticker, start);
}

void PortalModel::tick(const Task& ticker, Clock::time_point start) {
    if (ticker.isCancelled()) return;
    if (!m_phase.is(Phase::Kind::converting)) return;
    const double shown = m_phase.fraction;
    double real = m_realProgress;
    if (m_foreground) {
        if (auto it = m_running.find(*m_foreground); it != m_running.end()) real = it->second.progress;
    }
    const double elapsed = elapsedSince(start);
    double synthetic = 0;
    if (real <= 0) {
        const double ramp = elapsed < 0 ? 0 : 0.03 * std::min(2 * elapsed, 1.0);
        const double creep = elapsed >= 0.5 ? 0.22 * (1 - std::exp(-(elapsed - 0.5) / 45)) : 0;
        synthetic = ramp + creep;
    }
    const double capped = std::min(real, 0.99);
    const double next = std::max({shown, capped, synthetic});
    if (shown + 0.001 < next) {
        setPhase(Phase::converting(next));
        if (m_isCollapsed && onProgressChanged) onProgressChanged(next, std::nullopt);
    }
    QPointer<PortalModel> weak(this);
    m_env.scheduler->after(kTick, [weak, ticker, start] {
        if (weak) weak->tick(ticker, start);
    });
}

void PortalModel::finishProgressDisplay(const Task& run, std::function<void()> done) {
    if (m_progressTicker) {
        m_progressTicker->cancel();
        m_progressTicker.reset();
    }
    if (!m_phase.is(Phase::Kind::converting)) {
        done();
        return;
    }
    const double start = m_phase.fraction;
    const double elapsed = m_progressStarted ? elapsedSince(*m_progressStarted) : 0;
    const double remaining = m_motion.minimumProgressDisplay - elapsed;
    int steps = remaining >= 0.12 ? static_cast<int>(remaining / 0.016) : 7;
    steps = std::max(steps, 6);
    fillStep(run, start, 1, steps, std::move(done));
}

void PortalModel::fillStep(const Task& run, double start, int step, int steps, std::function<void()> done) {
    if (run.isCancelled()) {
        done();
        return;
    }
    QPointer<PortalModel> weak(this);
    if (step > steps) {
        m_env.scheduler->after(kHold, [weak, done] {
            if (weak) done();
        });
        return;
    }
    // Someone cancelled, began a new gesture or started a newer run while the display
    // filled: that owns the phase now.
    if (!m_phase.is(Phase::Kind::converting) || m_foreground) {
        done();
        return;
    }
    setPhase(Phase::converting(std::min(start + (1 - start) * step / steps, 1.0)));
    m_env.scheduler->after(kTick, [weak, run, start, step, steps, done] {
        if (weak) weak->fillStep(run, start, step + 1, steps, done);
    });
}

// ---------------------------------------------------------------------------------------------
// Collapse and tray report

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
        Log::conversion().info("Conversion exceeded {:f}s; moving to the menu bar", delay);
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

std::optional<double> PortalModel::aggregateProgress() const {
    if (m_running.empty()) return std::nullopt;
    double sum = 0;
    for (const auto& [id, record] : m_running) sum += record.progress;
    return sum / static_cast<double>(m_running.size());
}

void PortalModel::reportToMenuBar() {
    if (!onProgressChanged) return;
    if (m_running.empty()) {
        onProgressChanged(std::nullopt, std::nullopt);
        return;
    }
    const Running* oldest = nullptr;
    for (const auto& [id, record] : m_running) {
        if (!oldest || std::tie(record.started, record.sequence) < std::tie(oldest->started, oldest->sequence)) {
            oldest = &record;
        }
    }
    const std::optional<double> progress =
        m_phase.is(Phase::Kind::converting) ? std::optional<double>(m_phase.fraction) : aggregateProgress();
    onProgressChanged(progress, oldest->label);
}

}  // namespace kolvex
