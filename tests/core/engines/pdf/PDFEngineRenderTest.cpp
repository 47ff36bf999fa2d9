// SPDX-License-Identifier: GPL-3.0-or-later
#include <stop_token>

#include <gtest/gtest.h>

#include "PdfFixtures.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/engines/pdf/PopplerDocument.h"
#include "core/engines/pdf/PageFileNaming.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

Format png() { return imageFormat("png", "image/png", "png"); }
Format jpeg() { return imageFormat("jpg", "image/jpeg", "jpg"); }

ConversionOptions withDpi(int64_t dpi) {
    ConversionOptions options = ConversionOptions::defaults();
    options.dpi = dpi;
    return options;
}

PdfTextDocumentWriter fakeTextWriter() {
    return [](const ConversionJob& job, const std::string&, const ProgressCallback&, std::stop_token) {
        return job.destination;
    };
}

TEST(PDFEngineAccepts, JobsByToolSourceAndTarget) {
    const PDFEngine withText(FileManagerService::shared(), fakeTextWriter());
    const PDFEngine withoutText;
    Format heic = imageFormat("unknown", "image/x-unknown", "unk");
    Format noType = imageFormat("png", "", "png");
    Format docx = textFormat("docx");
    Format csv = textFormat("csv");
    ConversionOptions rotate = ConversionOptions::defaults();
    rotate.tool = "rotate";
    ConversionOptions crop = ConversionOptions::defaults();
    crop.tool = "crop";

    struct Case {
        const char* name;
        Format from;
        Format to;
        ConversionOptions options;
        bool withWriter;
        bool withoutWriter;
    };
    const std::vector<Case> cases{
        {"pdf to png", pdfFormat(), png(), ConversionOptions::defaults(), true, true},
        {"pdf to jpeg", pdfFormat(), jpeg(), ConversionOptions::defaults(), true, true},
        {"pdf to an image format with no saver", pdfFormat(), heic, ConversionOptions::defaults(), false, false},
        {"pdf to an image format with no content type", pdfFormat(), noType, ConversionOptions::defaults(), false, false},
        {"pdf to docx", pdfFormat(), docx, ConversionOptions::defaults(), true, false},
        {"pdf to csv", pdfFormat(), csv, ConversionOptions::defaults(), false, false},
        {"png to pdf, readability untested", png(), pdfFormat(), ConversionOptions::defaults(), true, true},
        {"png to jpeg", png(), jpeg(), ConversionOptions::defaults(), false, false},
        {"docx to pdf", docx, pdfFormat(), ConversionOptions::defaults(), false, false},
        {"rotate a pdf", pdfFormat(), pdfFormat(), rotate, true, true},
        {"crop a pdf", pdfFormat(), pdfFormat(), crop, false, false},
        {"rotate a png", png(), png(), rotate, false, false},
    };
    for (const Case& c : cases) {
        ConversionJob job = makeJob("/in/a", "/out/b", c.from, c.to, c.options);
        EXPECT_EQ(withText.canHandle(job), c.withWriter) << c.name;
        EXPECT_EQ(withoutText.canHandle(job), c.withoutWriter) << c.name;
    }
    EXPECT_EQ(withText.id(), EngineID("pdf"));
    EXPECT_EQ(PDFEngine::supportedTools().size(), 6u);
}

TEST(PageFileNaming, PadsPageNumbersAndSkipsTakenNames) {
    TempDir dir;
    ConversionJob job = makeJob(dir / "report.pdf", dir / "report.png", pdfFormat(), png());
    EXPECT_EQ(PageFileNaming::pageURL(job, 1, 1, {}), dir / "report.png");
    EXPECT_EQ(PageFileNaming::pageURL(job, 7, 120, {}), dir / "report-007.png");
    EXPECT_EQ(PageFileNaming::pageURL(job, 3, 9, {}), dir / "report-3.png");
    EXPECT_EQ(PageFileNaming::pageURL(job, 12, 12, {}), dir / "report-12.png");

    dir.write("report-03.png", "taken");
    EXPECT_EQ(PageFileNaming::pageURL(job, 3, 12, {}), dir / "report-03 2.png");
    EXPECT_EQ(PageFileNaming::pageURL(job, 4, 12, {dir / "report-04.png"}), dir / "report-04 2.png");
    EXPECT_EQ(PageFileNaming::splitURL(dir / "report.pdf", 7, 120), dir / "report-007.pdf");

    for (int k = 2; k <= 999; ++k) dir.write("report-03 " + std::to_string(k) + ".png", "");
    ConversionError error = conversionErrorOf([&] { PageFileNaming::pageURL(job, 3, 12, {}); });
    EXPECT_EQ(error.kind(), ConversionError::Kind::outputNameUnavailable);
    EXPECT_EQ(error.url(), dir / "report-03 999.png");
}

