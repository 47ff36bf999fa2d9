// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace kolvex::symbol_fonts {

// The Unicode character a code of a symbol font stands for (Word's w:sym: Symbol's Greek and
// mathematics, Wingdings' ticks, boxes and bullets), the code as Word writes it: its low byte,
// or in the private range at U+F000 that such fonts map to. None for a code the table does not
// know, or another font.
std::optional<char32_t> unicodeOf(std::string_view font, unsigned code);
// The same for a code written in hexadecimal, as w:sym's w:char is ("F061"); none when it is not.
std::optional<char32_t> unicodeOf(std::string_view font, std::string_view hexCode);

// The note for `count` symbols left out, naming (some of) their fonts.
std::string leftOutNote(int count, const std::set<std::string>& fonts);

}  // namespace kolvex::symbol_fonts
