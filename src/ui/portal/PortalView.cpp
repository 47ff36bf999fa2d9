#include "ui/portal/PortalView.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QConicalGradient>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QRadialGradient>

#include "ui/anim/ReduceMotion.h"
#include "ui/portal/FileNodeView.h"
#include "ui/portal/PortalStyle.h"
#include "ui/portal/RingTargetView.h"

namespace kolvex {

namespace {

using Kind = PortalPhase::Kind;
constexpr double kPi = std::numbers::pi;

QString qs(const std::string& s) { return QString::fromStdString(s); }

// Draws `text` centred on (0, y) within `width`, wrapping; returns its height.
double drawWrapped(QPainter& p, const QString& text, double y, double width, const QFont& font, const QColor& color) {
    const QFontMetricsF metrics(font);
    const QRectF bounds = metrics.boundingRect(QRectF(-width / 2, y, width, 1000), Qt::AlignHCenter | Qt::TextWordWrap,
                                               text);
    p.setFont(font);
    p.setPen(color);
    p.drawText(QRectF(-width / 2, y, width, bounds.height()), Qt::AlignHCenter | Qt::TextWordWrap, text);
    return bounds.height();
}

void drawLine(QPainter& p, const QString& text, double y, const QFont& font, const QColor& color, double maxWidth = 0) {
    const QFontMetricsF metrics(font);
    const QString shown = maxWidth > 0 ? metrics.elidedText(text, Qt::ElideMiddle, maxWidth) : text;
    p.setFont(font);
    p.setPen(color);
    p.drawText(QRectF(-300, y, 600, metrics.height()), Qt::AlignHCenter | Qt::AlignTop, shown);
}

void strokeSymbol(QPainter& p, PortalStyle::Symbol symbol, QPointF at, double size, double width, const QColor& color) {
    p.save();
    p.translate(at);
    QPen pen(color, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(PortalStyle::symbol(symbol, size));
    p.restore();
}

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
    setAttribute(Qt::WA_TranslucentBackground);
    setAcceptDrops(false);  // drags go to the drop view beneath
    m_frames.setInterval(16);
    m_frames.setTimerType(Qt::PreciseTimer);
    connect(&m_frames, &QTimer::timeout, this, [this] {
        update();
        if (!anyAnimating()) m_frames.stop();
    });
    connect(&model, &PortalModel::changed, this, &PortalView::onChanged);
    syncChips(Animation::none());

    auto* detail = new QPlainTextEdit(this);
    detail->setReadOnly(true);
    detail->setFrameShape(QFrame::NoFrame);
    detail->setFont(PortalStyle::font(9, QFont::Normal, true));
    detail->setStyleSheet(QStringLiteral(
        "QPlainTextEdit { background: transparent; color: rgba(255,255,255,184); }"
        "QScrollBar:vertical { background: transparent; width: 6px; margin: 0; }"
        "QScrollBar::handle:vertical { background: rgba(255,255,255,90); border-radius: 3px; min-height: 16px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }"));
    detail->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    detail->hide();
    m_detailView = detail;
}

bool PortalView::reduce() const { return m_reduceMotion ? m_reduceMotion() : ReduceMotion::system(); }

bool PortalView::anyAnimating() const {
    if (m_revealed.isAnimating() || m_collapse.isAnimating() || m_ringOpacity.isAnimating() ||
        m_needle.isAnimating() || m_leanX.isAnimating() || m_leanY.isAnimating() || m_centreFade.isAnimating()) {
        return true;
    }
    if (m_swirl.isAnimating() && m_model.isRevealed()) return true;
    for (const auto& [id, v] : m_chipArrival) {
        if (v.isAnimating()) return true;
    }
    for (const auto& v : m_chipSelection) {
        if (v.isAnimating()) return true;
    }
    return false;
}

void PortalView::startFrames() {
    update();
    if (!m_frames.isActive()) m_frames.start();
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

QPointF PortalView::chipOffset(const RingLayout& layout, int index) {
    const double theta = layout.count < 1 ? 0 : kPi / 2 - 2 * kPi * index / layout.count;
    return {layout.radius * std::cos(theta), -layout.radius * std::sin(theta)};
}

double PortalView::needleAngle(int index, int count) { return count < 1 ? 0 : 2 * kPi * index / count; }

QPointF PortalView::bubbleOffset(double commitAngle, bool reduceMotion) {
    const double phi = commitAngle + kPi;
    const double d = reduceMotion ? 0 : 108;
    return {d * std::cos(phi), -d * std::sin(phi)};
}

QString PortalView::percentText(double progress) {
    return QString::number(static_cast<long long>(std::trunc(progress * 100))) + QStringLiteral("%");
}

PortalView::Hint PortalView::modeHint(const PortalModel& model) {
    Hint hint;
    if (model.isKeyboardDriven() && model.phase().is(Kind::browsing) && !model.isShowingFormatList()) {
        hint.kind = Hint::Kind::keyboard;
        hint.headline = QStringLiteral("← →  choose      ⏎  convert      ⇥  tools");
        hint.detail = QStringLiteral("or type to search");
    } else if (model.nothingToOffer()) {
        hint.kind = Hint::Kind::nothingToOffer;
        hint.headline = qs(model.nothingHeadline());
        hint.detail = qs(model.nothingDetail());
    } else if (!model.selectedTarget() && model.payload()) {
        hint.kind = Hint::Kind::modePrompt;
        hint.headline = model.mode() == PortalMode::tools ? QStringLiteral("Tools") : QStringLiteral("Convert");
        hint.detail = qs(model.payload()->label());
    }
    return hint;
}

QString PortalView::accessibleText(const PortalModel& model) {
    if (model.phase().is(Kind::succeeded)) return QStringLiteral("Created ") + qs(model.phase().name);
    if (model.isShowingFormatList()) return QStringLiteral("Convert to");
    if (const auto target = model.selectedTarget()) return qs(target->label);
    return {};
}

// --- Painting ---

void PortalView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeDetailView();
}

void PortalView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    m_cancelRect = {};
    m_detailsRect = {};
    const bool reduced = reduce();
    const WholeTransform whole = wholeTransform(m_revealed.value(), m_collapse.value(), reduced);
    if (whole.opacity <= 0.001) {
        if (m_detailView) m_detailView->hide();
        return;
    }
    p.translate(rect().center() + QPointF(0.5, 0.5));
    p.scale(whole.scale, whole.scale);
    p.rotate(whole.rotationDegrees);
    p.setOpacity(whole.opacity);

