#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include <QImage>
#include <QObject>
#include <QSizeF>

#include "core/conversion/FakePortalWork.h"
#include "core/format/ConversionJob.h"
#include "core/format/RingTarget.h"
#include "core/services/Preferences.h"
#include "core/services/Uuid.h"
#include "interaction/DragPayload.h"
#include "interaction/PortalPlacement.h"
#include "interaction/RingLayout.h"
#include "interaction/RingSelector.h"
#include "ui/anim/Animation.h"
#include "ui/portal/model/PortalConversionService.h"
#include "ui/portal/model/PortalMotion.h"
#include "ui/portal/model/PortalPhase.h"
#include "ui/portal/model/PortalRuns.h"
#include "ui/portal/model/PortalScheduler.h"

namespace kolvex {

class ConversionCoordinator;

// The one object that holds what the Portal shows and does: the gesture's files, the ring and
// its selection, the keyboard search, the phase, the running conversions with their progress,
// and the collapse into the tray. GUI thread only: every operation, every signal and every
// callback. Blocking conversion work runs on worker threads through the scheduler and comes
// back to the GUI thread before it touches the model; callbacks of work that outlives the
// model do nothing.
class PortalModel : public QObject {
    Q_OBJECT

public:
    using Phase = PortalPhase;
    using Clock = PortalScheduler::Clock;

    using ActiveConversion = PortalRuns::ActiveConversion;
    // The Portal's disc: beyond this distance from its centre the pointer is outside it.
    static constexpr double kDiscRadius = 240;
    using PendingFile = PortalRuns::PendingFile;

    // Everything the model takes from its surroundings; the defaults are the real ones.
    struct Environment {
        std::shared_ptr<PortalScheduler> scheduler;           // default: QtPortalScheduler
        std::function<bool()> reduceMotion;                   // default: the desktop's setting
        std::function<double()> screenScale;                  // default: the primary screen's, else 2
        // Makes the picture of a file; blocking, called on a worker thread; a null image when
        // there is none. Default: Thumbnailer::picture.
        std::function<QImage(const std::filesystem::path&, QSizeF, double)> thumbnail;
        // The file's icon instead, on the GUI thread. Default: Thumbnailer::icon.
        std::function<QImage(const std::filesystem::path&, QSizeF, double)> icon;
        std::shared_ptr<const FakePortalWork> simulatedWork;  // default: real waiting
    };

    // The fields the views observe; `changed` names the one that was set.
    enum class Field {
        payload, isRevealed, isCursorInside, mode, targets, selectedIndex, phase, thumbnail, metrics,
        motion, cursorVector, commitAngle, showingDetails, isKeyboardDriven, isShowingFormatList,
        formatQuery, listHighlight, isCollapsed, collapseProgress
    };

    // `coordinator` may be null: the model then simulates its conversions.
    PortalModel(std::shared_ptr<const RingTargetProviding> provider, std::shared_ptr<ConversionCoordinator> coordinator,
                Environment environment = {}, QObject* parent = nullptr);
    // The same with any conversion service (tests); null simulates.
    PortalModel(std::shared_ptr<const RingTargetProviding> provider, std::shared_ptr<PortalConversionService> service,
                Environment environment, QObject* parent = nullptr);
    ~PortalModel() override;

    // --- Published state (read) ---
    const std::optional<DragPayload>& payload() const { return m_payload; }
    bool isRevealed() const { return m_isRevealed; }
    bool isCursorInside() const { return m_isCursorInside; }
    PortalMode mode() const { return m_mode; }
    const std::vector<RingTarget>& targets() const { return m_targets; }
    std::optional<int> selectedIndex() const { return m_selectedIndex; }
    const Phase& phase() const { return m_phase; }
    const QImage& thumbnail() const { return m_thumbnail; }  // null when there is none
    const RingMetrics& metrics() const { return m_metrics; }
    const PortalMotion& motion() const { return m_motion; }
    PortalPlacement::CursorVector cursorVector() const { return m_cursorVector; }
    double commitAngle() const { return m_commitAngle; }
    bool showingDetails() const { return m_showingDetails; }
    bool isKeyboardDriven() const { return m_isKeyboardDriven; }
    bool isShowingFormatList() const { return m_isShowingFormatList; }
    const std::string& formatQuery() const { return m_formatQuery; }
    int listHighlight() const { return m_listHighlight; }
    bool isCollapsed() const { return m_isCollapsed; }
    double collapseProgress() const { return m_collapseProgress; }

    // The animation of the change being announced by `changed`; `none` outside a change and
    // for plain assignments.
    const Animation& currentAnimation() const { return m_animation; }

    // --- Published state written from outside ---
    void setCursorInside(bool inside);              // the drop view
    void setShowingDetails(bool showing);           // the failure view's "Show details"
    void setKeyboardDriven(bool keyboardDriven);    // the panel, at each opening
    void setPayload(std::optional<DragPayload> payload);  // the panel's finish clears it
    void setMetrics(const RingMetrics& metrics);    // the tuning window
    void setMotion(const PortalMotion& motion);     // the tuning window

