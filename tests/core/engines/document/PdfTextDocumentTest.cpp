// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "core/engines/document/DocxReader.h"
#include "core/engines/document/OOXMLWriter.h"
#include "core/engines/document/PdfTextDocument.h"
#include "core/format/ConversionError.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

// Printed lines of 70 to 80 characters.
const std::string kLong1 = "The quick brown fox jumps over the lazy dog while the farmer looks on in";
const std::string kLong2 = "silence and wonders whether the dog will ever wake up from its long nap";
const std::string kLong3 = "before the sun goes down behind the hills at the far end of the valley.";

TEST(PdfTextDocument, StartsBlocksAtBulletsAndShortMarkers) {
    const struct {
        const char* line;
        bool starts;
    } cases[] = {
        {"", true},          {"   ", true},         {"\xE2\x80\xA2 item", true}, {"- item", true},
        {"\xE2\x80\x94 dash", true}, {"* star", true}, {"1. first", true},    {"2) second", true},
        {"IV. fourth", true}, {". dot", true},       {"C. Smith", true},      {"  12. indented", true},
        {"2023 was", false},  {"A. Smith", false},   {"ii. item", false},     {"word. next", false},
        {"Hello there", false}, {"\xD9\xA3. Arabic-Indic three", true}, {"1.5 million", false},
    };
    for (const auto& c : cases) EXPECT_EQ(PdfTextDocument::startsNewBlock(c.line), c.starts) << c.line;
}

TEST(PdfTextDocument, RebuildsParagraphsFromPrintedLines) {
    const struct {
        std::string text;
        std::string reflowed;
    } cases[] = {
        // Long lines join until a sentence ends.
        {kLong1 + "\n" + kLong2 + "\n" + kLong3 + "\n" + kLong1 + "\n" + kLong2,
         kLong1 + " " + kLong2 + " " + kLong3 + "\n\n" + kLong1 + " " + kLong2},
        // A short last line without punctuation is joined to the next line.
        {kLong1 + "\nshort end\n" + kLong2, kLong1 + " short end " + kLong2},
        // ... unless the next line starts a block.
        {kLong1 + "\nshort end\n1. item", kLong1 + " short end\n\n1. item"},
        // A heading stays a paragraph of its own, and the body after it starts a new one.
        {"Introduction\n" + kLong1 + "\n" + kLong2, "Introduction\n\n" + kLong1 + " " + kLong2},
        {kLong3 + "\nIntroduction\n" + kLong1, kLong3 + "\n\nIntroduction\n\n" + kLong1},
        {kLong1 + "\nC. Smith wrote", kLong1 + "\n\nC. Smith wrote"},
        {kLong1 + "\nA. Smith wrote", kLong1 + " A. Smith wrote"},
        {kLong1 + "\n2023 was a year", kLong1 + " 2023 was a year"},
        {kLong1 + "\nii. item", kLong1 + " ii. item"},
        // Hyphenation.
        {kLong1 + " exam-\nple of text", kLong1 + " example of text"},
        {kLong1 + " Jean-\nPaul said", kLong1 + " Jean- Paul said"},
        // Two spaces in a row, in the line or in the paragraph.
        {kLong1 + "\n  indented line", kLong1 + "\n\nindented line"},
        {kLong1 + "\ncol a  col b", kLong1 + "\n\ncol a  col b"},
        {"cells  apart " + kLong1 + "\nnext", "cells  apart " + kLong1 + "\n\nnext"},
        // Pages are joined by an empty line, which always separates.
        {kLong1 + "\n\n" + kLong2, kLong1 + "\n\n" + kLong2},
        // Windows line ends; a lone carriage return stays in its line.
        {kLong1 + "\r\n" + kLong2, kLong1 + " " + kLong2},
        {kLong1 + "\rx\n" + kLong2, kLong1 + "\rx " + kLong2},
        // No line with a character: unchanged; lines of white space only: no paragraph.
        {"\n\n\n", "\n\n\n"},
        {"\n \n\t\n", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(PdfTextDocument::reflow(c.text), c.reflowed) << c.text;
}

TEST(PdfTextDocument, ShortLinesUseTheMinimumThreshold) {
    // Every line is 20 characters: the threshold is 24, so a line joins only a paragraph of 24 or more.
    const std::string a = "abcdefghij klmnopqrs";
    ASSERT_EQ(a.size(), 20u);
    EXPECT_EQ(PdfTextDocument::reflow(a + "\n" + a + "\n" + a), a + "\n\n" + a + "\n\n" + a);
    // A first line of 26 characters lets the next one join.
    const std::string longer = "abcdefghij klmnopqrs tuvwx";
    EXPECT_EQ(PdfTextDocument::reflow(longer + "\n" + a + "\n" + a + "\n" + a + "\n" + a + "\n" + a + "\n" + a + "\n" + a + "\n" + a),
              longer + " " + a + " " + a + " " + a + " " + a + " " + a + " " + a + " " + a + " " + a);
}

TEST(PdfTextDocument, WritesTheFiveTextTargets) {
    testing::TempDir dir;
    const std::string pages = kLong1 + "\n" + kLong2 + "\n\n" + "Second page & <more>\n";
    const std::string reflowed = kLong1 + " " + kLong2 + "\n\nSecond page & <more>";
    auto job = [&](const std::string& target) {
        ConversionJob j = testing::documentJob(dir / "in.pdf", dir / ("Out File." + target), "txt", target);
        j.from = testing::documentFormat("pdf");
        return j;
    };
    EXPECT_EQ(PdfTextDocument::write(job("txt"), pages, {}, {}), dir / "Out File.txt");
    EXPECT_EQ(testing::readFile(dir / "Out File.txt"), reflowed);
    PdfTextDocument::write(job("md"), pages, {}, {});
    EXPECT_EQ(testing::readFile(dir / "Out File.md"), reflowed);
    PdfTextDocument::write(job("html"), pages, {}, {});
    const std::string html = testing::readFile(dir / "Out File.html");
    EXPECT_NE(html.find("<head>\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"), std::string::npos);
    EXPECT_NE(html.find("<title>Out File</title>"), std::string::npos);
    EXPECT_NE(html.find("font-size:11pt"), std::string::npos);
    PdfTextDocument::write(job("rtf"), pages, {}, {});
    EXPECT_NE(testing::readFile(dir / "Out File.rtf").find("\\fs22 "), std::string::npos);
    if (std::filesystem::exists(OOXMLWriter::tarPath())) {
        PdfTextDocument::write(job("docx"), pages, {}, {});
        EXPECT_EQ(DocxReader::read(dir / "Out File.docx")->toPlainText().toStdString(), kLong1 + " " + kLong2 + "\n\nSecond page & <more>");
    }
    try {
        PdfTextDocument::write(job("png"), pages, {}, {});
        FAIL();
    } catch (const ConversionError& error) {
        EXPECT_EQ(error, ConversionError::unsupportedCombination("PDF", "PNG"));
    }
}

}  // namespace
}  // namespace kolvex