    paintHalo(p);
    paintRing(p);
    paintAperture(p);
    p.save();
    p.setOpacity(p.opacity() * std::clamp(m_centreFade.value(), 0.0, 1.0));
    paintCentre(p);
    paintBubble(p);
    p.restore();
    paintFormatList(p);

    // Button rectangles are kept in widget coordinates for clicks.
    const QTransform toWidget = p.transform();
    m_cancelRect = toWidget.mapRect(m_cancelRect);
    m_detailsRect = toWidget.mapRect(m_detailsRect);
    placeDetailView();
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
    p.setBrush(PortalStyle::black(0.55));
    p.drawEllipse(QPointF(0, 0), 64, 64);

    const bool selected = m_model.selectedTarget().has_value();
    const double width = selected ? 5 : 3.5;
    // Qt's conical gradient runs counter-clockwise on screen; the stops are laid out mirrored
    // so the ring's colours run clockwise, starting at 3 o'clock, turned by the swirl.
    QConicalGradient gradient(QPointF(0, 0), -m_swirl.value());
    gradient.setColorAt(0, PortalStyle::accent(0.12));
    gradient.setColorAt(1 - 1.0 / 3, PortalStyle::accent(1));
    gradient.setColorAt(1 - 2.0 / 3, PortalStyle::accent(0.3));
    gradient.setColorAt(1, PortalStyle::accent(0.12));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QBrush(gradient), width));
    p.drawEllipse(QPointF(0, 0), 67 - width / 2, 67 - width / 2);

    if (m_model.selectedIndex() && m_model.phase().is(Kind::browsing) && m_model.layout().count > 0) {
        p.save();
        p.rotate(m_needle.value() * 180 / kPi);
        p.setPen(Qt::NoPen);
        p.setBrush(PortalStyle::accent());
        p.drawRoundedRect(QRectF(-2, -74 - 7, 4, 14), 2, 2);
        p.restore();
    }
}

