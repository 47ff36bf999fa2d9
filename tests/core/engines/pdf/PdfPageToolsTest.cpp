// SPDX-License-Identifier: GPL-3.0-or-later
#include <stop_token>

#include <gtest/gtest.h>

#include "PdfFixtures.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/engines/pdf/PdfPageToolEngine.h"
#include "core/engines/pdf/PdfPageTools.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

std::vector<std::string> numbered(std::initializer_list<int> pages) {
    std::vector<std::string> texts;
    for (int page : pages) texts.push_back("Page " + std::to_string(page));
    return texts;
}

TEST(PdfRotate, TurnsByRoundedQuarterTurns) {
    const std::vector<std::pair<double, int>> cases{{0, 0},    {44, 0},    {45, 90},  {90, 90},   {135, 180},
                                                    {300, 270}, {314, 270}, {315, 0},  {360, 0},   {10, 0},
                                                    {-90, 270}, {450, 90},  {-45, 0},  {719, 0}};
    for (const auto& [rotation, step] : cases) EXPECT_EQ(PdfPageTools::rotationStep(rotation), step) << rotation;
}

TEST(PdfRotate, AddsTheTurnToEachPagesOwnRotation) {
    TempDir dir;
    auto pages = numberedPages(3);
    pages[1].rotate = 90;
    pages[2].rotate = 270;
    writeTestPdf(dir / "in.pdf", pages);
    const PDFEngine engine;
    ConversionOptions options = ConversionOptions::defaults();
    options.rotation = 90;
    std::vector<double> reported;
    auto outputs = engine.convert(toolJob("rotate", dir / "in.pdf", dir / "out.pdf", options),
                                  [&](double f) { reported.push_back(f); }, {});
    ASSERT_EQ(outputs, std::vector<std::filesystem::path>{dir / "out.pdf"});
    EXPECT_EQ(readPdf(dir / "out.pdf").rotations, (std::vector<int>{90, 180, 0}));
    EXPECT_EQ(reported.front(), 0.15);
    EXPECT_EQ(reported.back(), 1.0);

    // No turn still writes the document.
    options.rotation = 10;
    engine.convert(toolJob("rotate", dir / "in.pdf", dir / "same.pdf", options), {}, {});
    EXPECT_EQ(readPdf(dir / "same.pdf").rotations, (std::vector<int>{0, 90, 270}));
}

TEST(PdfRotate, TurnsPagesThatInheritTheirRotation) {
    TempDir dir;
    writeTestPdf(dir / "in.pdf", numberedPages(2), {.inheritMediaBox = true});
    const PDFEngine engine;
    ConversionOptions options = ConversionOptions::defaults();
    options.rotation = 180;
    engine.convert(toolJob("rotate", dir / "in.pdf", dir / "out.pdf", options), {}, {});
    PdfFacts facts = readPdf(dir / "out.pdf");
    EXPECT_EQ(facts.rotations, (std::vector<int>{180, 180}));
    EXPECT_EQ(facts.mediaBoxes[1], (std::array<double, 4>{0, 0, 200, 100}));
}

TEST(PdfExtractPages, KeepsTheSelectionInPageOrder) {
    TempDir dir;
    writeTestPdf(dir / "five.pdf", numberedPages(5));
    const PDFEngine engine;
    struct Case {
        std::optional<std::vector<int64_t>> range;
        bool invert;
        std::vector<std::string> texts;
    };
    const std::vector<Case> cases{
        {std::vector<int64_t>{4, 0, 0, 99}, false, numbered({1, 5})},
        {std::vector<int64_t>{4, 0, 0, 99}, true, numbered({2, 3, 4})},
        {std::nullopt, false, numbered({1, 2, 3, 4, 5})},
        {std::vector<int64_t>{2, -1}, false, numbered({3})},
    };
    int n = 0;
    for (const Case& c : cases) {
        ConversionOptions options = ConversionOptions::defaults();
        options.pageRange = c.range;
        options.invertPageSelection = c.invert;
        const auto out = dir / ("out" + std::to_string(n++) + ".pdf");
        engine.convert(toolJob("extract-pages", dir / "five.pdf", out, options), {}, {});
        EXPECT_EQ(pageTexts(out), c.texts);
    }
}

