// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

#include <memory>

#include "core/engines/document/RichDocument.h"
#include "core/engines/document/StyledText.h"

namespace kolvex {

// Reads RTF into styled text or a rich document: groups, the declared code page (\ansicpg, \mac, \pc, font
// charsets) for 8-bit text and \'hh escapes, \uN with \ucN fallbacks and surrogate pairs,
// ignorable \* destinations and the other skipped destinations, \bin data, bold, italic,
// underline, strike-through, colours from the colour table, font size and family (monospaced ones
// recognised), paragraphs, page breaks (as form feeds), line breaks, tabs, tables and hyperlink fields. List markers stay the text they are (\listtext); pictures are skipped.
// Nesting deeper than kMaxDepth, a \bin longer than the data, and data that is
// not RTF throw DocumentFormatError. Linear in the input; pure; safe from any thread.
class RtfReader {
public:
    static constexpr size_t kMaxDepth = 1000;

    RtfReader() = delete;

    // The text alone: table cells end with tabs, rows and paragraphs with line feeds.
    static StyledText read(std::string_view bytes);
    // The document: paragraphs, and tables (\\trowd … \\cell … \\row) as tables. Needs a
    // QGuiApplication; the document belongs to the calling thread.
    static std::unique_ptr<RichDocument> readDocument(std::string_view bytes);
};

}  // namespace kolvex