void PortalView::paintCentre(QPainter& p) {
    const PortalPhase& phase = m_model.phase();
    switch (phase.kind) {
    case Kind::browsing: {
        const QPointF lean(m_leanX.value(), m_leanY.value());
        const auto selected = m_model.selectedTarget();
        std::optional<std::string> caption;
        if (selected && selected->kind == RingTarget::Kind::format) caption = selected->label;
        const int count = m_model.payload() ? static_cast<int>(m_model.payload()->count()) : 1;
        FileNodeView::paint(p, lean, m_model.thumbnail(), count, caption);
        paintHint(p, lean);
        break;
    }
    case Kind::converting: {
        const QFont big = PortalStyle::font(20, QFont::DemiBold);
        const QFont small = PortalStyle::font(10, QFont::Medium);
        const QFont button = PortalStyle::font(9.5, QFont::Medium);
        const double h1 = QFontMetricsF(big).height();
        const double h2 = QFontMetricsF(small).height();
        const double h3 = QFontMetricsF(button).height() + 6;
        double y = -(h1 + 5 + h2 + 5 + 2 + h3) / 2;
        drawLine(p, percentText(phase.fraction), y, big, PortalStyle::white(1));
        y += h1 + 5;
        drawLine(p, QStringLiteral("Converting"), y, small, PortalStyle::white(0.65));
        y += h2 + 5 + 2;
        const double w = QFontMetricsF(button).horizontalAdvance(QStringLiteral("Cancel")) + 16;
        m_cancelRect = QRectF(-w / 2, y, w, h3);
        p.setPen(Qt::NoPen);
        p.setBrush(PortalStyle::white(0.14));
        p.drawRoundedRect(m_cancelRect, h3 / 2, h3 / 2);
        p.setFont(button);
        p.setPen(PortalStyle::white(0.75));
        p.drawText(m_cancelRect, Qt::AlignCenter, QStringLiteral("Cancel"));
        break;
    }
    case Kind::succeeded:
        strokeSymbol(p, PortalStyle::Symbol::checkmark, {0, 0}, 30, 4, PortalStyle::accent());
        break;
    case Kind::failed: {
        const QFont messageFont = PortalStyle::font(10.5, QFont::Medium);
        const bool hasDetail = phase.detail && !phase.detail->empty();
        double y = hasDetail && m_model.showingDetails() ? -62 : -34;
        strokeSymbol(p, PortalStyle::Symbol::xmark, {0, y + 11}, 22, 3.5, QColor(255, 69, 58));
        y += 22 + 6;
        y += drawWrapped(p, qs(phase.message), y, 190, messageFont, PortalStyle::white(0.85)) + 6;
        if (hasDetail && !m_model.showingDetails()) {
            const QFont button = PortalStyle::font(9.5, QFont::Medium);
            const QFontMetricsF metrics(button);
            const double w = metrics.horizontalAdvance(QStringLiteral("Show details")) + 8;
            m_detailsRect = QRectF(-w / 2, y, w, metrics.height() + 2);
            p.setFont(button);
            p.setPen(PortalStyle::accent());
            p.drawText(m_detailsRect, Qt::AlignCenter, QStringLiteral("Show details"));
        } else if (hasDetail) {
            const QRectF box(-115, y, 230, 96);
            p.setPen(Qt::NoPen);
            p.setBrush(PortalStyle::black(0.45));
            p.drawRoundedRect(box, 6, 6);
            m_detailsRect = box;  // where the selectable text goes (placed after painting)
        }
        break;
    }
    case Kind::needsParameters: {
        const bool crop = phase.target && phase.target->toolID == std::optional<std::string>("crop");
        strokeSymbol(p, crop ? PortalStyle::Symbol::crop : PortalStyle::Symbol::scissors, {0, -22}, 22, 2.5,
                     PortalStyle::accent());
        drawLine(p, qs(phase.target ? phase.target->label : std::string()), -3, PortalStyle::font(11, QFont::DemiBold),
                 PortalStyle::white(0.9));
        drawLine(p, QStringLiteral("Choose what to keep"), 14, PortalStyle::font(9.5), PortalStyle::white(0.55));
        break;
    }
    }
}

void PortalView::placeDetailView() {
    if (!m_detailView) return;
    const PortalPhase& phase = m_model.phase();
    const bool show = phase.is(Kind::failed) && phase.detail && !phase.detail->empty() && m_model.showingDetails() &&
                      m_model.isRevealed() && !m_detailsRect.isEmpty();
    if (!show) {
        m_detailView->hide();
        return;
    }
    const QString text = qs(*phase.detail);
    if (m_detailView->toPlainText() != text) m_detailView->setPlainText(text);
    m_detailView->setGeometry(m_detailsRect.adjusted(7, 7, -7, -7).toRect());
    m_detailView->show();
}

