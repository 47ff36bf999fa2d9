// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/format/ConversionJob.h"
#include "core/format/ConversionOptions.h"
#include "core/format/RingTarget.h"
#include <QObject>

#include "core/conversion/FakePortalWork.h"
#include "core/services/Preferences.h"
#include "core/services/Uuid.h"
#include "interaction/DragPayload.h"
#include "ui/portal/model/PortalConversionService.h"
#include "ui/portal/model/PortalDisplay.h"
#include "ui/portal/model/PortalPhase.h"
#include "ui/portal/model/PortalRequest.h"
#include "ui/portal/model/PortalRuns.h"
#include "ui/portal/model/DropQuestions.h"
#include "ui/portal/model/RunQuestions.h"

namespace kolvex {

// What a commit sets going: the questions the settings leave to the user (asked before
// anything runs, and before a tool's first sheet), the runs on the conversion service and the
// batches whose files run one by one, their results, cancelling, and the tool parameters that
// the sheets hand back. It owns what it asked and the batches it opened; the display of the
// run the Portal shows is PortalDisplay's, and the runs' records are PortalRuns'. GUI thread
// only.
class PortalRunFlow {
public:
    using Task = PortalTask;
    using PendingFile = PortalRuns::PendingFile;

    // What it needs from around it; every callback is called on the GUI thread and may be unset.
    struct Surroundings {
        std::shared_ptr<PortalScheduler> scheduler;
        QObject* owner = nullptr;  // outlives the flow; work handed back after it went is dropped
        std::shared_ptr<const FakePortalWork> simulatedWork;
        std::function<std::shared_ptr<const RingTargetProviding>()> provider;
        std::function<std::shared_ptr<PortalConversionService>()> service;  // null: simulated work
        std::function<Preferences()> preferences;  // read once per run
        std::function<std::optional<DragPayload>()> payload;  // the gesture's files
        // The questions the user answers; read when a commit asks.
        std::function<RunQuestions::ChooseFolderBeside()> chooseFolder;
        std::function<RunQuestions::AskAboutNames()> askAboutNames;
        RunQuestions::Withdraw withdrawQuestion;  // takes the question on screen down unanswered
        std::function<void(bool)> asking;  // the Portal steps aside (true) or comes back
        std::function<void(const RingTarget&, const DragPayload&)> needsParameters;
        std::function<void(const RunReport&)> completed;
        std::function<void()> finished;  // the Portal should close
        std::function<void()> browsingAgain;  // back to browsing: sources that waited are taken
    };

    PortalRunFlow(PortalRuns& runs, PortalDisplay& display, Surroundings surroundings);
    // A question still on screen answers into nothing once the flow has gone.
    ~PortalRunFlow();
    PortalRunFlow(const PortalRunFlow&) = delete;
    PortalRunFlow& operator=(const PortalRunFlow&) = delete;

    // The user chose `target` for the gesture's files: asks what the settings leave open,
    // then asks for the tool's settings or starts the run.
    void commit(const RingTarget& target, const DragPayload& payload);
    // A new gesture or a reset: a question not yet answered is taken down (its files are told
    // as not converted, for `why`, when one is given), and the pending sheet's batch is
    // forgotten.
    void forgetPending(const std::optional<std::string>& why);
    // The shown run goes on in the tray. True when it still ran.
    bool sendForegroundToBackground();

    void resetToBrowsing();
    void cancelAllConversions();
    void cancelConversion(const Uuid& id);
    void cancelShownConversion();

    void applyParameters(const ConversionOptions& options);
    void applyParameters(const ConversionOptions& options, const std::vector<std::filesystem::path>& ordering);
    void applyParameters(const ConversionOptions& options, const std::filesystem::path& toOne);
    void finishParameterRun(const std::vector<PendingFile>& pending);
    // Before a walk's sheet for `file`: true when the user's answer for this drop was Skip and
    // what `options` write for the file would take a name that is taken. The file then joins
    // the walk's results as skipped, with the name that was taken, so the sheet of a file that
    // would not be converted is never shown. Looks the names up at once (on this thread).
    bool skipsInWalk(const ConversionOptions& options, const std::filesystem::path& file);
    void discardParameters();
    void failParameters(const std::string& reason, const std::optional<std::filesystem::path>& file);

private:
    // What a run's work returned: the coordinator's results, or (for stand-in work and targets
    // that cannot run) the outcome to show.
    struct RunEnd {
        std::vector<ConversionResult> results;
        std::optional<PortalPhase> outcome;
    };

    static bool hasSheet(const RingTarget& target);
    void proceed(const RingTarget& target, const DragPayload& payload, const RunAnswers& answers);
    // Runs `go` once the names that `groups` will write have been asked about, when the
    // settings ask and nothing was answered for this drop yet; at once otherwise.
    void afterNames(const RingTarget& target, std::vector<DropQuestions::Group> groups, std::function<void()> go);
    void startParameterRun(const RingTarget& target, const std::vector<PendingFile>& pending);
    DropQuestions::Surroundings questionSurroundings();
    void stopAsking(const std::optional<std::string>& why);
    // Starts one run; in the foreground (the Portal shows it) unless `foreground` is false.
    void run(const RingTarget& target, const DragPayload& payload, const std::optional<ConversionOptions>& overriding,
             const RunAnswers& answers, std::optional<PortalRuns::BatchID> batch = std::nullopt,
             bool foreground = true);
    void perform(const Uuid& id, const RingTarget& target, const DragPayload& payload,
                 const std::optional<ConversionOptions>& overriding, const RunAnswers& answers, const Task& task,
                 std::function<void(RunEnd)> done);
    // Runs `work` off the GUI thread under the run's stop token; `done` gets its end on the GUI thread.
    void startWork(const Task& task, std::function<void(RunEnd)> done, std::function<RunEnd(std::stop_token)> work);
    void progressReported(const Uuid& id, double fraction, bool fromCoordinator);
    void endRun(const Uuid& id, const RunEnd& end);
    void report(const std::vector<ConversionResult>& results, bool wentToTray);
    void closeParameterBatch();
    bool pendingParameters(RingTarget& target, DragPayload& payload) const;
    PortalRuns::BatchID parameterBatch(const RingTarget& target);

    void finished() const;
    Preferences preferences() const;

    PortalRuns& m_runs;
    PortalDisplay& m_display;
    Surroundings m_env;
    DropQuestions m_questions;
    RunAnswers m_answers;          // what the user answered for the gesture's files
    // The batch that the pending parameter sheet's files start in, one by one or at its end.
    std::optional<PortalRuns::BatchID> m_parameterBatch;
    std::map<PortalRuns::BatchID, RunAnswers> m_batchAnswers;  // for the files a batch queues
    // Work it started finds it gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace kolvex
