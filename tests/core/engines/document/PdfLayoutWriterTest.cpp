// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <vector>

#include <QGlyphRun>
#include <QImage>
#include <QRawFont>
#include <QTextBlock>
#include <QTextLayout>
#include <QTextCursor>
#include <QTextImageFormat>

#include "DocumentTestSupport.h"
#include "core/engines/document/HtmlReader.h"
#include "core/engines/document/PdfLayoutWriter.h"
#include "core/engines/document/RichDocument.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using testing::plainAttributes;

TEST(PdfLayoutWriter, LaysOutLetterPagesFromWorkerThreads) {
    testing::TempDir dir;
    std::string lines;
    for (int i = 0; i < 120; ++i) lines += "Line " + std::to_string(i) + " of the text, long enough to matter.\n";
    const StyledText texts[] = {StyledText(), StyledText("Hello \xE6\x97\xA5\xE6\x9C\xAC", plainAttributes()), StyledText(lines, plainAttributes())};
    // Several documents at once, none on the GUI thread.
    std::vector<std::future<void>> jobs;
    for (size_t i = 0; i < std::size(texts); ++i)
        jobs.push_back(std::async(std::launch::async, [&, i] { PdfLayoutWriter::write(*richDocument(texts[i]), dir / ("out" + std::to_string(i) + ".pdf")); }));
    for (auto& job : jobs) job.get();

    const auto pages = testing::pdfPageCount(dir / "out0.pdf");
    if (!pages) GTEST_SKIP() << "qpdf is not installed";
    EXPECT_EQ(*pages, 1);  // an empty text still makes one blank page
    EXPECT_EQ(testing::pdfPageCount(dir / "out1.pdf"), 1);
    EXPECT_GE(*testing::pdfPageCount(dir / "out2.pdf"), 2);
    if (const auto text = testing::pdfText(dir / "out2.pdf")) {
        EXPECT_NE(text->find("Line 0 of the text"), std::string::npos);
        EXPECT_NE(text->find("Line 119 of the text"), std::string::npos);
    }
    if (const auto text = testing::pdfText(dir / "out1.pdf")) {
        EXPECT_NE(text->find("Hello"), std::string::npos);
    }
}

// Paragraphs alone are drawn line by line: underline, colour and pictures show as they do when Qt
// draws the page itself.
TEST(PdfLayoutWriter, DrawsPicturesAndDecorationsInPlainParagraphs) {
    testing::TempDir dir;
    auto document = richDocument(StyledText("before ", plainAttributes()));
    QImage image(20, 10, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QTextImageFormat picture;
    picture.setName(document->addImage(image));
    picture.setWidth(20);
    picture.setHeight(10);
    QTextCursor cursor(document.get());
    cursor.movePosition(QTextCursor::End);
    cursor.insertImage(picture);
    TextAttributes underlined = plainAttributes();
    underlined.underline = true;
    underlined.colour = 0xFF0000;
    cursor.insertText(" after", charFormatOf(underlined));
    const auto pdf = dir / "picture.pdf";
    PdfLayoutWriter::write(*document, pdf);
    const auto images = testing::pdfImageCount(pdf);
    if (!images) GTEST_SKIP() << "poppler-utils are not installed";
    EXPECT_EQ(*images, 1);
    EXPECT_NE(testing::pdfText(pdf)->find("before"), std::string::npos);
    EXPECT_NE(testing::pdfText(pdf)->find("after"), std::string::npos);
}

// A colour emoji shows whole and in colour, in a paragraph, a list item and a table cell alike,
// however many documents with emoji were written on the same thread before.
TEST(PdfLayoutWriter, DrawsColourEmojiWholeInEveryDocument) {
    if (!std::filesystem::exists("/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf")) GTEST_SKIP() << "the colour emoji font is not installed";
    testing::TempDir dir;
    const std::string rocket = "<span style=\"font-size:48pt\">\xF0\x9F\x9A\x80</span>";  // 🚀, in no outline font here
    const std::pair<const char*, std::string> pages[] = {
        {"paragraph", "<p>" + rocket + "</p>"},
        {"list", "<ul><li>" + rocket + "</li></ul>"},
        {"table", "<table><tr><td>" + rocket + "</td></tr></table>"},
        {"again", "<p>" + rocket + "</p>"},
    };
    for (const auto& [name, html] : pages) {
        SCOPED_TRACE(name);
        const auto pdf = dir / (std::string(name) + ".pdf");
        PdfLayoutWriter::write(*HtmlReader::read("<html><body>" + html + "</body></html>"), pdf);
        if (!testing::programOutput("/usr/bin/pdftoppm", {"-r", "72", "-png", "-singlefile", pdf.string(), (dir / name).string()}))
            GTEST_SKIP() << "poppler-utils are not installed";
        const QImage page(QString::fromStdString((dir / (std::string(name) + ".png")).string()));
        ASSERT_FALSE(page.isNull());
        QRect coloured;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x) {
                const QColor c = page.pixelColor(x, y);
                if (std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 60) coloured |= QRect(x, y, 1, 1);
            }
        // The rocket fills most of its 48-point square; a squeezed one shows a sliver of it.
        EXPECT_GE(coloured.width(), 30) << coloured.x() << "," << coloured.y() << " " << coloured.width() << "x" << coloured.height();
        EXPECT_GE(coloured.height(), 30) << coloured.x() << "," << coloured.y() << " " << coloured.width() << "x" << coloured.height();
    }
}

