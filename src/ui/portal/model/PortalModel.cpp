#include "ui/portal/model/PortalModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>

#include <fmt/format.h>

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

#include "core/format/ToolSettings.h"
#include "core/services/Log.h"
#include "core/services/UserDefaults.h"
#include "ui/anim/ReduceMotion.h"
#include "ui/portal/model/Thumbnailer.h"

namespace kolvex {

// ---------------------------------------------------------------------------------------------
// Phase

PortalPhase PortalPhase::converting(double fraction) {
    PortalPhase p;
    p.kind = Kind::converting;
    p.fraction = fraction;
    return p;
}

PortalPhase PortalPhase::succeeded(std::string name, std::optional<std::string> note) {
    PortalPhase p;
    p.kind = Kind::succeeded;
    p.name = std::move(name);
    p.note = std::move(note);
    return p;
}

PortalPhase PortalPhase::failed(std::string message, std::optional<std::string> detail) {
    PortalPhase p;
    p.kind = Kind::failed;
    p.message = std::move(message);
    p.detail = std::move(detail);
    return p;
}

PortalPhase PortalPhase::needsParameters(RingTarget target) {
    PortalPhase p;
    p.kind = Kind::needsParameters;
    p.target = std::move(target);
    return p;
}

bool PortalPhase::operator==(const PortalPhase& other) const {
    if (kind != other.kind) return false;
    switch (kind) {
    case Kind::converting: return fraction == other.fraction;
    case Kind::succeeded: return name == other.name && note == other.note;
    case Kind::failed: return message == other.message && detail == other.detail;
    case Kind::needsParameters: return target == other.target;
    case Kind::browsing: return true;
    }
    return false;
}

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
      m_layout(std::vector<std::string>{}, m_metrics) {
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
    if (m_progressTicker) m_progressTicker->cancel();
    if (m_collapseTask) m_collapseTask->cancel();
}

const std::set<std::string>& PortalModel::toolsNeedingParameters() {
    return toolsWithSheets();
}

// ---------------------------------------------------------------------------------------------
// Publishing

void PortalModel::setPhase(Phase phase, const Animation& animation) {
    publish(m_phase, std::move(phase), Field::phase, animation);
}

void PortalModel::setSelectedIndex(std::optional<int> index) { publish(m_selectedIndex, index, Field::selectedIndex); }

void PortalModel::setTargets(std::vector<RingTarget> targets, const Animation& animation) {
    m_targets = std::move(targets);
    relayout();
    const Animation previous = m_animation;
    m_animation = animation;
    emit changed(Field::targets);
    m_animation = previous;
}

void PortalModel::relayout() {
    std::vector<std::string> labels;
    labels.reserve(m_targets.size());
    for (const auto& t : m_targets) labels.push_back(t.label);
    m_layout = RingLayout(labels, m_metrics);
}

void PortalModel::setCursorInside(bool inside) { publish(m_isCursorInside, inside, Field::isCursorInside); }
void PortalModel::setShowingDetails(bool showing) { publish(m_showingDetails, showing, Field::showingDetails); }
void PortalModel::setKeyboardDriven(bool keyboardDriven) {
    publish(m_isKeyboardDriven, keyboardDriven, Field::isKeyboardDriven);
}
void PortalModel::setPayload(std::optional<DragPayload> payload) {
    publish(m_payload, std::move(payload), Field::payload);
}
void PortalModel::setCursorVector(PortalPlacement::CursorVector vector) {
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

double PortalModel::elapsedSince(Clock::time_point start) const {
    return std::chrono::duration<double>(m_env.scheduler->now() - start).count();
}

// ---------------------------------------------------------------------------------------------
// Gesture, ring and selection

void PortalModel::beginGesture(const DragPayload& payload, PortalMode mode) {
    sendForegroundToBackground();
    if (m_work) {
        m_work->cancel();
        m_work.reset();
    }
    setPayload(payload);
    setPhase(Phase::browsing());
    m_selector.reset();
    setSelectedIndex(std::nullopt);
    setTargets({}, Animation::none());
    apply(mode);
    loadThumbnail(payload);
}

void PortalModel::apply(PortalMode mode) {
    if (!m_payload) return;
    if (mode == m_mode && !m_targets.empty()) return;
    publish(m_mode, mode, Field::mode);
    setTargets(m_provider->targets(m_payload->urls, mode), revealAnimation());

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
    setSelectedIndex(m_selector.update(m_cursorVector, m_layout));
}

void PortalModel::updateCursor(PortalPlacement::CursorVector vector) {
    if (!m_phase.is(Phase::Kind::browsing)) return;
    setCursorVector(vector);
    const std::optional<int> next = m_selector.update(vector, m_layout);
    if (next == m_selectedIndex) return;
    setSelectedIndex(next);
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
    if (!m_phase.is(Phase::Kind::browsing)) return;
    setPayload(std::nullopt);
    setTargets({}, Animation::none());
    m_selector.reset();
    setSelectedIndex(std::nullopt);
    publish(m_thumbnail, QImage(), Field::thumbnail);
    setPhase(Phase::browsing());
}

void PortalModel::completePendingPayload(const std::vector<std::filesystem::path>& files) {
    if (!m_payload || !m_payload->pending || files.empty()) return;
    DragPayload completed = *m_payload;
    completed.complete(files);
    setPayload(completed);
    setTargets({}, Animation::none());
    apply(m_mode);
    loadThumbnail(completed);
}

void PortalModel::sendForegroundToBackground() {
    if (!m_foreground) return;
    const Uuid id = *m_foreground;
    m_foreground.reset();
    if (!m_running.contains(id)) return;
    Log::conversion().info("A conversion is still running; it continues in the background");
    if (m_progressTicker) {
        m_progressTicker->cancel();
        m_progressTicker.reset();
    }
    if (m_collapseTask) {
        m_collapseTask->cancel();
        m_collapseTask.reset();
    }
    publish(m_isCollapsed, false, Field::isCollapsed);
    publish(m_collapseProgress, 0.0, Field::collapseProgress);
    m_realProgress = 0;
    m_progressStarted.reset();
    reportToMenuBar();
}

void PortalModel::loadThumbnail(const DragPayload& payload) {
    publish(m_thumbnail, QImage(), Field::thumbnail);
    const auto primary = payload.primary();
    if (!primary) return;
    const double scale = m_env.screenScale();
    QPointer<PortalModel> weak(this);
    auto scheduler = m_env.scheduler.get();
    auto make = m_env.thumbnail;
    auto icon = m_env.icon;
    const std::filesystem::path file = *primary;
    scheduler->background([weak, scheduler, make, icon, file, scale](std::stop_token) {
        QImage image = make(file, QSizeF(56, 56), scale);
        scheduler->post([weak, icon, file, scale, image = std::move(image)]() mutable {
            if (!weak || !weak->m_payload || weak->m_payload->primary() != file) return;
            if (image.isNull()) image = icon(file, QSizeF(56, 56), scale);
            weak->publish(weak->m_thumbnail, std::move(image), Field::thumbnail);
        });
    });
}

// ---------------------------------------------------------------------------------------------
// Keyboard path and commit

bool PortalModel::commit() {
    if (m_phase.is(Phase::Kind::needsParameters)) return false;
    const auto target = selectedTarget();
    if (!target) return false;
    if (!m_payload || m_payload->isEmpty()) return false;  // a drag whose files never came
    if (m_selectedIndex) {
        const int n = m_layout.count;
        publish(m_commitAngle, n < 1 ? 0.0 : std::numbers::pi / 2 - *m_selectedIndex * 2 * std::numbers::pi / n,
                Field::commitAngle);
    }
    if (target->toolID && toolsNeedingParameters().contains(*target->toolID)) {
        setPhase(Phase::needsParameters(*target));
        if (onNeedsParameters) onNeedsParameters(*target, *m_payload);
        return true;
    }
    run(*target, *m_payload, std::nullopt);
    return true;
}

void PortalModel::commitFromList() {
    const auto rows = filteredTargets();
    if (m_listHighlight < 0 || m_listHighlight >= static_cast<int>(rows.size())) return;
    const RingTarget chosen = rows[static_cast<size_t>(m_listHighlight)];
    for (size_t i = 0; i < m_targets.size(); ++i) {
        if (m_targets[i].id == chosen.id) {
            setSelectedIndex(static_cast<int>(i));
            break;
        }
    }
    endFormatSearch();
    commit();
}

void PortalModel::selectFirstTarget() {
    if (!m_targets.empty()) setSelectedIndex(0);
}

void PortalModel::cycleMode() {
    if (!m_phase.is(Phase::Kind::browsing)) return;
    apply(m_mode == PortalMode::convert ? PortalMode::tools : PortalMode::convert);
    selectFirstTarget();
}

void PortalModel::moveSelection(int delta) {
    if (!m_phase.is(Phase::Kind::browsing)) return;
    if (!m_isShowingFormatList) {
        const int n = static_cast<int>(m_targets.size());
        if (n == 0) return;
        const int current = m_selectedIndex.value_or(0);
        setSelectedIndex((((current + delta) % n) + n) % n);
    } else {
        const int m = static_cast<int>(filteredTargets().size());
        if (m == 0) return;
        publish(m_listHighlight, (((m_listHighlight + delta) % m) + m) % m, Field::listHighlight);
    }
}

void PortalModel::beginFormatSearch(const std::string& text) {
    if (!m_phase.is(Phase::Kind::browsing)) return;
    publish(m_formatQuery, text, Field::formatQuery);
    publish(m_listHighlight, 0, Field::listHighlight);
    publish(m_isShowingFormatList, true, Field::isShowingFormatList);
}

void PortalModel::endFormatSearch() {
    publish(m_isShowingFormatList, false, Field::isShowingFormatList);
    publish(m_formatQuery, std::string(), Field::formatQuery);
    publish(m_listHighlight, 0, Field::listHighlight);
}

void PortalModel::dismissByKeyboard() {
    if (m_isShowingFormatList) {
        endFormatSearch();
        return;
    }
    if (m_phase.is(Phase::Kind::browsing)) {
        setRevealed(false);
        if (onFinished) onFinished();
        return;
    }
    cancel();
}

std::vector<RingTarget> PortalModel::filteredTargets() const {
    if (m_formatQuery.empty()) return m_targets;
    const QString query = QString::fromStdString(m_formatQuery).toLower();
    std::vector<RingTarget> rows;
    for (const auto& t : m_targets) {
        if (QString::fromStdString(t.label).toLower().contains(query)) rows.push_back(t);
    }
    return rows;
}

bool PortalModel::nothingToOffer() const {
    return m_payload && m_targets.empty() && m_phase.is(Phase::Kind::browsing);
}

std::string PortalModel::nothingHeadline() const {
    if (m_payload && m_provider->categoryCount(m_payload->urls) > 1) return "Pick one kind of file";
    return "Nothing to convert";
}

std::string PortalModel::nothingDetail() const {
    if (!m_payload) return "";
    if (m_provider->categoryCount(m_payload->urls) < 2) return m_payload->label();
    return "These are different kinds — drag videos with videos, images with images";
}

// ---------------------------------------------------------------------------------------------
// Cancelling and replacing the sources

void PortalModel::cancelWork() {
    if (m_work) {
        m_work->cancel();
        m_work.reset();
    }
    if (m_progressTicker) {
        m_progressTicker->cancel();
        m_progressTicker.reset();
    }
    m_realProgress = 0;
    m_progressStarted.reset();
    endCollapse();
    setPhase(Phase::browsing());
}

void PortalModel::cancelAll() {
    if (m_running.empty()) return;
    Log::conversion().info("Cancelling {} conversion(s)", m_running.size());
    for (auto& [id, record] : m_running) {
        if (record.task) record.task->cancel();
    }
    m_running.clear();
    m_foreground.reset();
    cancelWork();
    if (onFinished) onFinished();
}

void PortalModel::cancel(const Uuid& id) {
    auto it = m_running.find(id);
    if (it == m_running.end()) return;
    Log::conversion().info("Cancelling {}", it->second.label);
    if (it->second.task) it->second.task->cancel();
    m_running.erase(it);
    if (m_foreground == id) {
        m_foreground.reset();
        cancelWork();
        if (onFinished) onFinished();
    }
    reportToMenuBar();
}

void PortalModel::cancel() {
    if (m_phase.is(Phase::Kind::browsing)) return;
    Log::conversion().info("Conversion cancelled by the user");
    if (m_foreground) {
        auto it = m_running.find(*m_foreground);
        if (it != m_running.end()) {
            if (it->second.task) it->second.task->cancel();
            m_running.erase(it);
        }
        m_foreground.reset();
    }
    cancelWork();
    if (onFinished) onFinished();
}

std::vector<PortalModel::ActiveConversion> PortalModel::activeConversions() const {
    std::vector<const Running*> records;
    for (const auto& [id, record] : m_running) records.push_back(&record);
    std::stable_sort(records.begin(), records.end(),
                     [](const Running* a, const Running* b) {
                         return std::tie(a->started, a->sequence) < std::tie(b->started, b->sequence);
                     });
    std::vector<ActiveConversion> rows;
    for (const Running* r : records) rows.push_back({r->id, r->label, r->progress, m_foreground == r->id});
    return rows;
}

void PortalModel::replaceProvider(std::shared_ptr<const RingTargetProviding> provider,
                                  std::shared_ptr<ConversionCoordinator> coordinator) {
    replaceProvider(std::move(provider), PortalConversionService::wrapping(std::move(coordinator)));
}

void PortalModel::replaceProvider(std::shared_ptr<const RingTargetProviding> provider,
                                  std::shared_ptr<PortalConversionService> service) {
    if (m_isRevealed) return;
    if (!m_phase.is(Phase::Kind::browsing)) return;
    if (!provider) return;  // a missing provider would leave the ring without a source
    m_provider = std::move(provider);
    m_service = std::move(service);
    setTargets({}, Animation::none());
}

// ---------------------------------------------------------------------------------------------
// Tool parameters

bool PortalModel::pendingParameters(RingTarget& target) const {
    if (!m_phase.is(Phase::Kind::needsParameters) || !m_phase.target || !m_payload) return false;
    target = *m_phase.target;
    return true;
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
    run(target, DragPayload(std::vector<std::filesystem::path>{toOne}), options);
    sendForegroundToBackground();
    setPhase(Phase::needsParameters(target));
}

void PortalModel::finishParameterRun(const std::vector<PendingFile>& pending) {
    RingTarget target;
    if (!pendingParameters(target)) return;
    if (pending.empty()) {
        setPhase(Phase::browsing());
        if (onFinished) onFinished();
        return;
    }
    m_queuedPerFile.assign(pending.begin() + 1, pending.end());
    m_queuedTarget = target;
    run(target, DragPayload(std::vector<std::filesystem::path>{pending.front().url}), pending.front().options);
}

void PortalModel::discardParameters() {
    if (!m_phase.is(Phase::Kind::needsParameters)) return;
    setPhase(Phase::browsing());
    if (onFinished) onFinished();
}

}  // namespace kolvex
