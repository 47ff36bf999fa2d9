// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal view's centre for each phase and the result bubble beside it.

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QFontMetricsF>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextLayout>

#include "ui/portal/FailureText.h"
#include "ui/portal/FileNodeView.h"
#include "ui/portal/PortalStyle.h"
#include "ui/portal/PortalView.h"

namespace kolvex {

namespace {

using Kind = PortalPhase::Kind;
constexpr double kPi = std::numbers::pi;

}  // namespace

QPointF PortalView::bubbleOffset(double commitAngle, bool reduceMotion) {
    const double phi = commitAngle + kPi;
    const double d = reduceMotion ? 0 : 108;
    return {d * std::cos(phi), -d * std::sin(phi)};
}

FailureText PortalView::failureText(const PortalModel& model, const QFont& font, const QFont& buttonFont) {
    const PortalPhase& phase = model.phase();
    QStringList names;
    if (model.payload()) {
        for (const auto& url : model.payload()->urls) names << QString::fromStdString(url.filename().string());
    }
    return FailureText::layout(PortalStyle::text(phase.message), PortalStyle::text(phase.detail.value_or(std::string())),
                               names, font, buttonFont);
}

bool PortalView::offersDetails() const {
    return m_model.phase().is(Kind::failed) &&
           failureText(m_model, PortalStyle::font(10.5, QFont::Medium), PortalStyle::font(9.5, QFont::Medium)).offersDetails;
}

QString PortalView::percentText(double progress) {
    return QString::number(static_cast<long long>(std::trunc(progress * 100))) + QStringLiteral("%");
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
        PortalStyle::drawLine(p, percentText(phase.fraction), y, big, PortalStyle::ink(1));
        y += h1 + 5;
        PortalStyle::drawLine(p, QStringLiteral("Converting"), y, small, PortalStyle::ink(0.65));
        y += h2 + 5 + 2;
        // Also once the job is over and only the fill finishes: Cancel then closes the Portal.
        const double w = QFontMetricsF(button).horizontalAdvance(QStringLiteral("Cancel")) + 16;
        m_cancelRect = QRectF(-w / 2, y, w, h3);
        p.setPen(Qt::NoPen);
        p.setBrush(PortalStyle::ink(0.14));
        p.drawRoundedRect(m_cancelRect, h3 / 2, h3 / 2);
        p.setFont(button);
        p.setPen(PortalStyle::ink(0.75));
        p.drawText(m_cancelRect, Qt::AlignCenter, QStringLiteral("Cancel"));
        break;
    }
    case Kind::succeeded:
        PortalStyle::strokeSymbol(p, PortalStyle::Symbol::checkmark, {0, 0}, 30, 4, PortalStyle::accent());
        break;
    case Kind::failed: {
        const QFont messageFont = PortalStyle::font(10.5, QFont::Medium);
        const QFont button = PortalStyle::font(9.5, QFont::Medium);
        const FailureText text = failureText(m_model, messageFont, button);
        const bool showing = text.offersDetails && m_model.showingDetails();
        // With the details open the block moves up to make room for their box.
        const double shift = showing ? -62 - text.symbolTop : 0;
        PortalStyle::strokeSymbol(p, PortalStyle::Symbol::xmark, {0, text.symbolTop + shift + FailureText::kSymbol / 2},
                                  FailureText::kSymbol, 3.5, QColor(255, 69, 58));
        p.setFont(messageFont);
        p.setPen(PortalStyle::ink(0.85));
        double y = text.firstLine + shift;
        for (const QString& line : text.lines) {
            p.drawText(QRectF(-150, y, 300, text.lineHeight), Qt::AlignHCenter | Qt::AlignTop, line);
            y += text.lineHeight;
        }
        y += FailureText::kGap;
        if (text.offersDetails && !showing) {
            const QFontMetricsF metrics(button);
            const double w = metrics.horizontalAdvance(QStringLiteral("Show details")) + 8;
            m_detailsRect = QRectF(-w / 2, y, w, metrics.height() + 2);
            p.setFont(button);
            p.setPen(PortalStyle::accent());
            p.drawText(m_detailsRect, Qt::AlignCenter, QStringLiteral("Show details"));
        } else if (showing) {
            const QRectF box(-115, y, 230, 96);
            p.setPen(Qt::NoPen);
            p.setBrush(PortalStyle::shade(0.45));
            p.drawRoundedRect(box, 6, 6);
            m_detailsRect = box;  // where the selectable text goes (placed after painting)
        }
        break;
    }
    case Kind::needsParameters: {
        const bool crop = phase.target && phase.target->toolID == std::optional<std::string>("crop");
        PortalStyle::strokeSymbol(p, crop ? PortalStyle::Symbol::crop : PortalStyle::Symbol::scissors, {0, -22}, 22, 2.5,
                     PortalStyle::accent());
        PortalStyle::drawLine(p, PortalStyle::text(phase.target ? phase.target->label : std::string()), -3, PortalStyle::font(11, QFont::DemiBold),
                 PortalStyle::ink(0.9));
        PortalStyle::drawLine(p, QStringLiteral("Choose what to keep"), 14, PortalStyle::font(9.5), PortalStyle::ink(0.55));
        break;
    }
    }
}

void PortalView::placeDetailView() {
    if (!m_detailView) return;
    const PortalPhase& phase = m_model.phase();
    const bool show = phase.is(Kind::failed) && phase.detail && !phase.detail->empty() && m_model.showingDetails() &&
                      m_model.isRevealed() && !m_detailsRect.isEmpty() && offersDetails();
    if (!show) {
        m_detailView->hide();
        return;
    }
    const QString text = PortalStyle::text(*phase.detail);
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
    const QString name = nameMetrics.elidedText(PortalStyle::text(phase.name), Qt::ElideMiddle, 150);
    const QSizeF capsule(nameMetrics.horizontalAdvance(name) + 22, nameMetrics.height() + 12);
    double noteHeight = 0;
    QRectF noteBox;
    const QFont noteFont = PortalStyle::font(9.5);
    if (phase.note) {
        const QRectF bounds = QFontMetricsF(noteFont).boundingRect(QRectF(0, 0, 172, 1000),
                                                                   Qt::AlignHCenter | Qt::TextWordWrap, PortalStyle::text(*phase.note));
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
    p.setPen(PortalStyle::white(1));  // on the accent capsule
    p.drawText(nameRect, Qt::AlignCenter, name);
    if (phase.note) {
        noteBox.translate(0, nameRect.bottom() + 5);
        p.setPen(Qt::NoPen);
        p.setBrush(PortalStyle::shade(0.55));
        p.drawRoundedRect(noteBox, 8, 8);
        p.setFont(noteFont);
        p.setPen(PortalStyle::ink(0.8));
        p.drawText(noteBox.adjusted(10, 5, -10, -5), Qt::AlignHCenter | Qt::TextWordWrap, PortalStyle::text(*phase.note));
    }
    p.restore();
}

}  // namespace kolvex
