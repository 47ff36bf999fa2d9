// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/LongWords.h"

#include <vector>

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextList>

#include "core/services/Cancellation.h"

namespace kolvex {

namespace {

// Whether a line may already end before `c` (so the word ends there).
bool endsWord(QChar c) {
    return c.isSpace() || c == QChar::LineSeparator || c == QChar(0x200B);
}

// Where a break goes, and whether it starts a paragraph of its own.
struct Break {
    int position = 0;
    bool newPiece = false;
};

// A paragraph that may be cut into paragraphs without showing it: not in a list or a table.
bool mayBeCut(const QTextBlock& block) {
    if (block.textList()) return false;
    const QTextDocument* document = block.document();
    QTextCursor at(block);
    return at.currentFrame() == document->rootFrame() && !at.currentTable();
}

// The breaks the long words of `block` need, in order.
void breaksIn(const QTextBlock& block, const QPaintDevice& device, double width, std::vector<Break>& out) {
    const QString text = block.text();
    const int base = block.position();
    const bool cut = mayBeCut(block);
    // Each fragment is one format; its metrics are looked up once for all its letters.
    QTextBlock::iterator fragment = block.begin();
    int fragmentEnd = -1;
    QFontMetricsF metrics(QFont(), &device);
    const auto metricsAt = [&](int offset) -> const QFontMetricsF& {
        const int at = base + offset;
        while (at >= fragmentEnd && !fragment.atEnd()) {
            const QTextFragment current = fragment.fragment();
            ++fragment;
            fragmentEnd = current.position() + current.length();
            if (at < fragmentEnd) metrics = QFontMetricsF(current.charFormat().font(), &device);
        }
        return metrics;
    };
    int lines = 0;
    for (int start = 0; start < text.size();) {
        if (endsWord(text[start])) {
            ++start;
            continue;
        }
        int end = start;
        while (end < text.size() && !endsWord(text[end])) ++end;
        if (end - start > LongWords::kLongWord) {
            double used = 0;
            for (int i = start; i < end;) {
                const int units = text[i].isHighSurrogate() && i + 1 < end ? 2 : 1;
                const QFontMetricsF& font = metricsAt(i);
                const double advance = units == 1 ? font.horizontalAdvance(text[i]) : font.horizontalAdvance(text.mid(i, 2));
                // Never between a letter and the marks on it.
                if (used > 0 && used + advance > width && !text[i].isMark()) {
                    ++lines;
                    out.push_back({base + i, cut && lines % LongWords::kLinesPerPiece == 0});
                    used = 0;
                }
                used += advance;
                i += units;
            }
        }
        start = end;
    }
}

}  // namespace

int LongWords::breakToWidth(QTextDocument& document, const QPaintDevice& device, double width, std::stop_token stop) {
    // A little narrower than the line: a letter measured alone may be a little narrower than
    // when shaped beside its neighbours, and a piece Qt has to break again looks ragged.
    width *= 0.97;
    std::vector<Break> breaks;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        throwIfStopRequested(stop);
        if (block.length() > kLongWord) breaksIn(block, device, width, breaks);
    }
    if (breaks.empty()) return 0;
    document.setUndoRedoEnabled(false);
    QTextCursor cursor(&document);
    // One edit: outside one, every move of the cursor lays its paragraph out anew to find where
    // it is, and a long paragraph would cost its length for every break.
    cursor.beginEditBlock();
    struct EndEdit {
        QTextCursor& cursor;
        ~EndEdit() { cursor.endEditBlock(); }
    } endEdit{cursor};
    // From the end, so the positions still ahead stay where they were found.
    for (auto it = breaks.rbegin(); it != breaks.rend(); ++it) {
        if ((it - breaks.rbegin()) % 1024 == 0) throwIfStopRequested(stop);
        cursor.setPosition(it->position);
        if (!it->newPiece) {
            cursor.insertText(QString(QChar::LineSeparator));
            continue;
        }
        // The piece after the cut takes the paragraph's format without what sits before a
        // paragraph; the piece before keeps its start and loses what sits after it.
        QTextBlockFormat after = cursor.block().blockFormat();
        after.setTopMargin(0);
        after.setTextIndent(0);
        after.setPageBreakPolicy(QTextFormat::PageBreak_Auto);
        cursor.insertBlock(after);
        QTextCursor before(cursor.block().previous());
        QTextBlockFormat kept = before.blockFormat();
        kept.setBottomMargin(0);
        before.setBlockFormat(kept);
    }
    return static_cast<int>(breaks.size());
}

}  // namespace kolvex
