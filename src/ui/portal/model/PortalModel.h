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

#include "core/conversion/SimulatedPortalWork.h"
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
#include "ui/portal/model/PortalScheduler.h"

namespace kolvex {

class ConversionCoordinator;

// What the Portal shows in its middle.
struct PortalPhase {
    enum class Kind { converting, succeeded, failed, needsParameters, browsing };

    Kind kind = Kind::browsing;
    double fraction = 0;                  // converting: the shown fraction 0…1
    std::string name;                     // succeeded: the output's name, or "N files"
    std::optional<std::string> note;      // succeeded
    std::string message;                  // failed
    std::optional<std::string> detail;    // failed
    std::optional<RingTarget> target;     // needsParameters

    static PortalPhase browsing() { return {}; }
    static PortalPhase converting(double fraction);
    static PortalPhase succeeded(std::string name, std::optional<std::string> note = std::nullopt);
    static PortalPhase failed(std::string message, std::optional<std::string> detail = std::nullopt);
    static PortalPhase needsParameters(RingTarget target);

    bool is(Kind k) const { return kind == k; }
    // Equal when the case and that case's payload are equal.
    bool operator==(const PortalPhase& other) const;
};

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

    // The tray menu's row for one running conversion.
    struct ActiveConversion {
        Uuid id;
        std::string label;
        double progress = 0;
        bool isForeground = false;
        bool operator==(const ActiveConversion&) const = default;
    };

    // One file of a batch with its own options.
    struct PendingFile {
        std::filesystem::path url;
        ConversionOptions options;
    };

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

    // Tool ids whose commit opens a parameter sheet instead of running at once.
    static const std::set<std::string>& toolsNeedingParameters();

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
    void setCursorVector(PortalPlacement::CursorVector vector);  // the panel, when it anchors
    void setMetrics(const RingMetrics& metrics);    // the tuning window
    void setMotion(const PortalMotion& motion);     // the tuning window

    // --- Derived ---
    bool isBusy() const { return !m_phase.is(Phase::Kind::browsing); }
    int activeCount() const { return static_cast<int>(m_running.size()); }
    std::vector<ActiveConversion> activeConversions() const;
    std::optional<double> aggregateProgress() const;
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
    void updateCursor(PortalPlacement::CursorVector vector);
    void setRevealed(bool revealed);
    void clearGesture();
    // The files of a drag whose source would not name them until its drop reached our window:
    // completes a pending payload, builds the ring anew and loads the picture. Nothing for a
    // payload that is not pending or for no files.
    void completePendingPayload(const std::vector<std::filesystem::path>& files);

    // --- Keyboard path and commit ---
    bool commit();
    void commitFromList();
    void selectFirstTarget();
    void cycleMode();
    void moveSelection(int delta);
    void beginFormatSearch(const std::string& text);
    void endFormatSearch();
    void dismissByKeyboard();

    // --- Cancelling and replacing the sources ---
    void cancelWork();
    void cancelAll();
    void cancel(const Uuid& id);
    void cancel();
    // Taken only while the Portal is hidden and browsing; dropped otherwise.
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

    // --- Callbacks: set after construction; called on the GUI thread, only when set ---
    std::function<void()> onFinished;
    // (outputs of every successful job, the source of each successful job)
    std::function<void(const std::vector<std::filesystem::path>&, const std::vector<std::filesystem::path>&)>
        onCompleted;
    std::function<void(const RingTarget&, const DragPayload&)> onNeedsParameters;
    std::function<void()> onCollapse;
    // (progress, label) for the tray; (none, none) when nothing runs.
    std::function<void(std::optional<double>, std::optional<std::string>)> onProgressChanged;

    // The settings, read once per run. Default: loaded from the standard user defaults.
    std::function<Preferences()> preferencesProvider;

signals:
    void changed(kolvex::PortalModel::Field field);

private:
    // A piece of model work that can be asked to stop: checked after every wait.
    struct Task {
        std::shared_ptr<std::stop_source> stop = std::make_shared<std::stop_source>();
        void cancel() const { stop->request_stop(); }
        bool isCancelled() const { return stop->stop_requested(); }
    };

    struct Running {
        Uuid id;
        std::string label;
        Clock::time_point started;
        double progress = 0;
        std::optional<Task> task;
        unsigned long sequence = 0;  // start order, for runs started within one clock tick
    };

    template <typename T>
    void publish(T& field, T value, Field which, const Animation& animation = Animation::none());

    void setPhase(Phase phase, const Animation& animation = Animation::none());
    void setSelectedIndex(std::optional<int> index);
    void setTargets(std::vector<RingTarget> targets, const Animation& animation);
    void relayout();

    void sendForegroundToBackground();
    void loadThumbnail(const DragPayload& payload);

    void run(const RingTarget& target, const DragPayload& payload, const std::optional<ConversionOptions>& overriding);
    void perform(const Uuid& id, const RingTarget& target, const DragPayload& payload,
                 const std::optional<ConversionOptions>& overriding, const Task& task,
                 std::function<void(Phase)> done);
    Phase outcomeOf(const std::vector<ConversionResult>& results);
    void progressReported(const Uuid& id, double fraction, bool fromCoordinator);
    void endRun(const Uuid& id, const Task& task, const Phase& outcome);
    void showOutcome(const Uuid& id, const Task& task, const Phase& outcome);
    void startNextQueued();

    void startProgressDisplay();
    void tick(const Task& ticker, Clock::time_point start);
    void finishProgressDisplay(const Task& run, std::function<void()> done);
    void fillStep(const Task& run, double start, int step, int steps, std::function<void()> done);
    void scheduleCollapse(const std::string& label);
    void endCollapse();
    void reportToMenuBar();

    bool pendingParameters(RingTarget& target) const;
    double elapsedSince(Clock::time_point start) const;

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
    bool m_isKeyboardDriven = false;
    bool m_isShowingFormatList = false;
    std::string m_formatQuery;
    int m_listHighlight = 0;
    bool m_isCollapsed = false;
    double m_collapseProgress = 0;

    // Private
    std::shared_ptr<const RingTargetProviding> m_provider;
    std::shared_ptr<PortalConversionService> m_service;
    Environment m_env;
    RingSelector m_selector;
    RingLayout m_layout;
    std::optional<Task> m_work;
    std::map<Uuid, Running> m_running;
    std::optional<Uuid> m_foreground;
    unsigned long m_runsStarted = 0;
    double m_realProgress = 0;
    std::vector<PendingFile> m_queuedPerFile;
    std::optional<RingTarget> m_queuedTarget;
    std::optional<Task> m_progressTicker;
    std::optional<Clock::time_point> m_progressStarted;
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