void PortalView::paintBubble(QPainter& p) {
    const PortalPhase& phase = m_model.phase();
    if (!phase.is(Kind::succeeded)) return;
    const bool reduced = reduce();
    const QPointF at = bubbleOffset(m_model.commitAngle(), reduced);
    const double grow = reduced ? 1 : 0.4 + 0.6 * std::clamp(m_centreFade.value(), 0.0, 1.2);
    p.save();
    p.translate(at);
    p.scale(grow, grow);
    const QFont nameFont = PortalStyle::font(11, QFont::DemiBold);
    const QFontMetricsF nameMetrics(nameFont);
    const QString name = nameMetrics.elidedText(qs(phase.name), Qt::ElideMiddle, 150);
    const QSizeF capsule(nameMetrics.horizontalAdvance(name) + 22, nameMetrics.height() + 12);
    double noteHeight = 0;
    QRectF noteBox;
    const QFont noteFont = PortalStyle::font(9.5);
    if (phase.note) {
        const QRectF bounds = QFontMetricsF(noteFont).boundingRect(QRectF(0, 0, 172, 1000),
                                                                   Qt::AlignHCenter | Qt::TextWordWrap, qs(*phase.note));
        noteBox = QRectF(-(bounds.width() + 20) / 2, 0, bounds.width() + 20, bounds.height() + 10);
        noteHeight = noteBox.height() + 5;
    }
    const double top = -(capsule.height() + noteHeight) / 2;
    const QRectF nameRect(-capsule.width() / 2, top, capsule.width(), capsule.height());
    p.setPen(Qt::NoPen);
    p.setBrush(PortalStyle::black(0.2));
    p.drawRoundedRect(nameRect.translated(0, 3).adjusted(-2, -2, 2, 2), capsule.height() / 2 + 2, capsule.height() / 2 + 2);
    p.setBrush(PortalStyle::accent(0.92));
    p.drawRoundedRect(nameRect, capsule.height() / 2, capsule.height() / 2);
    p.setFont(nameFont);
    p.setPen(PortalStyle::white(1));
    p.drawText(nameRect, Qt::AlignCenter, name);
    if (phase.note) {
        noteBox.translate(0, nameRect.bottom() + 5);
        p.setPen(Qt::NoPen);
        p.setBrush(PortalStyle::black(0.55));
        p.drawRoundedRect(noteBox, 8, 8);
        p.setFont(noteFont);
        p.setPen(PortalStyle::white(0.8));
        p.drawText(noteBox.adjusted(10, 5, -10, -5), Qt::AlignHCenter | Qt::TextWordWrap, qs(*phase.note));
    }
    p.restore();
}

void PortalView::paintHint(QPainter& p, QPointF node) {
    const Hint hint = modeHint(m_model);
    if (hint.kind == Hint::Kind::none) return;
    p.save();
    p.translate(node);
    const double down = hint.kind == Hint::Kind::keyboard ? 48 : 44;
    // Aligned to the node's bottom edge (28 below its centre), then moved down.
    double y = 28 + down - 28;
    switch (hint.kind) {
    case Hint::Kind::keyboard:
        drawLine(p, hint.headline, y, PortalStyle::font(9, QFont::Medium), PortalStyle::white(0.55));
        y += QFontMetricsF(PortalStyle::font(9)).height() + 2;
        drawLine(p, hint.detail, y, PortalStyle::font(8.5), PortalStyle::white(0.35));
        break;
    case Hint::Kind::nothingToOffer:
        drawLine(p, hint.headline, y, PortalStyle::font(9, QFont::DemiBold), PortalStyle::white(0.7));
        y += QFontMetricsF(PortalStyle::font(9)).height() + 2;
        drawLine(p, hint.detail, y, PortalStyle::font(9.5, QFont::Medium), PortalStyle::white(0.5), 130);
        break;
    case Hint::Kind::modePrompt:
        drawLine(p, hint.headline, y, PortalStyle::font(9, QFont::DemiBold), PortalStyle::accent());
        y += QFontMetricsF(PortalStyle::font(9)).height() + 2;
        drawLine(p, hint.detail, y, PortalStyle::font(9.5, QFont::Medium), PortalStyle::white(0.75), 130);
        break;
    case Hint::Kind::none: break;
    }
    p.restore();
}

