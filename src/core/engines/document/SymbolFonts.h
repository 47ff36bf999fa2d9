// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string_view>

namespace kolvex::symbol_fonts {

// The Unicode character a code of a symbol font stands for (Word's w:sym: Symbol's Greek and
// mathematics, Wingdings' ticks, boxes and bullets), the code as Word writes it: its low byte,
// or in the private range at U+F000 that such fonts map to. None for a code the table does not
// know, or another font.
std::optional<char32_t> unicodeOf(std::string_view font, unsigned code);

}  // namespace kolvex::symbol_fonts
