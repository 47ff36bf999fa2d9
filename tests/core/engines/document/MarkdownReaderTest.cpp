// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "core/engines/document/MarkdownReader.h"

namespace kolvex {
namespace {

// A run's meaning, and the font that shows it to every writer.
TextAttributes intent(uint8_t bits, std::optional<std::string> link = std::nullopt) {
    TextAttributes attributes{std::nullopt, std::move(link), bits};
    if (bits != kIntentNone) {
        TextFont font = (bits & kIntentCode) ? TextFont::monospacedSystem(12) : TextFont::system();
        font.bold = (bits & kIntentStrong) != 0;
        font.italic = (bits & kIntentEmphasis) != 0;
        attributes.font = font;
    }
    return attributes;
}

TEST(MarkdownReader, ParsesInlineMarksOnly) {
    const struct {
        const char* source;
        std::vector<TextRun> runs;
    } cases[] = {
        {"# Title\n- item\n> quote", {{"# Title\n- item\n> quote", intent(kIntentNone)}}},
        {"a **bold** b", {{"a ", intent(0)}, {"bold", intent(kIntentStrong)}, {" b", intent(0)}}},
        {"*em* and _em_", {{"em", intent(kIntentEmphasis)}, {" and ", intent(0)}, {"em", intent(kIntentEmphasis)}}},
        {"***both***", {{"both", intent(kIntentEmphasis | kIntentStrong)}}},
        {"**a*", {{"*", intent(0)}, {"a", intent(kIntentEmphasis)}}},
        {"2 * 3 * 4", {{"2 * 3 * 4", intent(0)}}},
        {"snake_case_name", {{"snake_case_name", intent(0)}}},
        {"`a *b*`", {{"a *b*", intent(kIntentCode)}}},
        {"``x`y``", {{"x`y", intent(kIntentCode)}}},
        {"`unclosed", {{"`unclosed", intent(0)}}},
        {"[site](https://example.org \"T\")", {{"site", intent(0, "https://example.org")}}},
        {"[**b**](u)", {{"b", intent(kIntentStrong, "u")}}},
        {"[no link] (x)", {{"[no link] (x)", intent(0)}}},
        {"<https://a.b/c>", {{"https://a.b/c", intent(0, "https://a.b/c")}}},
        {"<me@example.org>", {{"me@example.org", intent(0, "mailto:me@example.org")}}},
        {"\\*not em\\*", {{"*not em*", intent(0)}}},
        {"a &amp; b &#65; &bogus;", {{"a & b A &bogus;", intent(0)}}},
        {"two  spaces\nline", {{"two  spaces\nline", intent(0)}}},
        {"![alt](pic.png)", {{"alt", intent(0)}}},
    };
    for (const auto& c : cases) EXPECT_EQ(MarkdownReader::parseInline(c.source).runs(), c.runs) << c.source;
}

TEST(MarkdownReader, HostileInputStaysLinear) {
    std::string stars;
    for (int i = 0; i < 50000; ++i) stars += "*a ";
    for (int i = 0; i < 50000; ++i) stars += "a* ";
    std::string ticks;
    for (int i = 1; i < 400; ++i) ticks += std::string(static_cast<size_t>(i), '`') + "x";
    std::string brackets(200000, '[');
    brackets += std::string(200000, ']');
    for (const std::string* input : {&stars, &ticks, &brackets}) {
        EXPECT_TRUE(testing::finishesWithin(std::chrono::seconds(10), [input] { MarkdownReader::parseInline(*input); }));
    }
    // Nothing is lost: every character comes back, markup or text.
    EXPECT_EQ(MarkdownReader::parseInline(brackets).plainText(), brackets);
}

}  // namespace
}  // namespace kolvex
