// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stop_token>

class QPaintDevice;
class QTextDocument;

namespace kolvex {

// Qt breaks a word too wide for its line by measuring, for every line, the whole rest of the
// word: a word of a million letters (one long line of a text file, one CSV cell) takes minutes,
// and a paragraph is laid out in one call that nothing can stop. Before the layout, every word
// longer than kLongWord characters is broken here in one pass, by the widths of its letters in
// their own fonts on `device`: a line break (U+2028) wherever the next letter would not fit in
// `width` points, and, every kLinesPerPiece lines, a paragraph of its own (the same format, no
// space or indent between the pieces) so that the layout can be stopped between them. A
// paragraph in a list or a table is only given line breaks. The text read back from the PDF is
// the same, line for line, as Qt's own breaking would give.
//
// Throws OperationCancelled when `stop` is requested. On the thread that owns the document,
// before it is laid out (its page size empty); its undo history is switched off.
class LongWords {
public:
    static constexpr int kLongWord = 256;
    static constexpr int kLinesPerPiece = 64;

    LongWords() = delete;

    // Returns how many breaks were put in.
    static int breakToWidth(QTextDocument& document, const QPaintDevice& device, double width, std::stop_token stop);
};

}  // namespace kolvex