TEST(PageFileNaming, LongNamesStayWithinTheFileNameLimit) {
    TempDir dir;
    const std::string longStem(300, 'a');
    ConversionJob job = makeJob(dir / "x.pdf", dir / (longStem.substr(0, 250) + ".png"), pdfFormat(), png());
    const std::string name = PageFileNaming::pageURL(job, 7, 120, {}).filename().string();
    EXPECT_LE(name.size(), 255u);
    EXPECT_TRUE(name.ends_with("-007.png")) << name;
}

TEST(PDFEngineRenderPages, WritesOneFilePerPageNamedByPage) {
    TempDir dir;
    writeTestPdf(dir / "report.pdf", numberedPages(12));
    const PDFEngine engine;
    std::vector<double> reported;
    auto outputs = engine.convert(makeJob(dir / "report.pdf", dir / "report.png", pdfFormat(), png(), withDpi(36)),
                                  [&](double f) { reported.push_back(f); }, {});
    ASSERT_EQ(outputs.size(), 12u);
    EXPECT_EQ(outputs.front(), dir / "report-01.png");
    EXPECT_EQ(outputs.back(), dir / "report-12.png");
    EXPECT_EQ(imageSize(outputs.front()), std::make_pair(100, 50));
    EXPECT_DOUBLE_EQ(reported.back(), 1.0);

    TempDir single;
    writeTestPdf(single / "one.pdf", numberedPages(1));
    outputs = engine.convert(makeJob(single / "one.pdf", single / "one.png", pdfFormat(), png(), withDpi(72)), {}, {});
    EXPECT_EQ(outputs, std::vector<std::filesystem::path>{single / "one.png"});
}

TEST(PDFEngineRenderPages, KeepsNamesThatAreAlreadyTaken) {
    TempDir dir;
    writeTestPdf(dir / "report.pdf", numberedPages(3));
    dir.write("report-2.png", "mine");
    const PDFEngine engine;
    auto outputs =
        engine.convert(makeJob(dir / "report.pdf", dir / "report.png", pdfFormat(), png(), withDpi(18)), {}, {});
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_EQ(outputs[1], dir / "report-2 2.png");
    EXPECT_EQ(readFile(dir / "report-2.png"), "mine");
}

TEST(PDFEngineRenderPages, SizesPagesByTheirMediaBoxAndResolution) {
    TempDir dir;
    TestPage letter;
    letter.width = 612;
    letter.height = 792;
    writeTestPdf(dir / "letter.pdf", {letter});
    const PDFEngine engine;
    auto at150 = engine.convert(makeJob(dir / "letter.pdf", dir / "a.jpg", pdfFormat(), jpeg(), withDpi(150)), {}, {});
    EXPECT_EQ(imageSize(at150.front()), std::make_pair(1275, 1650));
    auto atDefault = engine.convert(makeJob(dir / "letter.pdf", dir / "b.jpg", pdfFormat(), jpeg()), {}, {});
    EXPECT_EQ(imageSize(atDefault.front()), std::make_pair(2550, 3300));
}

// "red", "white" or "" (an antialiased edge or anything else).
std::string colourName(const std::vector<double>& pixel) {
    if (pixel.size() < 3) return "";
    if (pixel[0] > 230 && pixel[1] < 25 && pixel[2] < 25) return "red";
    if (pixel[0] > 230 && pixel[1] > 230 && pixel[2] > 230) return "white";
    return "";
}