    // --- Derived ---
    bool isBusy() const { return !m_phase.is(Phase::Kind::browsing); }
    int activeCount() const { return m_runs.count(); }
    std::vector<ActiveConversion> activeConversions() const { return m_runs.activeConversions(); }
    std::optional<double> aggregateProgress() const { return m_runs.aggregateProgress(); }
    const RingLayout& layout() const { return m_layout; }
    std::optional<RingTarget> selectedTarget() const;
    bool reduceMotion() const;
    Animation revealAnimation() const;
    bool nothingToOffer() const;
    std::string nothingHeadline() const;
    std::string nothingDetail() const;
    std::vector<RingTarget> filteredTargets() const;

    // --- Gesture, ring and selection ---
    void beginGesture(const DragPayload& payload, PortalMode mode);
    void apply(PortalMode mode);
    // Where the pointer was, from the Portal's centre, when the Portal appeared under it (away
    // from the centre when the Portal was pushed back on screen). The chip chosen follows the
    // pointer's movement from there, so nothing is chosen until the user moves.
    void anchorGesture(PortalPlacement::CursorVector offset);
    // The pointer's offset from the Portal's centre. Outside the disc nothing is chosen.
    void updateCursor(PortalPlacement::CursorVector vector);
    void setRevealed(bool revealed);
    void clearGesture();
    // The files of a drag whose source would not name them until its drop reached our window:
    // completes a pending payload, builds the ring anew and loads the picture. Nothing for a
    // payload that is not pending or for no files.
    void completePendingPayload(const std::vector<std::filesystem::path>& files);

    // --- Keyboard path and commit ---
    // Starts the selected target for the gesture's files; only while browsing with a target
    // selected. True when a run started or a parameter sheet was asked for.
    bool commit();
    // A drop of `files` on the Portal. The dropped files are what converts: when they differ
    // from the gesture's, the ring is built for them and the drop goes on only when the
    // selected target is still on it. True when something started.
    bool commitDrop(const std::vector<std::filesystem::path>& files);
    void commitFromList();
    void selectFirstTarget();
    void cycleMode();
    void moveSelection(int delta);
    // Typed text: opens the search list, or adds to the query when it is open.
    void beginFormatSearch(const std::string& text);
    // Backspace: removes the query's last character; an empty query closes the list.
    void deleteSearchCharacter();
    void endFormatSearch();
    void dismissByKeyboard();

    // --- Cancelling and replacing the sources ---
    // Stops the Portal's own display work (ticker, collapse) and returns it to browsing;
    // conversions go on.
    void resetToBrowsing();
    // Stops every conversion and every queued file, and closes the Portal.
    void cancelAllConversions();
    // Stops one conversion (with the rest of its batch); the Portal closes when it showed it.
    void cancelConversion(const Uuid& id);
    // Stops the conversion the Portal shows (with the rest of its batch) and closes it.
    void cancelShownConversion();
    // New sources: taken at once while browsing (the ring is built anew from them), else kept
    // and taken when the Portal next browses.
    void replaceProvider(std::shared_ptr<const RingTargetProviding> provider,
                         std::shared_ptr<ConversionCoordinator> coordinator);
    void replaceProvider(std::shared_ptr<const RingTargetProviding> provider,
                         std::shared_ptr<PortalConversionService> service);

    // --- Tool parameters (from the sheets, through the application shell) ---
    void applyParameters(const ConversionOptions& options);
    void applyParameters(const ConversionOptions& options, const std::vector<std::filesystem::path>& ordering);
    void applyParameters(const ConversionOptions& options, const std::filesystem::path& toOne);
    void finishParameterRun(const std::vector<PendingFile>& pending);
    void discardParameters();
    // The sheet could not be prepared: the Portal shows `reason` as a failure, and it is
    // reported as the tool's failure for the file.
    void failParameters(const std::string& reason);
    // The pointer moved away from the Portal: a failure kept up for its details closes now.
    void pointerLeft();

    // --- Callbacks: set after construction; called on the GUI thread, only when set ---
    std::function<void()> onFinished;
    // (outputs of every successful job, the source of each successful job)
    // What a run (or a whole batch) produced and what failed, once it ended; not for work the
    // user cancelled.
    std::function<void(const RunReport&)> onCompleted;
    std::function<void(const RingTarget&, const DragPayload&)> onNeedsParameters;
    std::function<void()> onCollapse;
    // (progress, label) for the tray; (none, none) when nothing runs.
    std::function<void(std::optional<double>, std::optional<std::string>)> onProgressChanged;

