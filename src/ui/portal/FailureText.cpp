// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/FailureText.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include <QFontMetricsF>
#include <QTextLayout>

namespace kolvex {

namespace {

const QString kShowDetails = QStringLiteral("Show details");

// The first `count` lines of `text` laid into the given widths in turn, and how much of the
// text they hold.
struct Filled {
    QStringList lines;
    int consumed = 0;
};

Filled fill(const QString& text, const QFont& font, const std::vector<double>& widths, std::size_t count) {
    Filled filled;
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (std::size_t i = 0; i < count && i < widths.size(); ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(widths[i]);
        filled.lines << text.mid(line.textStart(), line.textLength()).trimmed();
        filled.consumed = line.textStart() + line.textLength();
    }
    layout.endLayout();
    return filled;
}

// `text` wrapped into lines of the given widths; none when it needs more lines than there are.
std::optional<QStringList> wrap(const QString& text, const QFont& font, const std::vector<double>& widths) {
    Filled filled = fill(text, font, widths, widths.size());
    if (filled.consumed < text.size()) return std::nullopt;
    return filled.lines;
}

// As many lines as the widths allow; the last one ends in an ellipsis when words are left.
QStringList wrapElided(const QString& text, const QFont& font, const std::vector<double>& widths) {
    if (auto whole = wrap(text, font, widths)) return *whole;
    if (widths.empty()) return {};
    // All but the last width filled in turn; everything left goes on the last line, elided.
    Filled filled = fill(text, font, widths, widths.size() - 1);
    filled.lines << QFontMetricsF(font).elidedText(text.mid(filled.consumed).trimmed(), Qt::ElideRight, widths.back());
    return filled.lines;
}

// The message without the file name it holds, as a sentence of its own.
QString reasonWithout(const QString& message, const QString& name) {
    QString reason = message;
    reason.remove(reason.indexOf(name), name.size());
    reason = reason.simplified();
    while (!reason.isEmpty() && (reason.front() == QLatin1Char(':') || reason.front() == QLatin1Char('-')))
        reason = reason.mid(1).trimmed();
    while (!reason.isEmpty() && reason.back() == QLatin1Char(':')) reason.chop(1);
    if (!reason.isEmpty()) reason[0] = reason[0].toUpper();
    return reason;
}

}  // namespace

double FailureText::widthAt(double top, double bottom) {
    const double far = std::max(std::abs(top), std::abs(bottom));
    if (far >= kRadius) return 0;
    return 2 * std::sqrt(kRadius * kRadius - far * far);
}

bool FailureText::saysMore(const QString& detail, const QString& message) {
    const QString d = detail.simplified();
    return !d.isEmpty() && d != message.simplified();
}

FailureText FailureText::layout(const QString& message, const QString& detail, const QStringList& names,
                                const QFont& font, const QFont& buttonFont) {
    const QFontMetricsF metrics(font);
    const QFontMetricsF buttonMetrics(buttonFont);
    const double lineHeight = metrics.lineSpacing();
    const double buttonHeight = buttonMetrics.height() + 2;
    const double buttonWidth = buttonMetrics.horizontalAdvance(kShowDetails) + 8;
    const bool more = saysMore(detail, message);

    // The block of n lines (and the button) centred on the disc; each line as wide as the disc
    // is there. None when the button would not fit.
    const auto place = [&](int n, bool button) -> std::optional<FailureText> {
        FailureText t;
        t.lineHeight = lineHeight;
        const double height = kSymbol + kGap + n * lineHeight + (button ? kGap + buttonHeight : 0);
        t.symbolTop = -height / 2;
        t.firstLine = t.symbolTop + kSymbol + kGap;
        t.buttonTop = t.firstLine + n * lineHeight + kGap;
        if (widthAt(t.symbolTop, t.symbolTop + kSymbol) < kSymbol) return std::nullopt;
        if (button && widthAt(t.buttonTop, t.buttonTop + buttonHeight) < buttonWidth) return std::nullopt;
        t.offersDetails = button;
        return t;
    };
    const auto widths = [&](const FailureText& t, int n) {
        std::vector<double> w;
        for (int i = 0; i < n; ++i) w.push_back(widthAt(t.firstLine + i * lineHeight, t.firstLine + (i + 1) * lineHeight));
        return w;
    };

    // The whole message, in as few lines as it needs.
    for (int n = 1; n <= kMaxLines; ++n) {
        auto t = place(n, more);
        if (!t) continue;
        if (auto lines = wrap(message, font, widths(*t, n)); lines && lines->size() <= n) {
            t->lines = *lines;
            return *t;
        }
    }
    // It does not fit: the details hold the rest, so they are offered.
    QString name;
    for (const QString& candidate : names) {
        if (!candidate.isEmpty() && message.contains(candidate) && candidate.size() > name.size()) name = candidate;
    }
    for (int n = kMaxLines; n >= 1; --n) {
        auto t = place(n, true);
        if (!t) continue;
        const std::vector<double> w = widths(*t, n);
        t->complete = false;
        const QString reason = name.isEmpty() ? QString() : reasonWithout(message, name);
        if (!reason.isEmpty() && n >= 2) {
            t->lines = wrapElided(reason, font, std::vector<double>(w.begin(), w.end() - 1));
            t->lines << metrics.elidedText(name, Qt::ElideMiddle, w.back());
        } else {
            t->lines = wrapElided(reason.isEmpty() ? message : reason, font, w);
        }
        return *t;
    }
    FailureText t;  // a font too large for the disc: one line, as much as shows
    t.lineHeight = lineHeight;
    t.symbolTop = -(kSymbol + kGap + lineHeight) / 2;
    t.firstLine = t.symbolTop + kSymbol + kGap;
    t.complete = false;
    t.lines << metrics.elidedText(message, Qt::ElideRight, widthAt(t.firstLine, t.firstLine + lineHeight));
    return t;
}

}  // namespace kolvex
