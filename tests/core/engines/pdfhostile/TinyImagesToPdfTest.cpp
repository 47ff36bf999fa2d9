// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <vips/vips8>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <fstream>
#include <memory>

#include <poppler-document.h>
#include <poppler-page.h>

#include "ChildCase.h"
#include "PdfFixtures.h"
#include "core/engines/image/VipsRuntime.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/format/ConversionError.h"
#include "core/format/FormatRegistry.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

using vips::VImage;

// A picture of `width` × `height` with some detail, in colour or grey, saved in `from` with the
// saver libvips has for it (ImageMagick's for the types only it writes).
bool makePicture(const Format& from, int width, int height, bool grey, const std::filesystem::path& file) {
    image::ensureVipsStarted();
    const int bands = grey ? 1 : 3;
    VImage picture = (VImage::xyz(width, height)[0] * 37 + VImage::xyz(width, height)[1] * 91) % 256;
    if (!grey) picture = picture.bandjoin({picture * 0.5, 255 - picture});
    picture = picture.cast(VIPS_FORMAT_UCHAR).copy(VImage::option()->set(
        "interpretation", bands == 1 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB));
    try {
        if (from.id == FormatID("ico") || from.id == FormatID("bmp")) {
            picture.magicksave(file.c_str(), VImage::option()->set("format", from.id == FormatID("ico") ? "ICO" : "BMP"));
        } else {
            picture.write_to_file(file.c_str());
        }
    } catch (const vips::VError&) {
        vips_error_clear();
        return false;
    }
    return true;
}

// What poppler, a reader that is not ours, makes of a PDF written by a case: "" when it reads
// one page of `width` × `height` points, else what it found.
std::string readBack(const std::filesystem::path& pdf, double width, double height) {
    std::unique_ptr<poppler::document> document(poppler::document::load_from_file(pdf.string()));
    if (!document) return "poppler cannot open it";
    if (document->pages() != 1) return std::to_string(document->pages()) + " pages";
    std::unique_ptr<poppler::page> page(document->create_page(0));
    const poppler::rectf box = page ? page->page_rect(poppler::media_box) : poppler::rectf();
    if (std::abs(box.width() - width) > 0.01 || std::abs(box.height() - height) > 0.01)
        return "a page of " + std::to_string(box.width()) + " x " + std::to_string(box.height()) + " points";
    return "";
}

// Every image format the manifest turns into a PDF, at every size from 1 × 1 to 16 × 16 px, in
// colour and in grey. Each column of sizes (one format, one colour, one width, every height)
// runs in a child process of its own, which reports each case as it goes: the child ends
// normally, every picture became a one-page PDF of its size (0.24 points a pixel) that poppler
// reads, and nothing but that PDF is left beside it or in the temporary folder. A picture the
// format's saver cannot make at a size is no case.
TEST(TinyImagesToPdf, EverySizeFromOneToSixteenPixelsBecomesAPage) {
    const FormatRegistry registry = FormatRegistry::loadBundled();
    std::vector<Format> sources;
    for (const auto& capability : registry.manifest().conversions) {
        if (capability.engine != EngineID("pdf") || capability.to != FormatID("pdf")) continue;
        const Format from = *registry.format(capability.from);
        if (from.category == FormatCategory::image) sources.push_back(from);
    }
    ASSERT_GE(sources.size(), 6u) << "the manifest turns fewer image formats into PDFs than it did";
    const Format pdf = *registry.format(FormatID("pdf"));

    for (const Format& from : sources) {
        int made = 0;
        for (const bool grey : {false, true}) {
            for (int width = 1; width <= 16; ++width) {
                const std::string column = from.id.rawValue + " " + std::to_string(width) + "x1…16" + (grey ? " grey" : "");
                TempDir dir;
                TempDir tmp;
                TempDir report;
                const ChildEnd end = runInChild([&] {
                    ::setenv("TMPDIR", tmp.path().c_str(), 1);
                    std::ofstream out(report / "cases");
                    int failed = 0;
                    for (int height = 1; height <= 16; ++height) {
                        const std::string name = from.id.rawValue + " " + std::to_string(width) + "x" +
                                                 std::to_string(height) + (grey ? " grey" : "");
                        const auto source = dir / (std::to_string(height) + "." + from.canonicalExtension());
                        const auto destination = dir / (std::to_string(height) + ".pdf");
                        out << name << ": " << std::flush;
                        if (!makePicture(from, width, height, grey, source)) {
                            out << "no picture made\n";
                            continue;
                        }
                        std::string problem;
                        try {
                            const auto written = PDFEngine().convert(makeJob(source, destination, from, pdf), {}, {});
                            if (written != std::vector<std::filesystem::path>{destination}) problem = "written elsewhere";
                            else problem = readBack(destination, width * 0.24, height * 0.24);
                        } catch (const ConversionError& error) {
                            problem = std::string("refused: ") + error.what();
                        }
                        out << (problem.empty() ? "page" : problem) << "\n" << std::flush;
                        if (!problem.empty()) ++failed;
                        std::filesystem::remove(source);
                        std::filesystem::remove(destination);
                    }
                    return failed == 0 ? 0 : 1;
                });
                const std::string cases = readFile(report / "cases");
                ASSERT_TRUE(end.exited && end.code == 0) << column << " " << end.describe() << ":\n" << cases;
                EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{}) << column;
                EXPECT_EQ(filesBelow(tmp.path()), std::vector<std::string>{}) << column;
                for (size_t at = cases.find(": page"); at != std::string::npos; at = cases.find(": page", at + 1)) ++made;
            }
        }
        EXPECT_GT(made, 0) << "no picture of " << from.id.rawValue << " could be made at any size";
        GTEST_LOG_(INFO) << from.id.rawValue << ": " << made << " of 512 sizes made and placed";
    }
}

}  // namespace
}  // namespace kolvex::testing
