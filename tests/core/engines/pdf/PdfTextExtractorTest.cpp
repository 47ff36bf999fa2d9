// SPDX-License-Identifier: GPL-3.0-or-later
#include <stop_token>

#include <gtest/gtest.h>

#include "PdfFixtures.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/engines/pdf/PdfTextExtractor.h"
#include "core/services/Cancellation.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

ConversionJob textJob(const std::filesystem::path& source, const std::filesystem::path& destination) {
    return makeJob(source, destination, pdfFormat(), textFormat("txt"));
}

TEST(PdfTextExtractor, JoinsPagesWithAnEmptyLine) {
    TempDir dir;
    auto pages = numberedPages(3);
    pages[1].text.clear();  // a page without text adds nothing, not even the separator
    writeTestPdf(dir / "in.pdf", pages);
    EXPECT_EQ(PdfTextExtractor::extractTextContent(textJob(dir / "in.pdf", dir / "out.txt"), {}), "Page 1\n\nPage 3");
}

TEST(PdfTextExtractor, RefusesScansLockedAndBrokenDocuments) {
    TempDir dir;
    TestPage blank;
    writeTestPdf(dir / "scan.pdf", {blank, blank});
    writeTestPdf(dir / "locked.pdf", numberedPages(1), {.userPassword = "pw", .ownerPassword = "owner"});
    dir.write("text.pdf", "plain text\n");

    ConversionError scan =
        conversionErrorOf([&] { PdfTextExtractor::extractTextContent(textJob(dir / "scan.pdf", dir / "o.txt"), {}); });
    EXPECT_EQ(scan.kind(), ConversionError::Kind::unsupportedCombination);
    EXPECT_EQ(scan.from(), "PDF with no text layer");
    EXPECT_EQ(scan.to(), "txt");

    ConversionError locked = conversionErrorOf(
        [&] { PdfTextExtractor::extractTextContent(textJob(dir / "locked.pdf", dir / "o.txt"), {}); });
    EXPECT_EQ(locked, ConversionError::passwordProtected(dir / "locked.pdf"));

    ConversionError broken =
        conversionErrorOf([&] { PdfTextExtractor::extractTextContent(textJob(dir / "text.pdf", dir / "o.txt"), {}); });
    EXPECT_EQ(broken.kind(), ConversionError::Kind::corruptedInput);

    std::stop_source stop;
    stop.request_stop();
    writeTestPdf(dir / "two.pdf", numberedPages(2));
    EXPECT_THROW(PdfTextExtractor::extractTextContent(textJob(dir / "two.pdf", dir / "o.txt"), stop.get_token()),
                 OperationCancelled);
}

TEST(PdfTextExtractor, TextTargetsGoToTheDocumentWriter) {
    TempDir dir;
    writeTestPdf(dir / "in.pdf", numberedPages(2));
    std::string handed;
    const PDFEngine engine(FileManagerService::shared(),
                           [&](const ConversionJob& job, const std::string& text, const ProgressCallback&,
                               std::stop_token) {
                               handed = text;
                               return job.destination;
                           });
    std::vector<double> reported;
    for (const char* target : {"txt", "md", "docx", "html", "rtf"}) {
        ConversionJob job = makeJob(dir / "in.pdf", dir / (std::string("out.") + target), pdfFormat(), textFormat(target));
        ASSERT_TRUE(engine.canHandle(job)) << target;
        reported.clear();
        auto outputs = engine.convert(job, [&](double f) { reported.push_back(f); }, {});
        EXPECT_EQ(outputs, std::vector<std::filesystem::path>{job.destination});
        EXPECT_EQ(handed, "Page 1\n\nPage 2");
        EXPECT_EQ(reported, (std::vector<double>{0.7, 1.0}));
    }
}

}  // namespace
}  // namespace kolvex::testing