// An emoji sequence is one glyph of the colour font: a thumb with its skin tone, a family joined
// by zero-width joiners, a flag, a keycap — not a thumb and a brown square, or four people in a
// row (the emoji presentation selector, which the colour font does not map, must not part them).
TEST(PdfLayoutWriter, DrawsEmojiSequencesAsOneGlyph) {
    if (!std::filesystem::exists("/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf")) GTEST_SKIP() << "the colour emoji font is not installed";
    testing::TempDir dir;
    const struct {
        const char* name;
        const char* text;
    } sequences[] = {
        {"skin tone", "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"},                                                       // 👍🏽
        {"profession", "\xF0\x9F\xA7\x91\xF0\x9F\x8F\xBB\xE2\x80\x8D\xF0\x9F\x92\xBB"},                     // 🧑🏻‍💻
        {"family", "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"},           // 👨‍👩‍👧
        {"flag", "\xF0\x9F\x87\xAF\xF0\x9F\x87\xB5"},                                                            // 🇯🇵
        {"keycap", "1\xEF\xB8\x8F\xE2\x83\xA3"},                                                                    // 1️⃣
        {"rainbow flag", "\xF0\x9F\x8F\xB3\xEF\xB8\x8F\xE2\x80\x8D\xF0\x9F\x8C\x88"},                          // 🏳️‍🌈
    };
    for (const auto& sequence : sequences) {
        SCOPED_TRACE(sequence.name);
        const auto document = richDocument(StyledText(std::string("a ") + sequence.text + " b", plainAttributes()));
        PdfLayoutWriter::write(*document, dir / "emoji.pdf");
        // One glyph of the colour font, and not that of the sequence's first character alone.
        std::vector<quint32> colourGlyphs;
        const QString first = QString::fromUcs4(&QString::fromUtf8(sequence.text).toStdU32String()[0], 1);
        quint32 firstAlone = 0;
        const QTextLayout* layout = document->begin().layout();
        for (int i = 0; i < layout->lineCount(); ++i) {
            for (const QGlyphRun& run : layout->lineAt(i).glyphRuns()) {
                if (run.rawFont().fontTable("CBDT").isEmpty()) continue;
                for (const quint32 glyph : run.glyphIndexes()) colourGlyphs.push_back(glyph);
                firstAlone = run.rawFont().glyphIndexesForString(first).value(0);
            }
        }
        ASSERT_EQ(colourGlyphs.size(), 1u);
        EXPECT_NE(colourGlyphs[0], firstAlone);
    }
}

// A document past the page cap is refused whole, never cut; nothing is written.
TEST(PdfLayoutWriter, RefusesPastTheCapAndStopsOnCancel) {
    testing::TempDir dir;
    // Two lines a page at this size.
    std::string lines;
    for (int i = 0; i < 2 * PdfLayoutWriter::kMaxPages + 2; ++i) lines += "x\n";
    const auto capped = dir / "capped.pdf";
    try {
        PdfLayoutWriter::write(*richDocument(StyledText(lines, plainAttributes(300))), capped);
        FAIL() << "expected a refusal";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error, ConversionError::unsupportedCombination("a document longer than 20000 pages", "PDF"));
        EXPECT_EQ(error.shortDescription(), "Can't convert a document longer than 20000 pages to PDF");
    }
    EXPECT_FALSE(std::filesystem::exists(capped));

    std::stop_source stop;
    stop.request_stop();
    const auto cancelled = dir / "cancelled.pdf";
    EXPECT_THROW(PdfLayoutWriter::write(*richDocument(StyledText("x", plainAttributes())), cancelled, stop.get_token()), OperationCancelled);
    EXPECT_FALSE(std::filesystem::exists(cancelled));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);  // no partial file of either

    try {
        PdfLayoutWriter::write(*richDocument(StyledText("x", plainAttributes())), "/proc/kolvex-no-such/out.pdf");
        FAIL() << "expected a failure";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::insufficientPermissions);
        EXPECT_EQ(error.url(), "/proc/kolvex-no-such/out.pdf");
    }
}

}  // namespace
}  // namespace kolvex
