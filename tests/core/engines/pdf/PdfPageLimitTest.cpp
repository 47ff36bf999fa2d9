// SPDX-License-Identifier: GPL-3.0-or-later
// A page larger than a page bitmap may be, or than the image format holds, is drawn at the
// largest resolution that fits, with a note naming the page and the limit; the document's other
// pages keep the resolution asked for.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "PdfFixtures.h"
#include "core/engines/image/ImageFormatTable.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/engines/pdf/PopplerDocument.h"
#include "core/format/ConversionError.h"
#include "core/format/FormatRegistry.h"
#include "support/ExternalTool.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kVipsheader = "/usr/bin/vipsheader";

// The size of an image file as vipsheader reads it: a reader that is not the engine's.
std::pair<int64_t, int64_t> headerSize(const fs::path& file) {
    const auto width = programOutput(kVipsheader, {"-f", "width", file.string()});
    const auto height = programOutput(kVipsheader, {"-f", "height", file.string()});
    if (!width || !height) return {0, 0};
    return {std::atoll(width->c_str()), std::atoll(height->c_str())};
}

struct Shape {
    const char* name;
    double width;  // points
    double height;
    int dpi;
    bool everyFormat;  // else JPEG only: a page of 150 million pixels costs seconds to encode
};

// Every image format the manifest renders PDF pages to, with its limit from the tables the
// engine draws and saves with.
TEST(PdfPageLimits, APageLargerThanCanBeDrawnOrHeldIsFittedAndTheOtherPagesKeepTheirs) {
    if (!fs::exists(kVipsheader)) GTEST_SKIP() << "vipsheader is not installed";
    const FormatRegistry registry = FormatRegistry::loadBundled();
    std::vector<Format> targets;
    for (const auto& capability : registry.manifest().conversions) {
        const auto to = registry.format(capability.to);
        if (capability.engine == engine_ids::pdf && capability.from == FormatID("pdf") && to &&
            to->category == FormatCategory::image)
            targets.push_back(*to);
    }
    ASSERT_FALSE(targets.empty());

    const std::vector<Shape> shapes{
        {"long", 14400, 100, 300, true},     // 60000 × 417 px
        {"square", 5000, 5000, 300, false},  // 20833 × 20833 px
        {"letter", 612, 792, 3000, false},   // 25500 × 33000 px
    };
    const PDFEngine engine;
    int checked = 0;
    for (const Shape& shape : shapes) {
        for (const Format& target : targets) {
            SCOPED_TRACE(std::string(shape.name) + " to " + target.id.rawValue);
            const image::ImageCodec* codec = image::ImageFormatTable::writable(target);
            if (!codec) {
                GTEST_LOG_(INFO) << "no saver here for " << target.id << "; skipped";
                continue;
            }
            if (!shape.everyFormat && codec->saver != "jpegsave") continue;
            TempDir dir;
            // Two small pages round the large one.
            writeTestPdf(dir / "long.pdf", {TestPage{.width = 200, .height = 100},
                                            TestPage{.width = shape.width, .height = shape.height},
                                            TestPage{.width = 200, .height = 100}});
            ConversionOptions options = ConversionOptions::defaults();
            options.dpi = shape.dpi;
            const auto job = makeJob(dir / "long.pdf", dir / ("long." + target.canonicalExtension()), pdfFormat(), target,
                                     options);
            const ConversionOutcome outcome = engine.convertReporting(job, {}, {});
            ASSERT_EQ(outcome.outputs.size(), 3u);

            const double scale = shape.dpi / 72.0;
            const std::pair<int64_t, int64_t> small{std::llround(200 * scale), std::llround(100 * scale)};
            EXPECT_EQ(headerSize(outcome.outputs[0]), small);
            EXPECT_EQ(headerSize(outcome.outputs[2]), small);

            int64_t side = PopplerDocument::kMaxPageSide;
            if (codec->largestSide > 0) side = std::min<int64_t>(side, codec->largestSide);
            const auto [width, height] = headerSize(outcome.outputs[1]);
            ASSERT_GT(width, 0) << "page 2 does not read back";
            EXPECT_LE(std::max(width, height), side);
            EXPECT_LE(width * height, PopplerDocument::kMaxPagePixels);
            // The largest that fits: against the side, or against the area.
            const bool bySide = std::max(width, height) >= side - 2;
            const bool byArea = width * height > PopplerDocument::kMaxPagePixels * 0.995;
            EXPECT_TRUE(bySide || byArea) << width << " × " << height;
            EXPECT_NEAR(static_cast<double>(width) / height, shape.width / shape.height, 0.01 * shape.width / shape.height + 0.01);

            ASSERT_TRUE(outcome.note.has_value());
            const std::string& note = *outcome.note;
            EXPECT_NE(note.find(fmt::format("Page 2 of long.pdf would be {} × {} px at {} dpi", std::llround(shape.width * scale),
                                            std::llround(shape.height * scale), shape.dpi)),
                      std::string::npos)
                << note;
            EXPECT_NE(note.find(fmt::format("({} × {} px)", width, height)), std::string::npos) << note;
            const std::string limit = bySide ? fmt::format("at most {} px a side", side)
                                             : fmt::format("at most {} million pixels", PopplerDocument::kMaxPagePixels / 1'000'000);
            EXPECT_NE(note.find(limit), std::string::npos) << note;
            if (bySide && codec->largestSide > 0 && codec->largestSide < PopplerDocument::kMaxPageSide) {
                EXPECT_NE(note.find(target.label), std::string::npos) << note;
            }
            ++checked;
        }
    }
    EXPECT_GE(checked, static_cast<int>(targets.size()));
}

// A page that could only fit at less than a pixel across is refused, naming the page and the
// limit, and nothing is left behind.
TEST(PdfPageLimits, APageTooThinToFitAnywhereIsRefusedNamingThePageAndTheLimit) {
    TempDir dir;
    writeTestPdf(dir / "thread.pdf", {TestPage{.width = 200, .height = 100}, TestPage{.width = 14400, .height = 0.2}});
    const Format png = imageFormat("png", "image/png", "png");
    const ConversionError error =
        conversionErrorOf([&] { PDFEngine().convert(makeJob(dir / "thread.pdf", dir / "thread.png", pdfFormat(), png), {}, {}); });
    EXPECT_EQ(error.kind(), ConversionError::Kind::unsupportedCombination);
    EXPECT_NE(error.shortDescription().find("thread.pdf page 2 (60000 × 1 px)"), std::string::npos) << error.shortDescription();
    EXPECT_NE(error.shortDescription().find(fmt::format("at most {} px a side", PopplerDocument::kMaxPageSide)), std::string::npos)
        << error.shortDescription();
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"thread.pdf"});
}

}  // namespace
}  // namespace kolvex::testing