TEST(PDFEngineRenderPages, DrawPagesAsViewersShowThem) {
    // A 200 × 100 point page with a red 40-point square in its media box's bottom-left corner.
    struct Case {
        const char* name;
        TestPage page;
        bool inherit;
        std::pair<int, int> size;            // at 72 dpi
        std::optional<std::pair<int, int>> red;  // a pixel that must be red
    };
    auto page = [](int rotate, std::optional<std::array<double, 4>> crop = std::nullopt, double width = 200) {
        TestPage p;
        p.width = width;
        p.rotate = rotate;
        p.cropBox = crop;
        return p;
    };
    TestPage offset;
    offset.originX = 100;
    offset.originY = -50;
    const std::array<double, 4> crop{20, 10, 120, 90};
    const std::vector<Case> cases{
        {"plain", page(0), false, {200, 100}, std::pair{5, 95}},
        {"odd width", page(0, std::nullopt, 201), false, {201, 100}, std::pair{5, 95}},
        {"turned a quarter: landscape becomes portrait, the corner goes top-left", page(90), false, {100, 200},
         std::pair{5, 5}},
        {"upside down", page(180), false, {200, 100}, std::pair{195, 5}},
        {"turned three quarters", page(270), false, {100, 200}, std::pair{95, 195}},
        {"cropped to the crop box", page(0, crop), false, {100, 80}, std::pair{5, 75}},
        {"cropped and turned", page(90, crop), false, {80, 100}, std::pair{5, 5}},
        {"media box away from the origin", offset, false, {200, 100}, std::pair{5, 95}},
        {"inherited media box", page(0), true, {200, 100}, std::pair{5, 95}},
    };
    const PDFEngine engine;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeTestPdf(dir / "in.pdf", {c.page}, {.inheritMediaBox = c.inherit});
        auto outputs = engine.convert(makeJob(dir / "in.pdf", dir / "out.png", pdfFormat(), png(), withDpi(72)), {}, {});
        ASSERT_EQ(outputs.size(), 1u);
        EXPECT_EQ(imageSize(outputs[0]), c.size);
        if (c.red) {
            EXPECT_EQ(colourName(pixelAt(outputs[0], c.red->first, c.red->second)), "red");
        }

        // Poppler's own pdftoppm, as a viewer shows the page: the same size, the same picture.
        const auto reference = popplerRender(dir / "in.pdf", 72, dir.path());
        ASSERT_TRUE(std::filesystem::exists(reference)) << "pdftoppm failed";
        ASSERT_EQ(imageSize(reference), c.size);
        for (int y = 2; y < c.size.second; y += 7) {
            for (int x = 2; x < c.size.first; x += 7) {
                const std::string expected = colourName(pixelAt(reference, x, y));
                if (!expected.empty()) {
                    ASSERT_EQ(colourName(pixelAt(outputs[0], x, y)), expected) << x << "," << y;
                }
            }
        }
    }
}

TEST(PDFEngineRenderPages, WritesCompressedTiffAndWebpPages) {
    TempDir dir;
    writeTestPdf(dir / "letter.pdf", numberedPages(3, 612, 792));
    const PDFEngine engine;
    const int64_t raw = 1275 * 1650 * 3;  // one page at 150 dpi, uncompressed
    for (const auto& [id, type] : {std::pair{"tiff", "image/tiff"}, std::pair{"webp", "image/webp"}}) {
        SCOPED_TRACE(id);
        auto pages = engine.convert(
            makeJob(dir / "letter.pdf", dir / (std::string("page.") + id), pdfFormat(), imageFormat(id, type, id),
                    withDpi(150)),
            {}, {});
        ASSERT_EQ(pages.size(), 3u);
        for (const auto& page : pages) {
            EXPECT_EQ(imageSize(page), std::make_pair(1275, 1650));
            EXPECT_LT(static_cast<int64_t>(std::filesystem::file_size(page)), raw / 20) << page;
        }
    }
}

TEST(PDFEngineRenderPages, RefusesBadDocumentsWithTheRightError) {
    TempDir dir;
    writeTestPdf(dir / "good.pdf", numberedPages(3));
    const std::string good = readFile(dir / "good.pdf");
    dir.write("truncated.pdf", good.substr(0, good.size() / 3));
    dir.write("text.pdf", "just some text, not a PDF\n");
    dir.write("empty.pdf", "");
    writeTestPdf(dir / "zero.pdf", {});
    TestPdfOptions userLocked;
    userLocked.userPassword = "open sesame";
    userLocked.ownerPassword = "owner";
    writeTestPdf(dir / "locked.pdf", numberedPages(2), userLocked);

    struct Case {
        const char* file;
        ConversionError::Kind kind;
    };
    const std::vector<Case> cases{{"truncated.pdf", ConversionError::Kind::corruptedInput},
                                  {"text.pdf", ConversionError::Kind::corruptedInput},
                                  {"empty.pdf", ConversionError::Kind::corruptedInput},
                                  {"zero.pdf", ConversionError::Kind::corruptedInput},
                                  {"locked.pdf", ConversionError::Kind::corruptedInput},
                                  {"missing.pdf", ConversionError::Kind::corruptedInput}};
    const PDFEngine engine;
    for (const Case& c : cases) {
        TempDir out;
        ConversionError error = conversionErrorOf([&] {
            engine.convert(makeJob(dir / c.file, out / "page.png", pdfFormat(), png(), withDpi(36)), {}, {});
        });
        EXPECT_EQ(error.kind(), c.kind) << c.file;
        EXPECT_EQ(error.url(), dir / c.file) << c.file;
        EXPECT_EQ(error.circumstance() == ConversionError::Circumstance::passwordProtected,
                  std::string(c.file) == "locked.pdf")
            << c.file;
        EXPECT_TRUE(filesIn(out.path()).empty()) << c.file;
    }
}