    // The settings, read once per run. Default: loaded from the standard user defaults.
    std::function<Preferences()> preferencesProvider;
    // With "Ask each time": asks where a run's outputs go and answers through the continuation,
    // with none when the user cancelled. Unset: beside the sources.
    std::function<void(std::function<void(std::optional<std::filesystem::path>)>)> onChooseOutputFolder;
    // With "Ask what to do": asked once per run with the plain names already taken; true keeps
    // both (numbered names), false skips those files. May block in a dialog. Unset: keep both.
    std::function<bool(const std::vector<std::filesystem::path>&)> onNamesTaken;

signals:
    void changed(kolvex::PortalModel::Field field);

private:
    using Task = PortalTask;
    // What a run's work returned: the coordinator's results, or (for stand-in work and targets
    // that cannot run) the outcome to show.
    struct RunEnd {
        std::vector<ConversionResult> results;
        std::optional<PortalPhase> outcome;
    };
    struct Sources {
        std::shared_ptr<const RingTargetProviding> provider;
        std::shared_ptr<PortalConversionService> service;
    };

    template <typename T>
    void publish(T& field, T value, Field which, const Animation& animation = Animation::none());

    void setPhase(Phase phase, const Animation& animation = Animation::none());
    void setCursorVector(PortalPlacement::CursorVector vector);
    void setSelectedIndex(std::optional<int> index);
    void setTargets(std::vector<RingTarget> targets, const Animation& animation);
    void relayout();

    void sendForegroundToBackground();
    void loadThumbnail(const DragPayload& payload);
    void takePendingSources();
    void rebuildRing();
    // The vector the ring selects by: the pointer's movement since the reveal, or none
    // outside the disc.
    PortalPlacement::CursorVector selectionVector(PortalPlacement::CursorVector vector) const;

    // Starts one run; in the foreground (the Portal shows it) unless `foreground` is false.
    void run(const RingTarget& target, const DragPayload& payload, const std::optional<ConversionOptions>& overriding,
             std::optional<PortalRuns::BatchID> batch = std::nullopt, bool foreground = true);
    // perform() once the output folder is known (asked for first when the settings say so).
    void performIn(const Uuid& id, const RingTarget& target, const DragPayload& payload,
                   const std::optional<ConversionOptions>& overriding, const Task& task, std::function<void(RunEnd)> done,
                   const Preferences& preferences, std::optional<std::filesystem::path> outputDirectory);
    // Runs `work` off the GUI thread under the run's stop token; `done` gets its end on the GUI thread.
    void startWork(const Task& task, std::function<void(RunEnd)> done, std::function<RunEnd(std::stop_token)> work);
    // The request's rules: the user's concurrency, and the question about taken names.
    RunRules runRules(const Preferences& preferences, const Task& task);
    void perform(const Uuid& id, const RingTarget& target, const DragPayload& payload,
                 const std::optional<ConversionOptions>& overriding, const Task& task, std::function<void(RunEnd)> done);
    void progressReported(const Uuid& id, double fraction, bool fromCoordinator);
    void endRun(const Uuid& id, const RunEnd& end);
    void finishShownRun(const Task& task, Clock::time_point started, const Phase& outcome);
    void showOutcome(const Task& task, const Phase& outcome);
    void report(const std::vector<ConversionResult>& results, bool wentToTray);

    void startProgressDisplay();
    void scheduleCollapse(const std::string& label);
    void endCollapse();
    void reportToMenuBar();
    void closeParameterBatch();

    bool pendingParameters(RingTarget& target) const;

    // Published
    std::optional<DragPayload> m_payload;
    bool m_isRevealed = false;
    bool m_isCursorInside = false;
    PortalMode m_mode = PortalMode::convert;
    std::vector<RingTarget> m_targets;
    std::optional<int> m_selectedIndex;
    Phase m_phase;
    QImage m_thumbnail;
    RingMetrics m_metrics;
    PortalMotion m_motion;
    PortalPlacement::CursorVector m_cursorVector;
    double m_commitAngle;
    bool m_showingDetails = false;
    bool m_heldOpen = false;  // a failure outlived its linger while its details were read
    bool m_isKeyboardDriven = false;
    bool m_isShowingFormatList = false;
    std::string m_formatQuery;
    int m_listHighlight = 0;
    bool m_isCollapsed = false;
    double m_collapseProgress = 0;

    // Private
    std::shared_ptr<const RingTargetProviding> m_provider;
    std::shared_ptr<PortalConversionService> m_service;
    std::optional<Sources> m_pendingSources;  // arrived while busy; taken when browsing again
    Environment m_env;
    RingSelector m_selector;
    RingLayout m_layout;
    bool m_ringAsked = false;  // the provider was asked for this payload and mode
    PortalPlacement::CursorVector m_revealOffset;  // pointer offset at the reveal
    std::optional<Task> m_work;
    PortalRuns m_runs;
    // The batch that the pending parameter sheet's files start in, one by one or at its end.
    std::optional<PortalRuns::BatchID> m_parameterBatch;
    std::optional<Task> m_collapseTask;
    Animation m_animation;
};

template <typename T>
void PortalModel::publish(T& field, T value, Field which, const Animation& animation) {
    field = std::move(value);
    const Animation previous = m_animation;
    m_animation = animation;
    emit changed(which);
    m_animation = previous;
}

}  // namespace kolvex
