// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/PortalView.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QAccessible>
#include <QConicalGradient>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QRadialGradient>

#include "ui/anim/ReduceMotion.h"
#include "ui/portal/PortalAccessible.h"
#include "ui/portal/FileNodeView.h"
#include "ui/portal/PortalStyle.h"
#include "ui/portal/RingTargetView.h"

namespace kolvex {

namespace {

using Kind = PortalPhase::Kind;
constexpr double kPi = std::numbers::pi;

}  // namespace

PortalView::PortalView(PortalModel& model, QWidget* parent, std::shared_ptr<AnimationClock> clock,
                       std::function<bool()> reduceMotion)
    : QWidget(parent),
      m_model(model),
      m_clock(std::move(clock)),
      m_reduceMotion(std::move(reduceMotion)),
      m_revealed(model.isRevealed() ? 1 : 0, m_clock),
      m_collapse(model.collapseProgress(), m_clock),
      m_swirl(0, m_clock),
      m_ringOpacity(model.phase().is(Kind::browsing) ? 1 : 0, m_clock),
      m_needle(0, m_clock),
      m_leanX(0, m_clock),
      m_leanY(0, m_clock),
      m_centreFade(1, m_clock) {
    static const bool accessible = [] {
        QAccessible::installFactory(&PortalAccessible::factory);
        return true;
    }();
    (void)accessible;
    setAttribute(Qt::WA_TranslucentBackground);
    setAcceptDrops(false);  // drags go to the drop view beneath
    m_frames.setInterval(16);
    m_frames.setTimerType(Qt::PreciseTimer);
    connect(&m_frames, &QTimer::timeout, this, &PortalView::nextFrame);
    connect(&model, &PortalModel::changed, this, &PortalView::onChanged);
    syncChips(Animation::none());

    auto* detail = new QPlainTextEdit(this);
    detail->setReadOnly(true);
    detail->setFrameShape(QFrame::NoFrame);
    detail->setFont(PortalStyle::font(9, QFont::Normal, true));
    detail->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    detail->hide();
    m_detailView = detail;
    applyTheme();
    // Everything shown is drawn again at once for the new theme, not only the part the next
    // frame of the turning ring would touch.
    PortalStyle::whenThemeChanges(this, [this] {
        ++m_generation;
        applyTheme();
        update();
    });
}

void PortalView::applyTheme() {
    if (!m_detailView) return;
    const auto rgba = [](const QColor& c) {
        return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
    };
    const QString sheet = QStringLiteral(
        "QPlainTextEdit { background: transparent; color: %1; }"
        "QScrollBar:vertical { background: transparent; width: 6px; margin: 0; }"
        "QScrollBar::handle:vertical { background: %2; border-radius: 3px; min-height: 16px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }")
                              .arg(rgba(PortalStyle::ink(0.72)), rgba(PortalStyle::ink(0.35)));
    if (m_detailView->styleSheet() != sheet) m_detailView->setStyleSheet(sheet);
}

void PortalView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // The Appearance setting restyles the application: the Portal follows it.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
        ++m_generation;
        update();
    }
}

void PortalView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    releaseLayers();
}

bool PortalView::reduce() const { return m_reduceMotion ? m_reduceMotion() : ReduceMotion::system(); }

bool PortalView::anyAnimatingButSwirl() const {
    if (m_revealed.isAnimating() || m_collapse.isAnimating() || m_ringOpacity.isAnimating() ||
        m_needle.isAnimating() || m_leanX.isAnimating() || m_leanY.isAnimating() || m_centreFade.isAnimating()) {
        return true;
    }
    for (const auto& [id, v] : m_chipArrival) {
        if (v.isAnimating()) return true;
    }
    for (const auto& v : m_chipSelection) {
        if (v.isAnimating()) return true;
    }
    return false;
}

bool PortalView::anyAnimating() const {
    if (anyAnimatingButSwirl()) return true;
    // The swirl turns while there is something to choose; a dead end stands still, so the
    // application is idle while its message shows.
    return m_swirl.isAnimating() && m_model.isRevealed() && !m_model.nothingToOffer();
}

void PortalView::startFrames() {
    update();
    if (!m_frames.isActive()) m_frames.start();
}

void PortalView::nextFrame() {
    // While only the ring turns, only the ring is drawn again.
    if (anyAnimatingButSwirl()) {
        update();
    } else {
        update(swirlRect());
    }
    if (!anyAnimating()) {
        m_frames.stop();
        if (!m_model.isRevealed()) releaseLayers();
    }
}