void PortalView::paintFormatList(QPainter& p) {
    if (!m_model.isShowingFormatList()) return;
    const auto rows = m_model.filteredTargets();
    const QFont headerFont = PortalStyle::font(12, QFont::Medium);
    const QFont rowFont = PortalStyle::font(11.5, QFont::Medium);
    const QFont tagFont = PortalStyle::font(8.5, QFont::DemiBold);
    const double headerHeight = QFontMetricsF(headerFont).height() + 16;
    const double rowHeight = QFontMetricsF(rowFont).height() + 10;
    const double rowsHeight = rows.size() * rowHeight + (rows.empty() ? 0 : (rows.size() - 1) * 1.0) + 10;
    const double emptyHeight = QFontMetricsF(PortalStyle::font(11)).height() + 22;
    const double bodyHeight = rows.empty() ? emptyHeight : std::min(rowsHeight, 168.0);
    const double width = 224;
    const double height = headerHeight + 1 + bodyHeight;
    const QRectF box(-width / 2, -height / 2, width, height);

    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(PortalStyle::black(0.2));
    p.drawRoundedRect(box.translated(0, 8).adjusted(-4, -4, 4, 4), 14, 14);
    p.setBrush(PortalStyle::black(0.72));
    p.drawRoundedRect(box, 10, 10);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(PortalStyle::white(0.14), 1));
    p.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 9.5, 9.5);

    // Header
    strokeSymbol(p, PortalStyle::Symbol::magnifier, {box.left() + 11 + 5, box.top() + headerHeight / 2}, 10, 1.5,
                 PortalStyle::white(0.5));
    p.setFont(headerFont);
    const bool empty = m_model.formatQuery().empty();
    p.setPen(empty ? PortalStyle::white(0.45) : PortalStyle::white(1));
    p.drawText(QRectF(box.left() + 11 + 16, box.top(), width - 38, headerHeight), Qt::AlignVCenter | Qt::AlignLeft,
               empty ? QStringLiteral("Convert to…") : qs(m_model.formatQuery()));
    p.setPen(QPen(PortalStyle::white(0.12), 1));
    p.drawLine(QPointF(box.left(), box.top() + headerHeight + 0.5), QPointF(box.right(), box.top() + headerHeight + 0.5));

    const QRectF body(box.left(), box.top() + headerHeight + 1, width, bodyHeight);
    if (rows.empty()) {
        p.setFont(PortalStyle::font(11));
        p.setPen(PortalStyle::white(0.5));
        p.drawText(body.adjusted(11, 11, -11, -11), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Nothing matches"));
        p.restore();
        return;
    }
    // The highlighted row is kept in view.
    const int highlight = m_model.listHighlight();
    const double rowTop = 5 + highlight * (rowHeight + 1);
    const double scroll = std::clamp(rowTop + rowHeight + 5 - bodyHeight, 0.0, std::max(0.0, rowsHeight - bodyHeight));
    p.setClipRect(body);
    for (size_t i = 0; i < rows.size(); ++i) {
        const QRectF row(body.left() + 5, body.top() + 5 + i * (rowHeight + 1) - scroll, width - 10, rowHeight);
        const bool lit = static_cast<int>(i) == highlight;
        if (lit) {
            p.setPen(Qt::NoPen);
            p.setBrush(PortalStyle::accent());
            p.drawRoundedRect(row, 5, 5);
        }
        p.setFont(rowFont);
        p.setPen(lit ? PortalStyle::black(1) : PortalStyle::white(0.85));
        p.drawText(row.adjusted(9, 0, -9, 0), Qt::AlignVCenter | Qt::AlignLeft, qs(rows[i].label));
        if (rows[i].kind == RingTarget::Kind::tool) {
            p.setFont(tagFont);
            p.setPen(PortalStyle::white(0.4));
            p.drawText(row.adjusted(9, 0, -9, 0), Qt::AlignVCenter | Qt::AlignRight, QStringLiteral("tool"));
        }
    }
    if (rowsHeight > bodyHeight) {  // the scroll indicator
        const double fraction = bodyHeight / rowsHeight;
        const double barHeight = bodyHeight * fraction;
        const double barTop = body.top() + (bodyHeight - barHeight) * (scroll / (rowsHeight - bodyHeight));
        p.setPen(Qt::NoPen);
        p.setBrush(PortalStyle::white(0.35));
        p.drawRoundedRect(QRectF(body.right() - 4, barTop + 2, 3, barHeight - 4), 1.5, 1.5);
    }
    p.restore();
}

void PortalView::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    const PortalPhase& phase = m_model.phase();
    if (phase.is(Kind::converting) && m_cancelRect.contains(at)) {
        m_model.cancel();
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

}  // namespace kolvex