TEST(PdfExtractPages, RefusesSelectionsWithoutPages) {
    TempDir dir;
    writeTestPdf(dir / "five.pdf", numberedPages(5));
    const PDFEngine engine;
    struct Case {
        std::vector<int64_t> range;
        bool invert;
        const char* from;
    };
    const std::vector<Case> cases{{{}, false, "page selection"},
                                  {{5, 99, -1}, false, "page selection"},
                                  {{0, 1, 2, 3, 4}, true, "deleting every page"}};
    for (const Case& c : cases) {
        ConversionOptions options = ConversionOptions::defaults();
        options.pageRange = c.range;
        options.invertPageSelection = c.invert;
        ConversionError error = conversionErrorOf(
            [&] { engine.convert(toolJob("extract-pages", dir / "five.pdf", dir / "out.pdf", options), {}, {}); });
        EXPECT_EQ(error.kind(), ConversionError::Kind::unsupportedCombination);
        EXPECT_EQ(error.from(), c.from);
        EXPECT_EQ(error.to(), "a document with pages");
        EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf"));
    }
}

TEST(PdfSplit, WritesOneDocumentPerPage) {
    TempDir dir;
    writeTestPdf(dir / "report.pdf", numberedPages(12), {.version = "1.7"});
    dir.write("report-07.pdf", "mine");
    const PDFEngine engine;
    auto outputs = engine.convert(toolJob("split", dir / "report.pdf", dir / "report split.pdf"), {}, {});
    ASSERT_EQ(outputs.size(), 12u);
    EXPECT_EQ(outputs[0], dir / "report split-01.pdf");
    EXPECT_EQ(outputs[11], dir / "report split-12.pdf");
    for (int i = 0; i < 12; ++i) EXPECT_EQ(pageTexts(outputs[static_cast<size_t>(i)]), numbered({i + 1}));
    EXPECT_EQ(pdfInfoField(outputs[0], "PDF version"), "1.7") << "a page declares the version of its document";

    auto again = engine.convert(toolJob("split", dir / "report.pdf", dir / "report.pdf"), {}, {});
    EXPECT_EQ(again[6], dir / "report-07 2.pdf");
    EXPECT_EQ(readFile(dir / "report-07.pdf"), "mine");
}

TEST(PdfSplit, RefusesOnePageAndCleansUpWhenCancelled) {
    TempDir dir;
    writeTestPdf(dir / "one.pdf", numberedPages(1));
    const PDFEngine engine;
    ConversionError error =
        conversionErrorOf([&] { engine.convert(toolJob("split", dir / "one.pdf", dir / "one.pdf"), {}, {}); });
    EXPECT_EQ(error.kind(), ConversionError::Kind::unsupportedCombination);
    EXPECT_EQ(error.from(), "a one-page PDF");

    writeTestPdf(dir / "ten.pdf", numberedPages(10));
    std::stop_source stop;
    int calls = 0;
    error = conversionErrorOf([&] {
        engine.convert(toolJob("split", dir / "ten.pdf", dir / "ten.pdf"),
                       [&](double) {
                           if (++calls == 4) stop.request_stop();  // 0.15, then three pages
                       },
                       stop.get_token());
    });
    EXPECT_EQ(error.kind(), ConversionError::Kind::cancelled);
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"one.pdf", "ten.pdf"}));
}

TEST(PdfSplit, AFailurePartWayRemovesTheFilesAlreadyWritten) {
    TempDir dir;
    writeTestPdf(dir / "four.pdf", numberedPages(4));
    // Page 3's every name is taken: the split fails there and takes back pages 1 and 2.
    dir.write("four-3.pdf", "");
    for (int k = 2; k <= 999; ++k) dir.write("four-3 " + std::to_string(k) + ".pdf", "");
    const PDFEngine engine;
    ConversionError error =
        conversionErrorOf([&] { engine.convert(toolJob("split", dir / "four.pdf", dir / "four.pdf"), {}, {}); });
    EXPECT_EQ(error.kind(), ConversionError::Kind::outputNameUnavailable);
    EXPECT_FALSE(std::filesystem::exists(dir / "four-1.pdf"));
    EXPECT_FALSE(std::filesystem::exists(dir / "four-2.pdf"));
}

TEST(PdfMerge, JoinsSourcesInTheOrderSupplied) {
    TempDir dir;
    writeTestPdf(dir / "a.pdf", {TestPage{.text = "A1"}, TestPage{.text = "A2"}});
    writeTestPdf(dir / "b.pdf", {TestPage{.text = "B1"}}, {.version = "1.6"});
    writeTestPdf(dir / "c.pdf", {TestPage{.text = "C1"}, TestPage{.text = "C2"}});
    const PDFEngine engine;
    std::vector<double> reported;
    auto outputs = engine.convert(toolJob("merge", dir / "c.pdf", dir / "merged.pdf", ConversionOptions::defaults(),
                                          {dir / "a.pdf", dir / "b.pdf", dir / "c.pdf"}),
                                  [&](double f) { reported.push_back(f); }, {});
    ASSERT_EQ(outputs, std::vector<std::filesystem::path>{dir / "merged.pdf"});
    EXPECT_EQ(pageTexts(dir / "merged.pdf"), (std::vector<std::string>{"C1", "C2", "A1", "A2", "B1", "C1", "C2"}));
    EXPECT_EQ(pdfInfoField(dir / "merged.pdf", "PDF version"), "1.6") << "the highest of its sources";
    // Merge reports its own fractions after the tool's opening 0.15.
    EXPECT_EQ(reported, (std::vector<double>{0.15, 0.25, 0.5, 0.75, 1.0}));
}

