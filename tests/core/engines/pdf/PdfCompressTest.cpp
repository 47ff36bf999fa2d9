// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "PdfFixtures.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/services/Cancellation.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

ConversionJob compressJob(const std::filesystem::path& source, const std::filesystem::path& destination,
                          std::optional<double> quality = std::nullopt, std::optional<int64_t> dpi = std::nullopt) {
    ConversionOptions options = ConversionOptions::defaults();
    options.quality = quality;
    options.dpi = dpi;
    return toolJob("compress", source, destination, options);
}

// A text page with a photo drawn small (1600 × 1200 pixels over 200 × 150 points: 576 ppi), a
// text page turned to landscape, and a scanned-style page: one picture over the whole page.
std::vector<TestPage> mixedDocument() {
    TestPage article;
    article.width = 612;
    article.height = 792;
    article.text = "Quarterly figures with a photograph";
    article.photoWidth = 1600;
    article.photoHeight = 1200;
    article.photoBox = {50, 500, 250, 650};
    TestPage landscape = article;
    landscape.text = "Appendix turned sideways";
    landscape.rotate = 90;
    landscape.photoWidth = 0;
    TestPage scan;
    scan.width = 612;
    scan.height = 792;
    scan.photoWidth = 850;
    scan.photoHeight = 1100;
    scan.photoBox = {0, 0, 612, 792};
    return {article, landscape, scan};
}

TEST(PdfCompress, ShrinksPhotosAndKeepsTextFontsAndPages) {
    TempDir dir;
    writeTestPdf(dir / "in.pdf", mixedDocument());
    const PDFEngine engine;
    std::vector<double> reported;
    auto outputs = engine.convert(compressJob(dir / "in.pdf", dir / "out.pdf", 0.5),
                                  [&](double f) { reported.push_back(f); }, {});
    ASSERT_EQ(outputs, std::vector<std::filesystem::path>{dir / "out.pdf"});
    EXPECT_LT(std::filesystem::file_size(dir / "out.pdf"), std::filesystem::file_size(dir / "in.pdf") / 3);
    EXPECT_EQ(reported.back(), 1.0);

    // Read back by poppler's tools: the same words, the fonts, the pages and their turn.
    ASSERT_FALSE(popplerWords(dir / "in.pdf").empty());
    EXPECT_EQ(popplerWords(dir / "out.pdf"), popplerWords(dir / "in.pdf"));
    EXPECT_EQ(pdfFontNames(dir / "out.pdf"), std::vector<std::string>{"Helvetica"});
    EXPECT_EQ(pdfInfoField(dir / "out.pdf", "Pages"), "3");
    EXPECT_EQ(pdfInfoField(dir / "out.pdf", "Page    2 rot", true), "90");

    // The photo is brought down to about 144 ppi; the scan (already below) is only re-encoded.
    const auto images = pdfImages(dir / "out.pdf");
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].page, 1);
    EXPECT_EQ(images[0].encoding, "jpeg");
    EXPECT_NEAR(images[0].ppi, 144, 3);
    EXPECT_EQ(images[1].page, 3);
    EXPECT_EQ(images[1].encoding, "jpeg");
    EXPECT_EQ(images[1].width, 850);
}

TEST(PdfCompress, FollowsTheChosenResolutionAndQuality) {
    TempDir dir;
    writeTestPdf(dir / "in.pdf", mixedDocument());
    const PDFEngine engine;
    engine.convert(compressJob(dir / "in.pdf", dir / "72.pdf", 0.5, 72), {}, {});
    EXPECT_NEAR(pdfImages(dir / "72.pdf")[0].ppi, 72, 2);
    EXPECT_LT(pdfImages(dir / "72.pdf")[1].width, 850) << "a scan above the chosen resolution is downsampled too";

    engine.convert(compressJob(dir / "in.pdf", dir / "low.pdf", 0.2), {}, {});
    engine.convert(compressJob(dir / "in.pdf", dir / "high.pdf", 0.9), {}, {});
    EXPECT_LT(std::filesystem::file_size(dir / "low.pdf"), std::filesystem::file_size(dir / "high.pdf"));
}

TEST(PdfCompress, KeepsTheOriginalWhenNothingIsGained) {
    TempDir dir;
    writeTestPdf(dir / "tiny.pdf", numberedPages(2));
    const PDFEngine engine;
    // Once compressed, a text document has nothing more to give.
    engine.convert(compressJob(dir / "tiny.pdf", dir / "tiny 2.pdf"), {}, {});
    auto outputs = engine.convert(compressJob(dir / "tiny 2.pdf", dir / "tiny 3.pdf"), {}, {});
    ASSERT_EQ(outputs, std::vector<std::filesystem::path>{dir / "tiny 3.pdf"});
    EXPECT_EQ(readFile(dir / "tiny 3.pdf"), readFile(dir / "tiny 2.pdf"));
}

TEST(PdfCompress, LeavesADamagedImageAsItIsAndShrinksTheRest) {
    TempDir dir;
    auto pages = mixedDocument();
    pages[2].damagedPhoto = true;
    writeTestPdf(dir / "in.pdf", pages);
    const PDFEngine engine;
    engine.convert(compressJob(dir / "in.pdf", dir / "out.pdf"), {}, {});
    EXPECT_EQ(readPdf(dir / "out.pdf").imageFilters, (std::vector<std::string>{"/DCTDecode", "", "/FlateDecode"}));
    EXPECT_EQ(popplerWords(dir / "out.pdf"), popplerWords(dir / "in.pdf"));
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"in.pdf", "out.pdf"}));
}

TEST(PdfCompress, CancellingLeavesNothingBehind) {
    TempDir dir;
    writeTestPdf(dir / "in.pdf", mixedDocument());
    const PDFEngine engine;
    std::stop_source stop;
    EXPECT_THROW(engine.convert(compressJob(dir / "in.pdf", dir / "out.pdf"),
                                [&](double f) {
                                    if (f > 0.15) stop.request_stop();
                                },
                                stop.get_token()),
                 OperationCancelled);
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"in.pdf"});
}

}  // namespace
}  // namespace kolvex::testing
