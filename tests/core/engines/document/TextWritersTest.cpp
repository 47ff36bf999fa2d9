// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "core/engines/document/HtmlReader.h"
#include "core/engines/document/MarkdownReader.h"
#include "core/engines/document/RichDocument.h"
#include "core/engines/document/RtfReader.h"
#include "core/engines/document/TextWriters.h"

namespace kolvex {
namespace {

using testing::boldAttributes;
using testing::italicAttributes;
using testing::monoAttributes;
using testing::plainAttributes;

StyledText sample() {
    StyledText text;
    text.append("Plain caf\xC3\xA9 {braces} \\ <tag> & \"q\"\n", plainAttributes());
    text.append("bold", boldAttributes());
    text.append(" ", plainAttributes());
    text.append("italic", italicAttributes());
    text.append("\n\n", plainAttributes());
    text.append("mono  spaced", monoAttributes(10));
    TextAttributes link = plainAttributes();
    link.link = "https://example.org/?a=1&b=2";
    text.append(" link\xF0\x9F\x98\x80", link);
    return text;
}

// Markdown's inline styles reach the Markdown writer as marks, and its markup characters that
// are text come back escaped, so a second reading gives the same document.
TEST(TextWriters, MarkdownKeepsInlineMarksAndEscapesText) {
    const struct {
        const char* source;
        const char* written;
    } cases[] = {
        {"Hello **strong** and *em* and `co*de` and [link](https://example.org/a)", "Hello **strong** and *em* and `co*de` and [link](https://example.org/a)"},
        {"***both*** __under__", "***both*** **under**"},
        {"# heading stays literal\n1. so does a list", "# heading stays literal\n1. so does a list"},
        {"a \\*literal\\* star and 2 * 3", "a \\*literal\\* star and 2 \\* 3"},
        {"``tick ` inside``", "``tick ` inside``"},
        {"**bold line**\nnext", "**bold line**\nnext"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const std::string written = text_writers::markdown(*richDocument(MarkdownReader::parseInline(c.source)));
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(text_writers::markdown(*richDocument(MarkdownReader::parseInline(written))), written);
    }
    EXPECT_EQ(text_writers::markdown(*richDocument(StyledText())), "");
}

TEST(TextWriters, InsertsOneViewportAfterTheHead) {
    const std::string meta = R"(<meta name="viewport" content="width=device-width, initial-scale=1">)";
    EXPECT_EQ(text_writers::insertViewport("<html><head><title>x</title></head><head>", false),
              "<html><head>\n" + meta + "<title>x</title></head><head>");
    EXPECT_EQ(text_writers::insertViewport("<HEAD></HEAD>", false), "<HEAD></HEAD>");
    EXPECT_EQ(text_writers::insertViewport("<HEAD></HEAD>", true), "<head>\n" + meta + "</HEAD>");
    const std::string declared = R"(<head><meta name="viewport" content="x"></head>)";
    EXPECT_EQ(text_writers::insertViewport(declared, false), declared);
    EXPECT_EQ(text_writers::insertViewport("no head", true), "no head");
    const std::string page = text_writers::insertViewport(text_writers::html(*richDocument(StyledText()), "t"), false);
    EXPECT_NE(page.find("<head>\n" + meta), std::string::npos);
}

TEST(TextWriters, RtfAndHtmlRoundTripTextAndStyles) {
    const auto original = richDocument(sample());
    const std::string expected = testing::describe(*original);
    EXPECT_EQ(testing::describe(*richDocument(RtfReader::read(text_writers::rtf(*original)))), expected);

    const std::string page = text_writers::html(*original, "Title <&>");
    const std::string fromHtml = testing::describe(*HtmlReader::read(page));
    for (const char* run : {"bold[b]", "italic[i]", "mono  spaced[m]", " link\xF0\x9F\x98\x80[ ->https://example.org/?a=1&b=2]"})
        EXPECT_NE(fromHtml.find(run), std::string::npos) << run << "\n" << fromHtml;
    EXPECT_NE(page.find("<title>Title &lt;&amp;&gt;</title>"), std::string::npos);
}

}  // namespace
}  // namespace kolvex