TEST(PdfMerge, NamesTheInputThatCannotBeRead) {
    TempDir dir;
    writeTestPdf(dir / "a.pdf", numberedPages(1));
    writeTestPdf(dir / "locked.pdf", numberedPages(1), {.userPassword = "pw", .ownerPassword = "owner"});
    dir.write("broken.pdf", "%PDF-1.4 nothing else");
    writeTestPdf(dir / "empty.pdf", {});
    const PDFEngine engine;
    struct Case {
        const char* file;
        ConversionError::Kind kind;
    };
    for (const Case& c : std::vector<Case>{{"locked.pdf", ConversionError::Kind::corruptedInput},
                                           {"broken.pdf", ConversionError::Kind::corruptedInput},
                                           {"empty.pdf", ConversionError::Kind::corruptedInput}}) {
        ConversionError error = conversionErrorOf([&] {
            engine.convert(toolJob("merge", dir / "a.pdf", dir / "m.pdf", ConversionOptions::defaults(), {dir / c.file}),
                           {}, {});
        });
        EXPECT_EQ(error.kind(), c.kind) << c.file;
        EXPECT_EQ(error.url(), dir / c.file) << c.file;
        EXPECT_FALSE(std::filesystem::exists(dir / "m.pdf"));
    }
    ConversionError one = conversionErrorOf([&] { engine.convert(toolJob("merge", dir / "a.pdf", dir / "m.pdf"), {}, {}); });
    EXPECT_EQ(one.kind(), ConversionError::Kind::unsupportedCombination);
    EXPECT_EQ(one.from(), "one file");
    EXPECT_EQ(one.to(), "a merged PDF");
}

TEST(PdfStripMetadata, RemovesTheInfoDictionaryAndXmp) {
    TempDir dir;
    writeTestPdf(dir / "in.pdf", numberedPages(2), {.withMetadata = true});
    ASSERT_TRUE(readPdf(dir / "in.pdf").hasInfo);
    ASSERT_TRUE(readPdf(dir / "in.pdf").hasXmp);
    const PDFEngine engine;
    engine.convert(toolJob("strip-metadata", dir / "in.pdf", dir / "out.pdf"), {}, {});
    PdfFacts facts = readPdf(dir / "out.pdf");
    EXPECT_FALSE(facts.hasInfo);
    EXPECT_FALSE(facts.hasXmp);
    EXPECT_EQ(facts.pages, 2);
    EXPECT_EQ(readFile(dir / "out.pdf").find("Secret plans"), std::string::npos);
}

TEST(PdfTools, KeepARestrictedSourcesEncryptionAndRefuseOneThatNeedsAPassword) {
    TempDir dir;
    // Opens without a password; copying text and changing it need the owner's.
    std::vector<TestPage> pages = numberedPages(3, 612, 792);
    pages[0].photoWidth = 1200;
    pages[0].photoHeight = 900;
    pages[0].photoBox = {50, 400, 250, 550};
    writeTestPdf(dir / "restricted.pdf", pages, {.ownerPassword = "owner"});
    writeTestPdf(dir / "plain.pdf", numberedPages(1));
    writeTestPdf(dir / "locked.pdf", numberedPages(2), {.userPassword = "pw", .ownerPassword = "owner"});
    const std::string restriction = pdfInfoField(dir / "restricted.pdf", "Encrypted");
    ASSERT_TRUE(restriction.starts_with("yes")) << restriction;
    ASSERT_NE(restriction.find("copy:no"), std::string::npos) << restriction;

    const PDFEngine engine;
    for (const char* tool : {"rotate", "extract-pages", "split", "strip-metadata", "compress", "merge"}) {
        SCOPED_TRACE(tool);
        TempDir out;
        const std::vector<std::filesystem::path> more =
            std::string(tool) == "merge" ? std::vector<std::filesystem::path>{dir / "plain.pdf"}
                                         : std::vector<std::filesystem::path>{};
        ConversionOptions options = ConversionOptions::defaults();
        options.rotation = 90;
        auto outputs = engine.convert(toolJob(tool, dir / "restricted.pdf", out / "out.pdf", options, more), {}, {});
        ASSERT_FALSE(outputs.empty());
        for (const auto& output : outputs) {
            // Still opens without a password, with the same restrictions.
            EXPECT_EQ(pdfInfoField(output, "Encrypted"), restriction) << output;
            EXPECT_FALSE(popplerWords(output).empty()) << output;
        }
        if (std::string(tool) == "compress") {
            EXPECT_LT(std::filesystem::file_size(outputs[0]), std::filesystem::file_size(dir / "restricted.pdf"));
        }

        ConversionError error = conversionErrorOf(
            [&] { engine.convert(toolJob(tool, dir / "locked.pdf", out / "x.pdf", options, more), {}, {}); });
        EXPECT_EQ(error, ConversionError::passwordProtected(dir / "locked.pdf"));
        EXPECT_EQ(error.shortDescription(), "locked.pdf is password-protected");
        EXPECT_FALSE(std::filesystem::exists(out / "x.pdf"));
    }

    // Merging a restricted document into a plain one does not lift the restriction either.
    engine.convert(toolJob("merge", dir / "plain.pdf", dir / "merged.pdf", ConversionOptions::defaults(),
                           {dir / "restricted.pdf"}),
                   {}, {});
    EXPECT_EQ(pdfInfoField(dir / "merged.pdf", "Encrypted"), restriction);
    engine.convert(toolJob("rotate", dir / "plain.pdf", dir / "plain-turned.pdf"), {}, {});
    EXPECT_EQ(pdfInfoField(dir / "plain-turned.pdf", "Encrypted"), "no");

    ConversionError unknown =
        conversionErrorOf([&] { engine.convert(toolJob("crop", dir / "restricted.pdf", dir / "c.pdf"), {}, {}); });
    EXPECT_EQ(unknown.kind(), ConversionError::Kind::unsupportedCombination);
    EXPECT_EQ(unknown.to(), "crop");
}

