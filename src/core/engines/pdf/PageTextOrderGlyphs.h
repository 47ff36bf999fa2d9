// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "core/engines/pdf/PageTextOrder.h"

namespace kolvex::page_text_order {

// What one glyph on a line stands for, with the marks set over or under it: `text` is in
// logical order (a base character or a ligature's letters, then its marks).
struct Glyph {
    std::u32string text;
    PlacedWord::Box box;
};

// The characters of UTF-8 text, one code point each.
std::u32string decoded(const std::string& utf8);
// Whether `c` has strong left-to-right direction.
bool isLeftToRight(char32_t c);
// Whether `c` is a combining mark, drawn on a base character rather than beside it.
bool isMark(char32_t c);
// Whether `c` belongs to a right-to-left script (strong right-to-left direction).
bool isRightToLeft(char32_t c);
// Whether readers turn `c` round when they read a right-to-left line: the scripts of the basic
// plane's Hebrew to Thaana blocks and the presentation forms. Other right-to-left scripts (N'Ko,
// Samaritan, Adlam, …) are taken in the order their glyphs stand.
bool readersTurnRound(char32_t c);

// The glyphs of one line, from the words that stand on it: `words` have letters in them,
// `marks` hold marks alone (readers often make a word of a mark set apart from its base). Each
// mark is put with the glyph it is drawn on. The glyphs come in the order they stand, left to
// right, with a space wherever the words stand apart.
std::vector<Glyph> lineGlyphs(const std::vector<const PlacedWord*>& words, const std::vector<const PlacedWord*>& marks);

}  // namespace kolvex::page_text_order
