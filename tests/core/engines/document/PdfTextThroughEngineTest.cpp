// SPDX-License-Identifier: GPL-3.0-or-later
// The PDF engine's text targets, end to end: PDFs made with our own page layout, read back
// through poppler by the PDF engine, reflowed and written by this library.
#include <gtest/gtest.h>

#include <QPainter>
#include <QPdfWriter>

#include "DocumentTestSupport.h"
#include "core/engines/document/DocxReader.h"
#include "core/engines/document/OOXMLWriter.h"
#include "core/engines/document/PdfLayoutWriter.h"
#include "core/engines/document/RichDocument.h"
#include "core/engines/document/PdfTextDocument.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/format/ConversionError.h"
#include "core/services/FileManagerService.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

ConversionJob pdfJob(const std::filesystem::path& source, const std::filesystem::path& destination, const std::string& to) {
    ConversionJob job = testing::documentJob(source, destination, "txt", to);
    job.from = testing::documentFormat("pdf");
    job.capability.from = job.from.id;
    job.capability.engine = engine_ids::pdf;
    return job;
}

TEST(PdfTextThroughEngine, WritesEveryTextTargetFromAPdf) {
    testing::TempDir dir;
    // Short lines that read as one paragraph once reflowed, then a bullet list.
    std::string body;
    for (int i = 0; i < 6; ++i) body += "This sentence number " + std::to_string(i) + " runs on\nacross the printed lines of the page and ";
    body += "ends here.\n\n\xE2\x80\xA2 first point\n\xE2\x80\xA2 second point";
    const auto source = dir / "report.pdf";
    PdfLayoutWriter::write(*richDocument(StyledText(body, testing::plainAttributes())), source);

    const PDFEngine engine(FileManagerService::shared(), &PdfTextDocument::write);
    for (const std::string target : {"txt", "md", "html", "rtf", "docx"}) {
        if (target == "docx" && !std::filesystem::exists(OOXMLWriter::tarPath())) continue;
        SCOPED_TRACE(target);
        const auto destination = dir / ("report." + target);
        const ConversionJob job = pdfJob(source, destination, target);
        ASSERT_TRUE(engine.canHandle(job));
        std::vector<double> progress;
        EXPECT_EQ(engine.convert(job, [&](double f) { progress.push_back(f); }, {}), std::vector<std::filesystem::path>{destination});
        EXPECT_EQ(progress.back(), 1.0);
        const std::string text = target == "docx" ? DocxReader::read(destination)->toPlainText().toStdString() : testing::readFile(destination);
        EXPECT_NE(text.find("number 1 runs on across the printed lines"), std::string::npos) << text;
        EXPECT_NE(text.find("first point"), std::string::npos);
    }
    const std::string txt = testing::readFile(dir / "report.txt");
    EXPECT_NE(txt.find("ends here.\n\n\xE2\x80\xA2 first point\n\n\xE2\x80\xA2 second point"), std::string::npos) << txt;
}

// A hyphen at a line end is the reflow's to judge: a word broken across lines is mended, a
// hyphenated name ("Jean-" over "Paul") keeps its hyphen. pdftotext, like poppler's
// reading-order text, drops the hyphen in both, so the PDF's own lines are checked with -raw.
TEST(PdfTextThroughEngine, KeepsRealHyphensAtLineEnds) {
    testing::TempDir dir;
    const std::string printed =
        "The committee met early on a grey morning, and the chair was Jean-\n"
        "Paul said the figures for the whole year were a rather fair exam-\n"
        "ple of what careful work could do, and the others all agreed at once.\n";
    const auto source = dir / "minutes.pdf";
    PdfLayoutWriter::write(*richDocument(StyledText(printed, testing::plainAttributes())), source);
    const std::optional<std::string> raw = testing::programOutput("/usr/bin/pdftotext", {"-raw", "-enc", "UTF-8", source.string(), "-"});
    if (!raw) GTEST_SKIP() << "poppler-utils are not installed";
    ASSERT_NE(raw->find("was Jean-\nPaul said"), std::string::npos) << *raw;

    const PDFEngine engine(FileManagerService::shared(), &PdfTextDocument::write);
    engine.convert(pdfJob(source, dir / "minutes.txt", "txt"), {}, {});
    EXPECT_EQ(testing::readFile(dir / "minutes.txt"),
              "The committee met early on a grey morning, and the chair was Jean- Paul said the figures for the whole year "
              "were a rather fair example of what careful work could do, and the others all agreed at once.");
}

TEST(PdfTextThroughEngine, RefusesAPageWithoutText) {
    testing::TempDir dir;
    const auto scan = dir / "scan.pdf";
    {
        QPdfWriter writer(QString::fromStdString(scan.string()));
        QPainter painter(&writer);
        painter.fillRect(QRectF(100, 100, 2000, 2000), Qt::darkGray);
    }
    const PDFEngine engine(FileManagerService::shared(), &PdfTextDocument::write);
    try {
        engine.convert(pdfJob(scan, dir / "scan.txt", "txt"), {}, {});
        FAIL() << "a page without text converted";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error, ConversionError::unsupportedCombination("PDF with no text layer", "Plain Text"));
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "scan.txt"));
}

}  // namespace
}  // namespace kolvex