void PortalView::syncChips(const Animation&) {
    const PortalMotion motion = m_model.motion().withReduceMotion(reduce());
    const auto& targets = m_model.targets();
    std::map<std::string, AnimatedValue> arrival;
    for (size_t i = 0; i < targets.size(); ++i) {
        auto found = m_chipArrival.find(targets[i].id);
        if (found != m_chipArrival.end()) {
            arrival.emplace(targets[i].id, found->second);
        } else {
            AnimatedValue v(0, m_clock);
            v.animateTo(1, motion.ringChip(static_cast<int>(i)));
            arrival.emplace(targets[i].id, v);
        }
    }
    m_chipArrival = std::move(arrival);
    m_chipSelection.assign(targets.size(), AnimatedValue(0, m_clock));
    if (const auto index = m_model.selectedIndex(); index && *index >= 0 && *index < static_cast<int>(targets.size())) {
        m_chipSelection[static_cast<size_t>(*index)].set(1);
    }
}

void PortalView::onChanged(PortalModel::Field field) {
    ++m_generation;
    const bool reduced = reduce();
    const PortalMotion motion = m_model.motion().withReduceMotion(reduced);
    const Animation& animation = m_model.currentAnimation();
    using F = PortalModel::Field;
    switch (field) {
    case F::isRevealed:
        m_revealed.animateTo(m_model.isRevealed() ? 1 : 0, motion.reveal());
        if (m_model.isRevealed() && !reduced) {
            m_swirl.set(0);
            m_swirl.animateTo(360, motion.swirl());
        } else {
            m_swirl.set(0);
        }
        break;
    case F::collapseProgress:
        m_collapse.animateTo(m_model.collapseProgress(), animation);
        break;
    case F::targets:
        syncChips(animation);
        break;
    case F::selectedIndex: {
        const auto index = m_model.selectedIndex();
        if (index && QAccessible::isActive()) {
            QAccessibleEvent event(this, QAccessible::Selection);
            event.setChild(*index);
            QAccessible::updateAccessibility(&event);
        }
        for (size_t i = 0; i < m_chipSelection.size(); ++i) {
            m_chipSelection[i].animateTo(index && *index == static_cast<int>(i) ? 1 : 0, motion.hover());
        }
        if (index && m_model.layout().count > 0) {
            const double angle = needleAngle(*index, m_model.layout().count);
            // The needle turns the short way round.
            double current = m_needle.value();
            double target = angle;
            while (target - current > kPi) target -= 2 * kPi;
            while (current - target > kPi) target += 2 * kPi;
            m_needle.animateTo(target, motion.hover());
        }
        break;
    }
    case F::phase:
        m_ringOpacity.animateTo(m_model.phase().is(Kind::browsing) ? 1 : 0, motion.ring());
        if (animation.kind != Animation::Kind::none) {
            m_centreFade.set(0);
            m_centreFade.animateTo(1, animation);
        } else {
            m_centreFade.set(1);
        }
        break;
    case F::cursorVector: {
        const QPointF lean = FileNodeView::leanOffset(m_model.cursorVector(), motion);
        m_leanX.animateTo(lean.x(), motion.commit());
        m_leanY.animateTo(lean.y(), motion.commit());
        break;
    }
    default:
        break;
    }
    setAccessibleName(accessibleText(m_model));
    startFrames();
}

// --- Geometry ---

PortalView::WholeTransform PortalView::wholeTransform(double revealed, double collapse, bool reduceMotion) {
    WholeTransform t;
    t.scale = (0.78 + 0.22 * revealed) * (1 - 0.88 * collapse);
    t.rotationDegrees = reduceMotion ? 0 : 90 * collapse;
    t.opacity = std::clamp(revealed, 0.0, 1.0) * (1 - collapse);
    return t;
}

QRectF PortalView::chipRect(int index) const {
    const auto& targets = m_model.targets();
    if (index < 0 || index >= static_cast<int>(targets.size())) return {};
    const bool selected = m_model.selectedIndex() == index;
    const QSizeF size = RingTargetView::size(targets[static_cast<std::size_t>(index)], selected ? 1 : 0) *
                        RingTargetView::scale(selected ? 1 : 0);
    const QPointF centre = QRectF(rect()).center() + chipOffset(m_model.layout(), index);
    return {centre.x() - size.width() / 2, centre.y() - size.height() / 2, size.width(), size.height()};
}

