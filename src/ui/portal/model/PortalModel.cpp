// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/PortalModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>

#include <fmt/format.h>

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

#include "core/services/Log.h"
#include "core/services/UserDefaults.h"
#include "ui/anim/ReduceMotion.h"
#include "ui/async/AsyncTask.h"
#include "ui/portal/model/Thumbnailer.h"

namespace kolvex {

// ---------------------------------------------------------------------------------------------
// Construction

namespace {

PortalModel::Environment completed(PortalModel::Environment env) {
    if (!env.scheduler) env.scheduler = std::make_shared<QtPortalScheduler>();
    if (!env.reduceMotion) env.reduceMotion = [] { return ReduceMotion::system(); };
    if (!env.screenScale) {
        env.screenScale = [] {
            const QScreen* screen = QGuiApplication::primaryScreen();
            return screen ? screen->devicePixelRatio() : 2.0;
        };
    }
    if (!env.thumbnail) env.thumbnail = &Thumbnailer::picture;
    if (!env.icon) env.icon = &Thumbnailer::icon;
    if (!env.simulatedWork) env.simulatedWork = std::make_shared<FakePortalWork>();
    return env;
}

std::string truncatedInt(double v) { return fmt::format("{}", static_cast<long>(v)); }

}  // namespace

PortalModel::PortalModel(std::shared_ptr<const RingTargetProviding> provider,
                         std::shared_ptr<ConversionCoordinator> coordinator, Environment environment, QObject* parent)
    : PortalModel(std::move(provider), PortalConversionService::wrapping(std::move(coordinator)),
                  std::move(environment), parent) {}

PortalModel::PortalModel(std::shared_ptr<const RingTargetProviding> provider,
                         std::shared_ptr<PortalConversionService> service, Environment environment, QObject* parent)
    : QObject(parent),
      m_commitAngle(std::numbers::pi / 2),
      m_provider(std::move(provider)),
      m_service(std::move(service)),
      m_env(completed(std::move(environment))),
      m_layout(std::vector<std::string>{}, m_metrics),
      m_runs(m_env.scheduler),
      m_display(m_runs, displaySurroundings()),
      m_flow(m_runs, m_display, flowSurroundings()) {
    preferencesProvider = [] { return PreferencesStore::load(UserDefaults::standard()); };
}

PortalModel::~PortalModel() {
    // Runs keep going on their own threads (until the scheduler, if this model held the last
    // reference to it, asks them to stop); what they hand back finds the model gone.
    onFinished = nullptr;
    onCompleted = nullptr;
    onNeedsParameters = nullptr;
    onCollapse = nullptr;
    onProgressChanged = nullptr;
    onAsking = nullptr;
    onWithdrawQuestion = nullptr;
}

PortalDisplay::Surroundings PortalModel::displaySurroundings() {
    PortalDisplay::Surroundings s;
    s.scheduler = m_env.scheduler;
    s.changed = [this](PortalDisplay::Field field, const Animation& animation) {
        switch (field) {
        case PortalDisplay::Field::phase: announce(Field::phase, animation); break;
        case PortalDisplay::Field::showingDetails: announce(Field::showingDetails, animation); break;
        case PortalDisplay::Field::isCollapsed: announce(Field::isCollapsed, animation); break;
        case PortalDisplay::Field::collapseProgress: announce(Field::collapseProgress, animation); break;
        }
    };
    s.motion = [this] { return m_motion; };
    s.reduceMotion = [this] { return reduceMotion(); };
    s.filesLabel = [this] { return m_payload ? m_payload->label() : std::string(); };
    s.finished = [this] {
        if (onFinished) onFinished();
    };
    s.collapsed = [this] {
        if (onCollapse) onCollapse();
    };
    s.progressChanged = [this](std::optional<double> progress, std::optional<std::string> label) {
        if (onProgressChanged) onProgressChanged(progress, std::move(label));
    };
    return s;
}

PortalRunFlow::Surroundings PortalModel::flowSurroundings() {
    PortalRunFlow::Surroundings s;
    s.scheduler = m_env.scheduler;
    s.owner = this;
    s.simulatedWork = m_env.simulatedWork;
    s.provider = [this] { return m_provider; };
    s.service = [this] { return m_service; };
    s.preferences = [this] { return preferencesProvider ? preferencesProvider() : Preferences{}; };
    s.payload = [this] { return m_payload; };
    s.chooseFolder = [this] { return onChooseOutputFolder; };
    s.askAboutNames = [this] { return onNamesTaken; };
    s.withdrawQuestion = [this] {
        if (onWithdrawQuestion) onWithdrawQuestion();
    };
    s.asking = [this](bool asking) {
        if (onAsking) onAsking(asking);
    };
    s.needsParameters = [this](const RingTarget& target, const DragPayload& payload) {
        if (onNeedsParameters) onNeedsParameters(target, payload);
    };
    s.completed = [this](const RunReport& report) {
        if (onCompleted) onCompleted(report);
    };
    s.finished = [this] {
        if (onFinished) onFinished();
    };
    s.browsingAgain = [this] { takePendingSources(); };
    return s;
}

// ---------------------------------------------------------------------------------------------
// Publishing

void PortalModel::announce(Field which, const Animation& animation) {
    const Animation previous = m_animation;
    m_animation = animation;
    emit changed(which);
    m_animation = previous;
}

void PortalModel::setSelectedIndex(std::optional<int> index) { publish(m_selectedIndex, index, Field::selectedIndex); }

void PortalModel::setTargets(std::vector<RingTarget> targets, const Animation& animation) {
    m_targets = std::move(targets);
    relayout();
    announce(Field::targets, animation);
}

void PortalModel::relayout() {
    std::vector<std::string> labels;
    labels.reserve(m_targets.size());
    for (const auto& t : m_targets) labels.push_back(t.label);
    m_layout = RingLayout(labels, m_metrics);
}

void PortalModel::setCursorInside(bool inside) { publish(m_isCursorInside, inside, Field::isCursorInside); }
void PortalModel::setShowingDetails(bool showing) { m_display.setShowingDetails(showing); }
void PortalModel::setKeyboardDriven(bool keyboardDriven) {
    publish(m_isKeyboardDriven, keyboardDriven, Field::isKeyboardDriven);
}
void PortalModel::setPayload(std::optional<DragPayload> payload) {
    publish(m_payload, std::move(payload), Field::payload);
}
void PortalModel::setCursorVector(PortalPlacement::CursorVector vector) {
    // Track samples arrive 120 times a second whether or not the pointer moved.
    if (vector == m_cursorVector) return;
    publish(m_cursorVector, vector, Field::cursorVector);
}
void PortalModel::setMetrics(const RingMetrics& metrics) {
    m_metrics = metrics;
    relayout();
    emit changed(Field::metrics);
}
void PortalModel::setMotion(const PortalMotion& motion) { publish(m_motion, motion, Field::motion); }

// ---------------------------------------------------------------------------------------------
// Derived

std::optional<RingTarget> PortalModel::selectedTarget() const {
    if (!m_selectedIndex) return std::nullopt;
    const int i = *m_selectedIndex;
    if (i < 0 || i >= static_cast<int>(m_targets.size())) return std::nullopt;
    return m_targets[static_cast<size_t>(i)];
}

bool PortalModel::reduceMotion() const { return m_env.reduceMotion(); }

Animation PortalModel::revealAnimation() const {
    return reduceMotion() ? Animation::easeOut(0.12) : Animation::spring(m_motion.revealResponse, m_motion.revealDamping);
}

// ---------------------------------------------------------------------------------------------
// Gesture, ring and selection

void PortalModel::beginGesture(const DragPayload& payload, PortalMode mode, GestureStart start) {
    m_flow.sendForegroundToBackground();
    m_flow.forgetPending(start == GestureStart::drag ? "A new drag began before its question was answered"
                                                     : "Other files were opened in Kolvex before its question was answered");
    setPayload(payload);
    m_display.setPhase(Phase::browsing());
    takePendingSources();
    setCursorVector({});
    m_selector.reset();
    setSelectedIndex(std::nullopt);
    m_ringAsked = false;
    setTargets({}, Animation::none());
    apply(mode);
    loadThumbnail(payload);
}

void PortalModel::apply(PortalMode mode) {
    if (!m_payload) return;
    // The ring stands while the mode does, also when it is empty: the same files in the same
    // mode give the same ring, and asking 120 times a second only burns the processor.
    if (mode == m_mode && m_ringAsked) return;
    publish(m_mode, mode, Field::mode);
    rebuildRing();
}

void PortalModel::rebuildRing() {
    m_ringAsked = true;
    const std::optional<RingTarget> previous = selectedTarget();
    setTargets(m_provider->targets(m_payload->urls, m_mode), revealAnimation());

    const int n = m_layout.count;
    std::string entries;
    for (int i = 0; i < n; ++i) {
        const double a = n < 1 ? 0.0 : std::numbers::pi / 2 - i * 2 * std::numbers::pi / n;
        if (i > 0) entries += ' ';
        entries += fmt::format("{}@{:.0f}°({:+.0f},{:+.0f})", m_targets[static_cast<size_t>(i)].label,
                               a * 180 / std::numbers::pi, m_layout.radius * std::cos(a),
                               m_layout.radius * std::sin(a));
    }
    Log::interaction().info("RING n={} r={} {}", n, truncatedInt(m_layout.radius), entries);

    m_selector.reset();
    std::optional<int> index = m_selector.update(selectionVector(m_cursorVector), m_layout);
    // A choice made from the keyboard survives a ring built anew when its target is still there.
    if (!index && previous && m_isKeyboardDriven) {
        for (size_t i = 0; i < m_targets.size(); ++i) {
            if (m_targets[i].id == previous->id) index = static_cast<int>(i);
        }
    }
    const bool moved = index != m_selectedIndex;
    setSelectedIndex(index);
    // A ring that arrives under a pointer already on one of its chips chooses it: said as the
    // pointer's choices are.
    if (moved) logSelection(m_cursorVector);
}

PortalPlacement::CursorVector PortalModel::selectionVector(PortalPlacement::CursorVector vector) {
    // Outside the disc the pointer is over someone else's window: nothing is chosen.
    if (vector.distance() > kDiscRadius) return {};
    return vector;
}

void PortalModel::anchorGesture(PortalPlacement::CursorVector offset) {
    setCursorVector(offset);
    if (!phase().is(Phase::Kind::browsing) || m_isKeyboardDriven) return;
    m_selector.reset();
    select(m_selector.update(selectionVector(offset), m_layout), offset);
}

void PortalModel::updateCursor(PortalPlacement::CursorVector vector) {
    if (!phase().is(Phase::Kind::browsing)) return;
    setCursorVector(vector);
    select(m_selector.update(selectionVector(vector), m_layout), vector);
}

void PortalModel::select(std::optional<int> index, PortalPlacement::CursorVector vector) {
    if (index == m_selectedIndex) return;
    setSelectedIndex(index);
    logSelection(vector);
}

void PortalModel::logSelection(PortalPlacement::CursorVector vector) const {
    const auto target = selectedTarget();
    Log::interaction().info("SELECT {} d={} targets={}", target ? target->label : std::string("none"),
                            truncatedInt(vector.distance()), m_targets.size());
}

void PortalModel::setRevealed(bool revealed) {
    publish(m_isRevealed, revealed, Field::isRevealed, revealAnimation());
    if (!revealed) {
        setCursorInside(false);
        setShowingDetails(false);
        endFormatSearch();
    }
}

void PortalModel::clearGesture() {
    if (!phase().is(Phase::Kind::browsing)) return;
    setPayload(std::nullopt);
    m_ringAsked = false;
    setTargets({}, Animation::none());
    m_selector.reset();
    setSelectedIndex(std::nullopt);
    publish(m_thumbnail, QImage(), Field::thumbnail);
    m_display.setPhase(Phase::browsing());
}

void PortalModel::completePendingPayload(const std::vector<std::filesystem::path>& files) {
    if (!m_payload || !m_payload->pending || files.empty()) return;
    DragPayload completed = *m_payload;
    completed.complete(files);
    setPayload(completed);
    rebuildRing();
    loadThumbnail(completed);
}

void PortalModel::loadThumbnail(const DragPayload& payload) {
    publish(m_thumbnail, QImage(), Field::thumbnail);
    const auto primary = payload.primary();
    if (!primary) return;
    const double scale = m_env.screenScale();
    auto make = m_env.thumbnail;
    const std::filesystem::path file = *primary;
    AsyncTask::start<QImage>(
        m_env.scheduler->tasks(), this, [make, file, scale](std::stop_token) { return make(file, QSizeF(56, 56), scale); },
        [this, file, scale](QImage image) {
            // A picture of an earlier gesture's file is dropped.
            if (!m_payload || m_payload->primary() != file) return;
            if (image.isNull()) image = m_env.icon(file, QSizeF(56, 56), scale);
            publish(m_thumbnail, std::move(image), Field::thumbnail);
        });
}

// ---------------------------------------------------------------------------------------------
// Runs, cancelling and tool parameters: the run flow's

void PortalModel::resetToBrowsing() { m_flow.resetToBrowsing(); }
void PortalModel::cancelAllConversions() { m_flow.cancelAllConversions(); }
void PortalModel::cancelConversion(const Uuid& id) { m_flow.cancelConversion(id); }
void PortalModel::cancelShownConversion() { m_flow.cancelShownConversion(); }
void PortalModel::applyParameters(const ConversionOptions& options) { m_flow.applyParameters(options); }
void PortalModel::applyParameters(const ConversionOptions& options, const std::vector<std::filesystem::path>& ordering) {
    m_flow.applyParameters(options, ordering);
}
void PortalModel::applyParameters(const ConversionOptions& options, const std::filesystem::path& toOne) {
    m_flow.applyParameters(options, toOne);
}
void PortalModel::finishParameterRun(const std::vector<PendingFile>& pending) { m_flow.finishParameterRun(pending); }
bool PortalModel::skipsInWalk(const ConversionOptions& options, const std::filesystem::path& file) {
    return m_flow.skipsInWalk(options, file);
}
void PortalModel::discardParameters() { m_flow.discardParameters(); }
void PortalModel::failParameters(const std::string& reason, const std::optional<std::filesystem::path>& file) {
    m_flow.failParameters(reason, file);
}
void PortalModel::pointerLeft() { m_display.pointerLeft(); }

// ---------------------------------------------------------------------------------------------
// Replacing the sources

void PortalModel::replaceProvider(std::shared_ptr<const RingTargetProviding> provider,
                                  std::shared_ptr<ConversionCoordinator> coordinator) {
    replaceProvider(std::move(provider), PortalConversionService::wrapping(std::move(coordinator)));
}

void PortalModel::replaceProvider(std::shared_ptr<const RingTargetProviding> provider,
                                  std::shared_ptr<PortalConversionService> service) {
    if (!provider) return;  // a missing provider would leave the ring without a source
    m_pendingSources = Sources{std::move(provider), std::move(service)};
    if (!phase().is(Phase::Kind::browsing)) {
        Log::conversion().info("New conversion engines wait until the Portal is free");
        return;
    }
    takePendingSources();
    // A ring on screen was built from the old sources: build it from the new ones.
    if (m_payload && m_ringAsked) rebuildRing();
}

void PortalModel::takePendingSources() {
    if (!m_pendingSources) return;
    m_provider = std::move(m_pendingSources->provider);
    m_service = std::move(m_pendingSources->service);
    m_pendingSources.reset();
}

}  // namespace kolvex