TEST(PdfPageToolEngine, CarriesOutEveryToolButCompressAsThePdfEngineDoes) {
    TempDir dir;
    auto pages = numberedPages(3);
    pages[1].rotate = 90;
    writeTestPdf(dir / "in.pdf", pages, {.withMetadata = true});
    writeTestPdf(dir / "more.pdf", numberedPages(1));
    const PDFEngine full;
    const PdfPageToolEngine pageTools;
    ConversionOptions options = ConversionOptions::defaults();
    options.rotation = 90;
    options.pageRange = std::vector<int64_t>{0, 2};
    for (const std::string& tool : PDFEngine::supportedTools()) {
        SCOPED_TRACE(tool);
        TempDir a;
        TempDir b;
        const std::vector<std::filesystem::path> more{dir / "more.pdf"};
        EXPECT_EQ(pageTools.canHandle(toolJob(tool, dir / "in.pdf", a / "out.pdf", options, more)), tool != "compress");
        if (tool == "compress") continue;
        const auto expected = full.convert(toolJob(tool, dir / "in.pdf", a / "out.pdf", options, more), {}, {});
        const auto outputs = pageTools.convert(toolJob(tool, dir / "in.pdf", b / "out.pdf", options, more), {}, {});
        ASSERT_EQ(outputs.size(), expected.size());
        for (size_t i = 0; i < outputs.size(); ++i) {
            EXPECT_EQ(outputs[i].filename(), expected[i].filename());
            EXPECT_EQ(pageTexts(outputs[i]), pageTexts(expected[i]));
            const PdfFacts made = readPdf(outputs[i]);
            const PdfFacts reference = readPdf(expected[i]);
            EXPECT_EQ(made.rotations, reference.rotations);
            EXPECT_EQ(made.hasInfo, reference.hasInfo);
        }
    }
    // Nothing but the tools: pages to pictures and images to PDFs need poppler and libvips.
    const Format png = imageFormat("png", "image/png", "png");
    EXPECT_FALSE(pageTools.canHandle(makeJob(dir / "in.pdf", dir / "p.png", pdfFormat(), png)));
    EXPECT_FALSE(pageTools.canHandle(makeJob(dir / "in.png", dir / "p.pdf", png, pdfFormat())));
}

TEST(PdfTools, NeverWriteOverAFileThatAppearedAtTheDestination) {
    TempDir dir;
    writeTestPdf(dir / "in.pdf", numberedPages(2));
    dir.write("out.pdf", "someone else's");
    const PDFEngine engine;
    // The work is kept under the next free name.
    const auto outputs = engine.convert(toolJob("rotate", dir / "in.pdf", dir / "out.pdf"), {}, {});
    EXPECT_EQ(outputs, std::vector<std::filesystem::path>{dir / "out 2.pdf"});
    EXPECT_EQ(readFile(dir / "out.pdf"), "someone else's");
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"in.pdf", "out 2.pdf", "out.pdf"}));
    EXPECT_EQ(readPdf(dir / "out 2.pdf").pages, 2);
}

}  // namespace
}  // namespace kolvex::testing
