// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <QString>

namespace kolvex::to_unicode {

// What a PDF font's ToUnicode map says each glyph code stands for: code → text (UTF-32).
using Map = std::map<uint32_t, std::u32string>;

// The mappings of a ToUnicode CMap (its bfchar and bfrange entries; anything else is ignored).
Map parse(std::string_view cmap);

// Text as the PDF writes it between angle brackets: UTF-16BE in hex, surrogate pairs beyond
// the BMP.
std::string utf16Hex(const std::u32string& text);

// The CMap with its mappings replaced by `map` (as bfchar entries), everything around them kept.
std::string replaceMappings(std::string_view cmap, const Map& map);

// A font's cmap may give one glyph several characters (an ideograph and its Kangxi radical,
// U+65E5 日 and U+2F47 ⽇; the micro sign and mu), and a writer that maps glyphs back to text
// by the font's cmap picks one of them — often not the one that was written. Given the text
// that was written, every mapping to a character that does not occur in it is turned to the
// written character that is the same once compatibility-normalised (NFKC), and every mapping to
// a ligature of written letters (U+FB01 where "fi" was written) to those letters. Returns the mended
// CMap, or nothing when no mapping changes.
std::optional<std::string> mend(std::string_view cmap, const QString& written);

}  // namespace kolvex::to_unicode
