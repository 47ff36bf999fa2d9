// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

#include "core/engines/document/StyledText.h"

namespace kolvex {

// Markdown parsed inline only, whitespace preserved: block syntax (headings, lists, quotes,
// tables) stays literal text and line breaks and runs of spaces stay as they are; emphasis,
// strong emphasis, code spans, links, autolinks, backslash escapes and character references are
// parsed, their markup removed and their meaning kept as the runs' intent and link, and shown by
// their font (bold, italic, monospaced); plain runs get no font. Linear in the input; pure; safe
// from any thread.
class MarkdownReader {
public:
    MarkdownReader() = delete;

    // Markup pieces (delimiter runs, brackets, code spans, links) beyond this are refused: each
    // costs tens of bytes while it is matched, and ordinary documents hold far fewer.
    static constexpr size_t kMaxMarkup = 1'000'000;

    // `text` must be valid UTF-8. Throws DocumentLimitError past kMaxMarkup markup pieces.
    static StyledText parseInline(std::string_view text);
};

}  // namespace kolvex
