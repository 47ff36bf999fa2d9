// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>

#include "core/engines/document/ToUnicodeMap.h"

namespace kolvex {
namespace {

// A ToUnicode CMap as PDF writers lay them out: ranges with arrays, a counting range, single codes.
const std::string kCMap =
    "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
    "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
    "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n"
    "2 beginbfrange\n<0001> <0003> [<2F47> <0041> <2F08>]\n<0004> <0005> <0061>\nendbfrange\n"
    "3 beginbfchar\n<0006> <00B5>\n<0007> <1100>\n<0008> <D83DDE00>\nendbfchar\n"
    "endcmap\nCMapName currentdict /CMapResource defineresource pop\nend\nend\n";

TEST(ToUnicodeMap, ReadsRangesArraysAndSingleCodes) {
    const to_unicode::Map map = to_unicode::parse(kCMap);
    const to_unicode::Map expected = {{1, U"\u2F47"}, {2, U"A"}, {3, U"\u2F08"}, {4, U"a"},
                                      {5, U"b"},      {6, U"\u00B5"}, {7, U"\u1100"}, {8, U"\U0001F600"}};
    EXPECT_EQ(map, expected);
    // Written back, the map reads the same and what surrounds it is kept.
    const std::string rewritten = to_unicode::replaceMappings(kCMap, map);
    EXPECT_EQ(to_unicode::parse(rewritten), expected);
    EXPECT_EQ(rewritten.find("/CIDInit"), 0u);
    EXPECT_NE(rewritten.find("1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n"), std::string::npos);
    EXPECT_NE(rewritten.find("endcmap\nCMapName currentdict"), std::string::npos);
}

TEST(ToUnicodeMap, MapsEachGlyphToTheCharacterThatWasWritten) {
    const struct {
        const char* written;
        to_unicode::Map expected;  // codes that change; the others keep their text
    } cases[] = {
        // 日 and 人 were written; the font's cmap also gives their glyphs to Kangxi radicals.
        {"\xE6\x97\xA5\xE4\xBA\xBA Aab", {{1, U"\u65E5"}, {3, U"\u4EBA"}}},
        // The micro sign and mu share a glyph; so do a conjoining jamo and its compatibility form.
        {"\xCE\xBC \xE3\x84\xB1", {{6, U"\u03BC"}, {7, U"\u3131"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        const std::optional<std::string> mended = to_unicode::mend(kCMap, QString::fromUtf8(c.written));
        ASSERT_TRUE(mended);
        to_unicode::Map expected = to_unicode::parse(kCMap);
        for (const auto& [code, text] : c.expected) expected[code] = text;
        EXPECT_EQ(to_unicode::parse(*mended), expected);
    }
    // What was written as a radical stays a radical; a map that needs nothing is left alone.
    EXPECT_FALSE(to_unicode::mend(kCMap, QString::fromUtf8("\xE2\xBD\x87 \xE2\xBC\x88 A")));
    EXPECT_FALSE(to_unicode::mend(kCMap, QStringLiteral("plain text")));
    // Two written characters with one normal form: neither is guessed.
    // (the Kelvin sign's glyph, with K and the full-width K written)
    EXPECT_FALSE(to_unicode::mend("1 beginbfchar\n<0001> <212A>\nendbfchar\n", QString::fromUtf8("K \xEF\xBC\xAB")));
}

}  // namespace
}  // namespace kolvex
