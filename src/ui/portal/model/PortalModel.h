// SPDX-License-Identifier: GPL-3.0-or-later
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
#include "ui/portal/model/PortalDisplay.h"
#include "ui/portal/model/PortalMotion.h"
#include "ui/portal/model/PortalPhase.h"
#include "ui/portal/model/PortalRunFlow.h"
#include "ui/portal/model/PortalRuns.h"
#include "ui/portal/model/PortalScheduler.h"
#include "ui/portal/model/PortalSearch.h"

namespace kolvex {

class ConversionCoordinator;

// The one object through which the Portal's window, views and the application shell see and
// drive what the Portal shows and does. It holds the published state and the gesture (the
// gesture's files, the ring and its selection) itself, and hands the rest to the parts that do
// it: the keyboard search (PortalSearch), the run flow with its questions, batches, cancelling
// and tool parameters (PortalRunFlow, RunQuestions), the requests (PortalRequest) and the
// display of a run's progress, outcome and collapse (PortalDisplay). GUI thread only: every
// operation, every signal and every callback. Blocking conversion work runs on worker threads
// through the scheduler and comes back to the GUI thread before it touches the model;
// callbacks of work that outlives the model do nothing.
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
    const Phase& phase() const { return m_display.phase(); }
    const QImage& thumbnail() const { return m_thumbnail; }  // null when there is none
    const RingMetrics& metrics() const { return m_metrics; }
    const PortalMotion& motion() const { return m_motion; }
    PortalPlacement::CursorVector cursorVector() const { return m_cursorVector; }
    double commitAngle() const { return m_commitAngle; }
    bool showingDetails() const { return m_display.showingDetails(); }
    bool isKeyboardDriven() const { return m_isKeyboardDriven; }
    bool isShowingFormatList() const { return m_search.isShowingList(); }
    // Whether a typed key's text goes to the format search (PortalSearch::takes).
    bool takesSearchText(const std::string& text) const { return m_search.takes(text); }
    const std::string& formatQuery() const { return m_search.query(); }
    int listHighlight() const { return m_search.highlight(); }
    bool isCollapsed() const { return m_display.isCollapsed(); }
    double collapseProgress() const { return m_display.collapseProgress(); }

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
    bool isBusy() const { return !phase().is(Phase::Kind::browsing); }
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
    // What brought the files: a drag the trigger key opened the Portal over, or files handed to
    // the program (Convert Files…, a launch with files). A question still up for the drop
    // before is taken down, and its files are told as not converted for that reason.
    enum class GestureStart { drag, handedOver };
    void beginGesture(const DragPayload& payload, PortalMode mode, GestureStart start = GestureStart::drag);
    void apply(PortalMode mode);
    // Where the pointer is, from the Portal's centre, as the Portal appears under it (away from
    // the centre when the Portal was pushed back on screen near an edge): a pointer that
    // already points at a chip selects it at once.
    void anchorGesture(PortalPlacement::CursorVector offset);
    // The pointer's offset from the Portal's centre; the chip in its direction is selected
    // (with the ring's dead zone and hysteresis). Outside the disc nothing is chosen.
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
    // Before a walk's sheet for `file`: true when the drop's answer skips it (see PortalRunFlow).
    bool skipsInWalk(const ConversionOptions& options, const std::filesystem::path& file);
    void discardParameters();
    // The sheet for `file` (the first dropped file when none is named) could not be prepared:
    // the Portal shows `reason` as a failure, and it is reported as the tool's failure for
    // that file.
    void failParameters(const std::string& reason, const std::optional<std::filesystem::path>& file = std::nullopt);
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
    // The questions of a drop, asked before anything runs, while the Portal is out of the way:
    // the folder before a tool's first sheet, the names once the sheet chose what is written.
    // At most one question is up at a time.
    // With "Ask each time": asks where the outputs go, beside the window the files were dragged
    // from (0: none), and answers through the continuation, with none when the user cancelled.
    // Unset: where the settings say.
    RunQuestions::ChooseFolderBeside onChooseOutputFolder;
    // With "Ask what to do": asked once per drop with the plain names already taken, when there
    // are any; answers true to keep both (numbered names), false to skip those files. Unset:
    // keep both.
    std::function<void(const std::vector<std::filesystem::path>&, std::function<void(bool)>)> onNamesTaken;
    // (true) The Portal steps out of the way: a question is about to be asked in front of it.
    // (false) It comes back: the run starts, or the drop's outcome is shown. A question
    // followed by a tool's sheet leaves it away; the sheet's end brings it back.
    std::function<void(bool)> onAsking;
    // The question put up last (folder or names) is taken down unanswered: the drop it asked
    // about was replaced by a new drag or cancelled, and is told as not converted. Unset: the
    // question stays up and its answer is ignored.
    std::function<void()> onWithdrawQuestion;

signals:
    void changed(kolvex::PortalModel::Field field);

private:
    using Task = PortalTask;

    template <typename T>
    void publish(T& field, T value, Field which, const Animation& animation = Animation::none());
    void announce(Field which, const Animation& animation = Animation::none());

    void setCursorVector(PortalPlacement::CursorVector vector);
    void setSelectedIndex(std::optional<int> index);
    // The pointer's choice: published and logged when it changed.
    void select(std::optional<int> index, PortalPlacement::CursorVector vector);
    void logSelection(PortalPlacement::CursorVector vector) const;
    void setTargets(std::vector<RingTarget> targets, const Animation& animation);
    void relayout();
    void publishSearch();

    void loadThumbnail(const DragPayload& payload);
    void takePendingSources();
    PortalDisplay::Surroundings displaySurroundings();
    PortalRunFlow::Surroundings flowSurroundings();
    void rebuildRing();
    // The vector the ring selects by: the pointer's offset from the centre, or none outside
    // the disc.
    static PortalPlacement::CursorVector selectionVector(PortalPlacement::CursorVector vector);

    // Published
    std::optional<DragPayload> m_payload;
    bool m_isRevealed = false;
    bool m_isCursorInside = false;
    PortalMode m_mode = PortalMode::convert;
    std::vector<RingTarget> m_targets;
    std::optional<int> m_selectedIndex;
    QImage m_thumbnail;
    RingMetrics m_metrics;
    PortalMotion m_motion;
    PortalPlacement::CursorVector m_cursorVector;
    double m_commitAngle;
    bool m_isKeyboardDriven = false;
    PortalSearch m_search;

    // Private
    struct Sources {
        std::shared_ptr<const RingTargetProviding> provider;
        std::shared_ptr<PortalConversionService> service;
    };
    std::shared_ptr<const RingTargetProviding> m_provider;
    std::shared_ptr<PortalConversionService> m_service;
    std::optional<Sources> m_pendingSources;  // arrived while busy; taken when browsing again
    Environment m_env;
    RingSelector m_selector;
    RingLayout m_layout;
    bool m_ringAsked = false;  // the provider was asked for this payload and mode
    Animation m_animation;
    // The parts: the runs' records, how the Portal shows them (with the phase, the details and
    // the collapse), and what a commit sets going.
    PortalRuns m_runs;
    PortalDisplay m_display;
    PortalRunFlow m_flow;
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