QPointF PortalView::chipOffset(const RingLayout& layout, int index) {
    const double theta = layout.count < 1 ? 0 : kPi / 2 - 2 * kPi * index / layout.count;
    return {layout.radius * std::cos(theta), -layout.radius * std::sin(theta)};
}

double PortalView::needleAngle(int index, int count) { return count < 1 ? 0 : 2 * kPi * index / count; }

QString PortalView::accessibleText(const PortalModel& model) {
    if (model.phase().is(Kind::succeeded)) return QStringLiteral("Created ") + PortalStyle::text(model.phase().name);
    if (model.isShowingFormatList()) return QStringLiteral("Convert to");
    if (const auto target = model.selectedTarget()) return PortalStyle::text(target->label);
    return {};
}

// --- Painting ---

QColor PortalView::opaqueDiscColor() { return PortalStyle::opaqueDisc(); }

void PortalView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeDetailView();
}

void PortalView::setOpaque(bool opaque) {
    if (m_opaque == opaque) return;
    m_opaque = opaque;
    update();
}

void PortalView::paintOpaqueDisc(QPainter& p) {
    // The window's shape is a one-bit circle: fill all of it, then draw the rim just inside
    // its edge with anti-aliasing, so the edge reads as a finished border rather than steps.
    p.fillRect(rect(), opaqueDiscColor());
    const QPointF centre = QRectF(rect()).center();
    const double radius = std::min(width(), height()) / 2.0 - 2.5;
    p.setPen(QPen(PortalStyle::ink(0.22), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, radius, radius);
}

void PortalView::paintHalo(QPainter& p) {
    QRadialGradient gradient(QPointF(0, 0), 190);
    gradient.setColorAt(30.0 / 190, PortalStyle::accent(m_model.selectedTarget() ? 0.3 : 0.18));
    gradient.setColorAt(1, PortalStyle::accent(0));
    p.setPen(Qt::NoPen);
    p.setBrush(gradient);
    p.drawEllipse(QPointF(0, 0), 240, 240);
}

void PortalView::paintRing(QPainter& p) {
    const auto& targets = m_model.targets();
    const RingLayout& layout = m_model.layout();
    const double ringOpacity = std::clamp(m_ringOpacity.value(), 0.0, 1.0);
    if (ringOpacity <= 0.001) return;
    for (size_t i = 0; i < targets.size() && static_cast<int>(i) < layout.count; ++i) {
        auto arrival = m_chipArrival.find(targets[i].id);
        const double arrived = arrival == m_chipArrival.end() ? 1 : arrival->second.value();
        const double selected = i < m_chipSelection.size() ? m_chipSelection[i].value() : 0;
        p.save();
        p.setOpacity(p.opacity() * ringOpacity * std::clamp(arrived, 0.0, 1.0));
        // New chips come out of the centre toward their place on the ring.
        const QPointF at = chipOffset(layout, static_cast<int>(i)) * (0.6 + 0.4 * arrived);
        RingTargetView::paint(p, at, targets[i], selected);
        p.restore();
    }
}

void PortalView::paintAperture(QPainter& p) {
    // The shadow: a few fading discs below the aperture.
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 6; ++i) {
        p.setBrush(PortalStyle::black(0.35 / 6));
        p.drawEllipse(QPointF(0, 6), 64 + 3.0 * i, 64 + 3.0 * i);
    }
    p.setBrush(PortalStyle::material());
    p.drawEllipse(QPointF(0, 0), 64, 64);
    p.setBrush(PortalStyle::shade(0.55));
    p.drawEllipse(QPointF(0, 0), 64, 64);
}

void PortalView::paintNeedle(QPainter& p) {
    if (!m_model.selectedIndex() || !m_model.phase().is(Kind::browsing) || m_model.layout().count <= 0) return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.rotate(m_needle.value() * 180 / kPi);
    p.setPen(Qt::NoPen);
    p.setBrush(PortalStyle::accent());
    p.drawRoundedRect(QRectF(-2, -74 - 7, 4, 14), 2, 2);
    p.restore();
}

void PortalView::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    const PortalPhase& phase = m_model.phase();
    if (phase.is(Kind::converting) && m_cancelRect.contains(at)) {
        m_model.cancelShownConversion();
        event->accept();
        return;
    }
    if (phase.is(Kind::failed) && !m_model.showingDetails() && m_detailsRect.contains(at)) {
        m_model.setShowingDetails(true);
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void PortalView::leaveEvent(QEvent* event) {
    m_model.pointerLeft();
    QWidget::leaveEvent(event);
}

}  // namespace kolvex