TEST(PDFEngineRenderPages, OpensDocumentsThatOnlyRestrictEditing) {
    TempDir dir;
    TestPdfOptions ownerOnly;
    ownerOnly.ownerPassword = "owner";
    writeTestPdf(dir / "restricted.pdf", numberedPages(2), ownerOnly);
    const PDFEngine engine;
    auto outputs =
        engine.convert(makeJob(dir / "restricted.pdf", dir / "r.png", pdfFormat(), png(), withDpi(36)), {}, {});
    EXPECT_EQ(outputs.size(), 2u);
}

// A poster larger than a page bitmap may be is drawn at the largest size within the cap, and
// the note says so.
TEST(PDFEngineRenderPages, DrawsAPageAboveTheBitmapCapWithinIt) {
    TempDir dir;
    TestPage poster;  // 200 × 200 inches
    poster.width = 14400;
    poster.height = 14400;
    writeTestPdf(dir / "poster.pdf", {poster});
    const PDFEngine engine;
    const ConversionOutcome outcome =
        engine.convertReporting(makeJob(dir / "poster.pdf", dir / "poster.png", pdfFormat(), png()), {}, {});
    ASSERT_EQ(outcome.outputs, std::vector<std::filesystem::path>{dir / "poster.png"});
    const auto [width, height] = imageSize(dir / "poster.png");
    EXPECT_EQ(width, height);
    EXPECT_LE(int64_t{width} * height, PopplerDocument::kMaxPagePixels);
    EXPECT_GT(int64_t{width} * height, PopplerDocument::kMaxPagePixels * 0.995);
    ASSERT_TRUE(outcome.note);
    EXPECT_NE(outcome.note->find("Page 1 of poster.pdf would be 60000 × 60000 px at 300 dpi"), std::string::npos)
        << *outcome.note;
    // The red square in the bottom-left corner is where it belongs at the scale drawn.
    EXPECT_EQ(pixelAt(dir / "poster.png", 5, height - 5), (std::vector<double>{255, 0, 0}));
}

TEST(PDFEngineRenderPages, AFailurePartWayRemovesThePagesAlreadyWritten) {
    TempDir dir;
    auto pages = numberedPages(6);
    // Less than a pixel across at 100 dpi: nothing to draw.
    pages[4].width = 0.2;
    pages[4].height = 0.2;
    writeTestPdf(dir / "mixed.pdf", pages);
    const PDFEngine engine;
    ConversionError error = conversionErrorOf(
        [&] { engine.convert(makeJob(dir / "mixed.pdf", dir / "mixed.png", pdfFormat(), png(), withDpi(100)), {}, {}); });
    EXPECT_EQ(error.kind(), ConversionError::Kind::corruptedInput);
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"mixed.pdf"});
}

TEST(PDFEngineRenderPages, CancellingRemovesThePagesAlreadyWritten) {
    TempDir dir;
    writeTestPdf(dir / "ten.pdf", numberedPages(10));
    const PDFEngine engine;
    std::stop_source stop;
    int pagesDone = 0;
    ConversionError error = conversionErrorOf([&] {
        engine.convert(makeJob(dir / "ten.pdf", dir / "ten.png", pdfFormat(), png(), withDpi(36)),
                       [&](double) {
                           if (++pagesDone == 3) stop.request_stop();
                       },
                       stop.get_token());
    });
    EXPECT_EQ(error.kind(), ConversionError::Kind::cancelled);
    EXPECT_EQ(pagesDone, 3);
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"ten.pdf"});
}

TEST(PDFEngineRenderPages, RendersAThousandPagesOneAtATime) {
    TempDir dir;
    writeTestPdf(dir / "long.pdf", numberedPages(1000, 72, 72));
    const PDFEngine engine;
    auto outputs = engine.convert(makeJob(dir / "long.pdf", dir / "long.png", pdfFormat(), png(), withDpi(8)), {}, {});
    ASSERT_EQ(outputs.size(), 1000u);
    EXPECT_EQ(outputs[6].filename(), "long-0007.png");
    EXPECT_EQ(imageSize(outputs[999]), std::make_pair(8, 8));
}

}  // namespace
}  // namespace kolvex::testing
