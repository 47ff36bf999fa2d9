// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal view's hints under the file node and the type-to-search list.

#include <algorithm>
#include <cmath>

#include <QFontMetricsF>
#include <QPainter>
#include <QPlainTextEdit>

#include "ui/portal/PortalStyle.h"
#include "ui/portal/RingTargetView.h"
#include "ui/portal/PortalView.h"

namespace kolvex {

namespace {

using Kind = PortalPhase::Kind;

}  // namespace

PortalView::Hint PortalView::modeHint(const PortalModel& model) {
    Hint hint;
    // A dead end says why, on the keyboard path too: its keys would have nothing to act on.
    if (model.nothingToOffer()) {
        hint.kind = Hint::Kind::nothingToOffer;
        hint.headline = PortalStyle::text(model.nothingHeadline());
        hint.detail = PortalStyle::text(model.nothingDetail());
    } else if (model.isKeyboardDriven() && model.phase().is(Kind::browsing) && !model.isShowingFormatList()) {
        hint.kind = Hint::Kind::keyboard;
        hint.headline = QString::fromUtf8(kKeyboardHint);
        hint.detail = QStringLiteral("or type to search");
    } else if (!model.selectedTarget() && model.payload()) {
        hint.kind = Hint::Kind::modePrompt;
        hint.headline = model.mode() == PortalMode::tools ? QStringLiteral("Tools") : QStringLiteral("Convert");
        hint.detail = PortalStyle::text(model.payload()->label());
    }
    return hint;
}

QRectF PortalView::keyboardHintRect(const RingLayout& layout, const std::vector<RingTarget>& targets) {
    // Below the whole ring, so no chip (even grown to its selected size) ever sits under it.
    double chipHeight = 0;
    for (const auto& target : targets) chipHeight = std::max(chipHeight, RingTargetView::size(target, 1).height());
    const double ringBottom = targets.empty() ? 28 : layout.radius + chipHeight * RingTargetView::scale(1) / 2;
    const QFontMetricsF headline(PortalStyle::font(9, QFont::Medium));
    const QFontMetricsF detail(PortalStyle::font(8.5));
    const double width = std::max(headline.horizontalAdvance(QString::fromUtf8(kKeyboardHint)),
                                  detail.horizontalAdvance(QStringLiteral("or type to search")));
    return {-width / 2, ringBottom + 8, width, headline.height() + 2 + detail.height()};
}

QStringList PortalView::nothingDetailLines(const QString& detail) {
    return PortalStyle::wrappedLines(detail, PortalStyle::font(9.5, QFont::Medium), kNothingWidth);
}

void PortalView::paintHint(QPainter& p, QPointF node) {
    const Hint hint = modeHint(m_model);
    if (hint.kind == Hint::Kind::none) return;
    p.save();
    if (hint.kind == Hint::Kind::keyboard) {
        const QRectF box = keyboardHintRect(m_model.layout(), m_model.targets());
        double y = box.top();
        PortalStyle::drawLine(p, hint.headline, y, PortalStyle::font(9, QFont::Medium), PortalStyle::ink(0.55));
        y += QFontMetricsF(PortalStyle::font(9, QFont::Medium)).height() + 2;
        PortalStyle::drawLine(p, hint.detail, y, PortalStyle::font(8.5), PortalStyle::ink(0.35));
        p.restore();
        return;
    }
    p.translate(node);
    // Aligned to the node's bottom edge (28 below its centre), then moved 44 down.
    double y = 44;
    switch (hint.kind) {
    case Hint::Kind::nothingToOffer: {
        PortalStyle::drawLine(p, hint.headline, y, PortalStyle::font(9, QFont::DemiBold), PortalStyle::ink(0.7));
        y += QFontMetricsF(PortalStyle::font(9)).height() + 2;
        // Wrapped, never cut: the ring is empty, so the words have the room.
        const QFont font = PortalStyle::font(9.5, QFont::Medium);
        for (const QString& line : nothingDetailLines(hint.detail)) {
            PortalStyle::drawLine(p, line, y, font, PortalStyle::ink(0.5));
            y += QFontMetricsF(font).height();
        }
        break;
    }
    case Hint::Kind::modePrompt:
        PortalStyle::drawLine(p, hint.headline, y, PortalStyle::font(9, QFont::DemiBold), PortalStyle::accent());
        y += QFontMetricsF(PortalStyle::font(9)).height() + 2;
        PortalStyle::drawLine(p, hint.detail, y, PortalStyle::font(9.5, QFont::Medium), PortalStyle::ink(0.75), 130);
        break;
    case Hint::Kind::keyboard:
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
    p.setBrush(PortalStyle::shade(0.72));
    p.drawRoundedRect(box, 10, 10);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(PortalStyle::ink(0.14), 1));
    p.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 9.5, 9.5);

    // Header
    PortalStyle::strokeSymbol(p, PortalStyle::Symbol::magnifier, {box.left() + 11 + 5, box.top() + headerHeight / 2}, 10, 1.5,
                 PortalStyle::ink(0.5));
    p.setFont(headerFont);
    const bool empty = m_model.formatQuery().empty();
    p.setPen(empty ? PortalStyle::ink(0.45) : PortalStyle::ink(1));
    p.drawText(QRectF(box.left() + 11 + 16, box.top(), width - 38, headerHeight), Qt::AlignVCenter | Qt::AlignLeft,
               empty ? QStringLiteral("Convert to…") : PortalStyle::text(m_model.formatQuery()));
    p.setPen(QPen(PortalStyle::ink(0.12), 1));
    p.drawLine(QPointF(box.left(), box.top() + headerHeight + 0.5), QPointF(box.right(), box.top() + headerHeight + 0.5));

    const QRectF body(box.left(), box.top() + headerHeight + 1, width, bodyHeight);
    if (rows.empty()) {
        p.setFont(PortalStyle::font(11));
        p.setPen(PortalStyle::ink(0.5));
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
        p.setPen(lit ? PortalStyle::black(1) : PortalStyle::ink(0.85));
        p.drawText(row.adjusted(9, 0, -9, 0), Qt::AlignVCenter | Qt::AlignLeft, PortalStyle::text(rows[i].label));
        if (rows[i].kind == RingTarget::Kind::tool) {
            p.setFont(tagFont);
            p.setPen(PortalStyle::ink(0.4));
            p.drawText(row.adjusted(9, 0, -9, 0), Qt::AlignVCenter | Qt::AlignRight, QStringLiteral("tool"));
        }
    }
    if (rowsHeight > bodyHeight) {  // the scroll indicator
        const double fraction = bodyHeight / rowsHeight;
        const double barHeight = bodyHeight * fraction;
        const double barTop = body.top() + (bodyHeight - barHeight) * (scroll / (rowsHeight - bodyHeight));
        p.setPen(Qt::NoPen);
        p.setBrush(PortalStyle::ink(0.35));
        p.drawRoundedRect(QRectF(body.right() - 4, barTop + 2, 3, barHeight - 4), 1.5, 1.5);
    }
    p.restore();
}

}  // namespace kolvex
