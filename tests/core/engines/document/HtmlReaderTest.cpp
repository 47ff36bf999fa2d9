// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "DocumentTestSupport.h"
#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/HtmlReader.h"
#include "core/engines/document/PdfLayoutWriter.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

TEST(HtmlReader, KeepsParagraphsStylesAndLinks) {
    const auto document = HtmlReader::read(
        "<html><head><title>T</title></head><body><h1>Head</h1><p>a <b>bold</b> <i>it</i> <code>mono</code> "
        "<a href=\"https://example.org\">site</a></p><ul><li>one</li></ul><p>x<br>y</p></body></html>");
    EXPECT_EQ(testing::describe(*document),
              "h1 |Head[b]\n|a bold[b] it[i] mono[m] site[ ->https://example.org]\nlist bullet 1 |one\n|x\ny\n");
}

// A picture the page carries as data shows; one it links to is never fetched, and one that does
// not decode is left out with a note, the rest of the page kept.
TEST(HtmlReader, KeepsCarriedPicturesAndLeavesOutBrokenOnes) {
    const auto document = HtmlReader::read(
        "<p>a<img src=\"data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8DwHwAFBQIAX8jx0gAAAABJRU5ErkJggg==\" "
        "width=\"30\" height=\"10\">b<img src=\"data:image/png;base64,AAAA\">c<img src=\"https://example.org/x.png\">d</p>");
    EXPECT_EQ(testing::describe(*document), "|a<image 30x10>bcd\n");
    ASSERT_EQ(document->notes().size(), 1u);
    EXPECT_EQ(document->notes()[0], "2 pictures could not be read and were left out.");
}

TEST(HtmlReader, NeverLoadsExternalResources) {
    testing::TempDir dir;
    const auto fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto secret = dir.write("secret.css", "p { color: red }");
    const std::string page = "<html><head><link rel=\"stylesheet\" href=\"file://" + secret.string() + "\">"
                             "<link rel=\"stylesheet\" href=\"" + fifo.string() + "\"></head><body>"
                             "<p>before<img src=\"" + fifo.string() + "\"><img src=\"/dev/zero\"><img src=\"file:///dev/zero\" width=\"10\">"
                             "<img src=\"" + secret.string() + "\">after</p></body></html>";
    std::string result;
    // Reading a FIFO or /dev/zero would block or never end; refusing the loads returns at once.
    ASSERT_TRUE(testing::finishesWithin(std::chrono::seconds(10), [&] { result = HtmlReader::read(page)->toPlainText().toStdString(); }));
    EXPECT_EQ(result, "beforeafter");
    // Nor do backgrounds load when the page is laid out and drawn.
    const std::string backgrounds = "<html><body background=\"" + fifo.string() + "\"><table background=\"/dev/zero\" "
                                    "style=\"background-image: url(" + fifo.string() + ")\"><tr><td background=\"" + fifo.string() +
                                    "\">cell</td></tr></table><p style=\"background-image: url(/dev/zero)\">text</p></body></html>";
    EXPECT_TRUE(testing::finishesWithin(std::chrono::seconds(10), [&] {
        PdfLayoutWriter::write(*HtmlReader::read(backgrounds), dir / "backgrounds.pdf");
    }));
    EXPECT_NE(testing::pdfText(dir / "backgrounds.pdf").value_or("cell text").find("cell"), std::string::npos);
}

}  // namespace
}  // namespace kolvex

namespace kolvex {
namespace {

std::string repeat(std::string_view piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(HtmlReader, MeasuresNestingOfElementsThatNeedEndTags) {
    const struct {
        std::string html;
        size_t depth;
    } cases[] = {
        {"<p>a<p>b<p>c", 0},
        {"<div><div></div><div><b>x</b></div></div>", 3},
        {"<ul><li>a<li>b</ul><br><img src=x><hr/>", 1},
        {"<div title=\"<div><div>\"><!-- <div><div> --></div>", 1},
        {"<script>if (a < b) { '<div><div>' }</script><div>", 1},
        {"<span/><span/><span>", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(HtmlReader::nestingDepth(c.html, 100), c.depth) << c.html;
}

TEST(HtmlReader, RefusesDeepOrHugePagesQuickly) {
    const std::string deep[] = {repeat("<b>", 100000) + "x", repeat("<div>", 100000), repeat("<table><tr><td>", 20000)};
    for (const std::string& html : deep) {
        EXPECT_TRUE(testing::finishesWithin(std::chrono::seconds(5), [&] { EXPECT_THROW(HtmlReader::read(html), DocumentFormatError); }));
    }
    EXPECT_THROW(HtmlReader::read(std::string(HtmlReader::kMaxBytes + 1, ' ')), DocumentFormatError);
    // Many siblings, and paragraphs that the next one closes, are fine.
    EXPECT_TRUE(testing::finishesWithin(std::chrono::seconds(10), [&] {
        EXPECT_EQ(HtmlReader::read(repeat("<p>x", 20000))->blockCount(), 20000);
    }));
}

}  // namespace
}  // namespace kolvex
