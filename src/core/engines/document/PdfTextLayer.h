// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <QString>

#include "core/engines/document/DrawnText.h"

namespace kolvex::qpdf_bridge {
struct TextLayer;
}

namespace kolvex::pdf_text_layer {

// The text of every item drawn on each page, in drawing order (see DrawnTextRecorder).
using DrawnPages = std::vector<std::vector<DrawnItem>>;

// One text object ("BT" … "ET") of a page content as Qt's PDF engine writes them: one font, one
// glyph code per "Tj".
struct TextObject {
    size_t begin = 0;  // just after "BT"
    size_t end = 0;    // where its glyphs end: before "ET", or before a marked span of its own
    std::string font;  // the font's resource name, "/F7"
    std::vector<uint32_t> codes;
    std::vector<std::pair<size_t, size_t>> glyphs;  // where each code is placed and shown, as (begin, end)
};

// The text objects of a page content, in order; empty when the content holds a form this reader
// does not follow (strings shown with TJ, ' or ", inline images): such a page is left as it is.
std::vector<TextObject> textObjects(std::string_view content, bool* readable = nullptr);

// Makes the text layer read back what was drawn. Each page's text objects are paired with the
// items drawn on it (one object per item, in order; an item drawn without any object, or an
// object without an item, is left out of the pairing and costs nothing else). An item left out
// that shows something is given an invisible glyph where it was drawn, carrying its text. Where an item's glyphs stand one for one for its
// characters, each glyph's ToUnicode entry becomes the character it was shaped from; where a
// glyph joins several characters (a ligature), its entry becomes all of them when that is what
// the item says. An item whose glyphs still do not read back as its text (conjuncts, reordered
// vowel signs, emoji sequences, one glyph for two different characters) is wrapped in an
// ActualText span that carries the text; so is a right-to-left item with marks over or under
// its letters, its text in the order its glyphs stand on the page (the order readers take a
// span in before they turn right-to-left runs round), and a right-to-left item in a script
// readers do not turn round (N'Ko, Adlam, …), its text in reading order. In an item that does read back, each
// letter with marks gets a span of its own, or a reader would part the marks from it. Pages of
// Latin-1 alone are left to Qt's names, which read back right once every name is mended by
// normal forms against the text written (see to_unicode::mend: a ligature reads as its letters);
// `text` is that text, or empty for the text of the items. Returns whether anything changed.
bool rewrite(qpdf_bridge::TextLayer& layer, const DrawnPages& drawn, const QString& text = {});

// rewrite() on the PDF at `pdf`, in place. Throws std::exception when it cannot be read or
// written. Both run on the caller's thread, any thread; rewriteFile blocks on file I/O.
void rewriteFile(const std::filesystem::path& pdf, const DrawnPages& drawn, const QString& text = {});

}  // namespace kolvex::pdf_text_layer
