// The requests of the Portal's runs: what a run asks the conversion service for, built from the
// settings of the moment (the output folder asked for first when they say so), and the work
// started off the GUI thread.

#include <chrono>
#include <future>

#include <QPointer>

#include "core/services/Log.h"
#include "ui/async/AsyncTask.h"
#include "ui/portal/model/PortalModel.h"

namespace kolvex {

void PortalModel::perform(const Uuid& id, const RingTarget& target, const DragPayload& payload,
                          const std::optional<ConversionOptions>& overriding, const Task& task,
                          std::function<void(RunEnd)> done) {
    QPointer<PortalModel> weak(this);
    // Work may outlive the model and its scheduler: it reports through the long-lived runner.
    TaskRunner* scheduler = &m_env.scheduler->tasks();
    const auto start = [this, task, done](std::function<RunEnd(std::stop_token)> work) {
        startWork(task, done, std::move(work));
    };

    if (!m_service) {
        // Simulated work names an output but writes none.
        auto work = m_env.simulatedWork;
        const auto urls = payload.urls;
        start([=](std::stop_token token) -> RunEnd {
            const auto progress = [=](double fraction) {
                scheduler->post([=] {
                    if (weak) weak->progressReported(id, fraction, false);
                });
            };
            const FakePortalWork::Outcome outcome = work->run(urls, target, progress, token);
            return {{}, outcome.failed ? Phase::failed("Couldn't convert") : Phase::succeeded(outcome.outputName)};
        });
        return;
    }

    const Preferences preferences = preferencesProvider ? preferencesProvider() : Preferences{};
    if (preferences.outputLocation == Preferences::OutputLocation::ask && onChooseOutputFolder) {
        // Nothing is planned, let alone written, before the user has picked the folder.
        onChooseOutputFolder([weak, id, target, payload, overriding, task, done,
                              preferences](std::optional<std::filesystem::path> folder) {
            if (!weak || task.isCancelled()) return;
            if (!folder) {
                Log::conversion().info("No output folder chosen; nothing converted");
                done({{}, Phase::failed("Nothing converted", "No folder was chosen for the converted files.")});
                return;
            }
            weak->performIn(id, target, payload, overriding, task, done, preferences, std::move(folder));
        });
        return;
    }
    performIn(id, target, payload, overriding, task, std::move(done), preferences, preferences.resolvedOutputDirectory());
}

void PortalModel::startWork(const Task& task, std::function<void(RunEnd)> done,
                            std::function<RunEnd(std::stop_token)> work) {
    // The work runs off the GUI thread; its end comes back here. Cancelling the run, or the
    // application quitting, stops it through the one token it is handed.
    auto stop = task.stop;
    AsyncTask::start<RunEnd>(
        m_env.scheduler->tasks(), this,
        [stop, work](std::stop_token quitting) {
            const std::stop_callback forward(quitting, [stop] { stop->request_stop(); });
            return work(stop->get_token());
        },
        done, [done](const std::string& reason) { done({{}, Phase::failed("Couldn't convert", reason)}); });
}

RunRules PortalModel::runRules(const Preferences& preferences, const Task& task) {
    RunRules rules = preferences.runRules();
    if (preferences.conflictBehaviour != Preferences::ConflictBehaviour::ask) return rules;
    QPointer<PortalModel> weak(this);
    TaskRunner* scheduler = &m_env.scheduler->tasks();
    auto stop = task.stop;
    // Asked from the worker that planned the run; the question itself is put on the GUI thread.
    rules.keepBothWhenTaken = [weak, scheduler, stop](const std::vector<std::filesystem::path>& names) {
        auto answer = std::make_shared<std::promise<bool>>();
        std::future<bool> answered = answer->get_future();
        scheduler->post([weak, names, answer] {
            const bool keepBoth = !weak || !weak->onNamesTaken || weak->onNamesTaken(names);
            answer->set_value(keepBoth);
        });
        while (answered.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            if (stop->stop_requested()) return false;  // the run is being cancelled: start nothing
        }
        try {
            return answered.get();
        } catch (const std::future_error&) {
            return true;  // the question was never asked (the application is quitting)
        }
    };
    return rules;
}

void PortalModel::performIn(const Uuid& id, const RingTarget& target, const DragPayload& payload,
                            const std::optional<ConversionOptions>& overriding, const Task& task,
                            std::function<void(RunEnd)> done, const Preferences& preferences,
                            std::optional<std::filesystem::path> outputDirectory) {
    QPointer<PortalModel> weak(this);
    TaskRunner* scheduler = &m_env.scheduler->tasks();
    const auto start = [this, task, done](std::function<RunEnd(std::stop_token)> work) {
        startWork(task, done, std::move(work));
    };
    auto service = m_service;
    const auto progress = [=](const BatchProgress& report) {
        const double fraction = report.fraction;
        scheduler->post([=] {
            if (weak) weak->progressReported(id, fraction, true);
        });
    };
    const RunRules rules = runRules(preferences, task);

    if (target.formatID) {
        ConversionIntent intent =
            preferences.formatIntent(payload.urls, *target.formatID, m_provider->category(payload.urls));
        intent.outputDirectory = outputDirectory;
        intent.rules = rules;
        start([=](std::stop_token token) -> RunEnd { return {service->submit(intent, progress, token), std::nullopt}; });
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
        ToolIntent intent{payload.urls, *target.toolID, options, outputDirectory, rules};
        start([=](std::stop_token token) -> RunEnd { return {service->submit(intent, progress, token), std::nullopt}; });
    } else {
        const Phase notReady = Phase::failed(target.label + " isn't ready yet");
        start([notReady](std::stop_token) -> RunEnd { return {{}, notReady}; });
    }
}

}  // namespace kolvex
