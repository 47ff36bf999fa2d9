// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/RtfReader.h"

namespace kolvex {
namespace {

using testing::boldAttributes;
using testing::italicAttributes;
using testing::monoAttributes;
using testing::plainAttributes;

TEST(RtfReader, DecodesTextThroughTheDeclaredCodePages) {
    const struct {
        const char* rtf;
        const char* text;
    } cases[] = {
        {R"({\rtf1\ansi Hello\par World})", "Hello\nWorld"},
        {R"({\rtf1\ansi\ansicpg1252 caf\'e9 \'93q\'94})", "caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D"},
        {R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8})", "\xD0\x9F\xD1\x80\xD0\xB8"},
        {R"({\rtf1\ansi\deff0{\fonttbl{\f0\fcharset204 Arial;}}\f0 \'cf})", "\xD0\x9F"},
        {R"({\rtf1\ansi\ansicpg932 \'93\'fa})", "\xE6\x97\xA5"},
        {R"({\rtf1\mac \'8e})", "\xC3\xA9"},
        {R"({\rtf1\uc1 \u8364?\u-10179?\u-8704? x})", "\xE2\x82\xAC\xF0\x9F\x98\x80 x"},
        {R"({\rtf1\uc2 \u233\'3f\'3fb\uc0\u233 c})", "\xC3\xA9" "b\xC3\xA9" "c"},
        {R"({\rtf1 {\*\generator Word;}{\*\unknowndest hidden}{\info{\title T}}shown})", "shown"},
        {R"({\rtf1 a\bin3 {}}b})", "ab"},
        {R"({\rtf1 \{x\}\\ a\tab b\line c\~d\emdash})", "{x}\\ a\tb\nc\xC2\xA0" "d\xE2\x80\x94"},
        {"{\\rtf1 one\\\ntwo}", "one\ntwo"},
        {R"({\rtf1 {\colortbl;\red0\green0\blue0;}{\stylesheet{\s0 Normal;}}body})", "body"},
        {R"({\rtf1 \u-10179?})", "\xEF\xBF\xBD"},
        // Hidden text (\v) is left out, its paragraph marks with it.
        {R"({\rtf1 Seen {\v hidden }{\v\b bold hidden\par}shown\v  gone\v0  end.\par {\v\plain back}})", "Seen shown end.\nback"},
    };
    for (const auto& c : cases) EXPECT_EQ(RtfReader::read(c.rtf).plainText(), c.text) << c.rtf;
}

TEST(RtfReader, KeepsCharacterStylesAndLinks) {
    const StyledText text = RtfReader::read(
        R"({\rtf1\ansi\deff0{\fonttbl{\f0\fswiss Helvetica;}{\f1\fmodern Courier New;}}\f0\fs24 a {\b b\b0 }{\i i}{\f1\fs20 m}\plain p)"
        R"({\field{\*\fldinst{HYPERLINK "https://example.org"}}{\fldrslt site}}})");
    TextAttributes link = plainAttributes();
    link.link = "https://example.org";
    const std::vector<TextRun> expected = {{"a ", plainAttributes()}, {"b", boldAttributes()}, {"i", italicAttributes()},
                                           {"m", monoAttributes(10)}, {"p", plainAttributes()},  {"site", link}};
    EXPECT_EQ(text.runs(), expected);
}

TEST(RtfReader, RefusesHostileInputQuickly) {
    std::string deep = "{\\rtf1 ";
    deep += std::string(100000, '{') + "x" + std::string(100000, '}') + "}";
    const std::string cases[] = {
        deep,
        R"({\rtf1 a\bin999999 xyz})",
        R"({\rtf1 a\bin-5 xyz})",
        "plain text, not RTF",
        "",
    };
    for (const std::string& rtf : cases) {
        EXPECT_TRUE(testing::finishesWithin(std::chrono::seconds(5), [&] {
            EXPECT_THROW(RtfReader::read(rtf), DocumentFormatError) << rtf.substr(0, 40);
        }));
    }
    // Unbalanced or truncated documents keep what they have.
    EXPECT_EQ(RtfReader::read(R"({\rtf1 abc)").plainText(), "abc");
    EXPECT_EQ(RtfReader::read(R"({\rtf1 abc\'e)").plainText(), "abc");
}

// Tables become tables; a picture that cannot be shown (damaged, or a metafile) is left out with a
// note, and the text around it stays.
TEST(RtfReader, BuildsTablesAndLeavesOutPicturesItCannotShow) {
    const auto document = RtfReader::readDocument(
        R"({\rtf1 before\par\trowd\cellx1000\cellx2000\pard\intbl a\par b\cell c\cell\row\pard )"
        R"(x{\pict\pngblip 0011}y{\pict\wmetafile8 0011}z\par})");
    EXPECT_EQ(testing::describe(*document), "|before\ntable 1x2 header 0\ncell 0,0 |a\ncell 0,0 |b\ncell 0,1 |c\n|xyz\n|\n");
    EXPECT_EQ(document->notes(), std::vector<std::string>{"2 pictures could not be read and were left out."});
    EXPECT_EQ(RtfReader::read(R"({\rtf1 \trowd\pard\intbl a\cell b\cell\row x{\pict\pngblip 00}y})").plainText(), "a\tb\t\nxy");
}

}  // namespace
}  // namespace kolvex
