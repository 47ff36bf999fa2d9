#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "core/engines/document/HtmlReader.h"
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

TEST(TextWriters, MarkdownMarksBoldAndItalicRuns) {
    TextAttributes boldItalic = boldAttributes();
    boldItalic.font->italic = true;
    const struct {
        StyledText text;
        const char* markdown;
    } cases[] = {
        {StyledText("word\n", boldAttributes()), "**word**\n"},
        {StyledText("\nword", italicAttributes()), "*word*"},
        {StyledText("\n\n", boldAttributes()), "****\n"},
        {StyledText("both", boldItalic), "**both**"},
        {StyledText("# plain *", plainAttributes()), "# plain *"},
        {StyledText("no font", TextAttributes{}), "no font"},
        {StyledText("crlf\r\n", boldAttributes()), "**crlf**"},
    };
    for (const auto& c : cases) EXPECT_EQ(text_writers::markdown(c.text), c.markdown);
    EXPECT_EQ(text_writers::markdown(StyledText()), "");
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
    const std::string page = text_writers::insertViewport(text_writers::html(StyledText(), "t"), false);
    EXPECT_NE(page.find("<head>\n" + meta + "\n"), std::string::npos);
}

TEST(TextWriters, RtfAndHtmlRoundTripTextAndStyles) {
    const StyledText original = sample();
    const StyledText fromRtf = RtfReader::read(text_writers::rtf(original));
    EXPECT_EQ(fromRtf.plainText(), original.plainText());
    EXPECT_EQ(fromRtf.runs(), original.runs());

    const StyledText fromHtml = HtmlReader::read(text_writers::html(original, "Title <&>"));
    EXPECT_EQ(fromHtml.plainText(), original.plainText());
    for (const TextRun& run : fromHtml.runs()) {
        if (run.text == "bold") {
            EXPECT_TRUE(run.attributes.bold());
        }
        if (run.text == "italic") {
            EXPECT_TRUE(run.attributes.italic());
        }
        if (run.text == "mono  spaced") {
            EXPECT_TRUE(run.attributes.font->isMonospaced());
            EXPECT_DOUBLE_EQ(run.attributes.font->pointSize, 10);
        }
        if (run.text.starts_with(" link")) {
            EXPECT_EQ(run.attributes.link, "https://example.org/?a=1&b=2");
        }
    }
    EXPECT_NE(text_writers::html(original, "Title <&>").find("<title>Title &lt;&amp;&gt;</title>"), std::string::npos);
}

}  // namespace
}  // namespace kolvex
