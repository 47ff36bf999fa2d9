// SPDX-License-Identifier: GPL-3.0-or-later
// Deep HEIC and AVIF pictures keep their depth through the pixel work, in every target that can
// hold it; and what a target cannot hold is said: refused with the limit, or fitted with a note.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ImageFixtures.h"
#include "core/engines/image/ImageEngine.h"
#include "core/engines/image/VipsRuntime.h"
#include "core/format/ConversionError.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using namespace kolvex::testing;
using vips::VImage;

// A 16-bit ramp whose low bits matter, saved as a HEIF of `bits` bits per sample.
fs::path deepHeif(const fs::path& file, const std::string& compression, int bits) {
    image::ensureVipsStarted();
    const VImage ramp = VImage::xyz(400, 300)[0] * (65535.0 / 400);
    const VImage picture = VImage::bandjoin(std::vector<VImage>{ramp, ramp, VImage::black(400, 300) + 40000})
                               .cast(VIPS_FORMAT_USHORT)
                               .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
    auto* options = VImage::option()->set("bitdepth", bits);
    if (compression == "av1") options->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1);
    picture.heifsave(file.c_str(), options);
    return file;
}

struct DepthRow {
    std::string source;  // "heic10", "heic12", "avif12"
    std::string to;
    std::string format;  // the sample format vipsheader reports
    std::string bits;    // heif-bitdepth of a HEIF output; "" for others
};

TEST(ImageHeifDepth, ResizeKeepsTheDepthTheTargetHolds) {
    if (!ImageEngine::canWrite(imageFormat("heic")) || !ImageEngine::canWrite(imageFormat("avif")))
        GTEST_SKIP() << "no HEIF encoders in this libvips";
    TempDir dir;
    deepHeif(dir / "heic10.heic", "hevc", 10);
    deepHeif(dir / "heic12.heic", "hevc", 12);
    // The AV1 encoder here cannot write 10 bits (it aborts); 12-bit AVIF stands for deep AVIF.
    deepHeif(dir / "avif12.avif", "av1", 12);
    ASSERT_EQ(headerField(dir / "heic10.heic", "heif-bitdepth"), "10");

    const std::vector<DepthRow> rows{
        {"heic10", "heic", "USHORT", "10"}, {"heic10", "avif", "USHORT", "12"}, {"heic10", "png", "USHORT", ""},
        {"heic10", "tiff", "USHORT", ""},   {"heic12", "heic", "USHORT", "12"}, {"heic12", "avif", "USHORT", "12"},
        {"heic12", "png", "USHORT", ""},    {"heic12", "tiff", "USHORT", ""},   {"avif12", "heic", "USHORT", "12"},
        {"avif12", "avif", "USHORT", "12"}, {"avif12", "png", "USHORT", ""},    {"avif12", "tiff", "USHORT", ""},
        // Targets of 8 bits get 8.
        {"heic10", "jpg", "UCHAR", ""},     {"avif12", "webp", "UCHAR", ""},
    };
    ConversionOptions resize;
    resize.tool = "resize";
    resize.maxDimension = 100;
    int index = 0;
    for (const DepthRow& row : rows) {
        SCOPED_TRACE(row.source + " to " + row.to);
        const std::string from = row.source.substr(0, 4);
        const fs::path source = dir / (row.source + "." + from);
        const fs::path out = dir / ("out" + std::to_string(index++) + "." + row.to);
        ImageEngine().convert(imageJob(source, out, from, row.to, resize), {}, {});
        EXPECT_EQ(headerField(out, "width"), "100");
        EXPECT_NE(headerField(out, "format").find("VIPS_FORMAT_" + row.format), std::string::npos) << headerField(out, "format");
        if (!row.bits.empty()) {
            EXPECT_EQ(headerField(out, "heif-bitdepth"), row.bits);
        }
    }

    // Without any pixel work a deep HEIC stays as deep as it was.
    ImageEngine().convert(imageJob(dir / "heic10.heic", dir / "same.heic", "heic", "heic"), {}, {});
    EXPECT_EQ(headerField(dir / "same.heic", "heif-bitdepth"), "10");
}

fs::path flatStrip(const fs::path& file, int width, int height) {
    image::ensureVipsStarted();
    (VImage::black(width, height, VImage::option()->set("bands", 3)) + std::vector<double>{90, 160, 230})
        .cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
        .pngsave(file.c_str(), VImage::option()->set("compression", 1));
    return file;
}

TEST(ImageRefusals, AStripTooThinForTheHevcEncoderIsRefusedNamingTheLimit) {
    if (!ImageEngine::canWrite(imageFormat("heic"))) GTEST_SKIP() << "no HEIC encoder in this libvips";
    TempDir dir;
    for (const auto& [width, height] : {std::pair{16384, 16}, std::pair{16, 8000}}) {
        const std::string name = "strip" + std::to_string(width) + "x" + std::to_string(height);
        const fs::path strip = flatStrip(dir / (name + ".png"), width, height);
        const fs::path out = dir / (name + ".heic");
        try {
            ImageEngine().convert(imageJob(strip, out, "png", "heic"), {}, {});
            ADD_FAILURE() << "a strip the encoder cannot hold was written";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.kind(), ConversionError::Kind::unsupportedCombination);
            const std::string message = error.shortDescription();
            EXPECT_NE(message.find(name + ".png (" + std::to_string(width) + " × " + std::to_string(height) + " px)"),
                      std::string::npos) << message;
            EXPECT_NE(message.find("4216 px"), std::string::npos) << message;
        }
        EXPECT_FALSE(fs::exists(out));
    }
    // A strip the encoder can hold is written and opens.
    const fs::path fits = flatStrip(dir / "fits.png", 4096, 16);
    ImageEngine().convert(imageJob(fits, dir / "fits.heic", "png", "heic"), {}, {});
    EXPECT_EQ(headerField(dir / "fits.heic", "width"), "4096");
}

TEST(ImageRefusals, ASizeFittedToTheTargetIsSaidInTheNote) {
    TempDir dir;
    const fs::path panorama = flatStrip(dir / "panorama.png", 20000, 400);
    ConversionOptions resize;
    resize.tool = "resize";
    resize.maxDimension = 18000;
    struct Row {
        std::string to;
        std::string label;
        std::string limit;
    };
    for (const Row& row : {Row{"webp", "WebP", "16383"}, Row{"heic", "HEIC", "16384"}, Row{"avif", "AVIF", "16384"}}) {
        SCOPED_TRACE(row.to);
        if (!ImageEngine::canWrite(imageFormat(row.to))) continue;
        const fs::path out = dir / ("fitted." + row.to);
        const ConversionOutcome outcome = ImageEngine().convertReporting(imageJob(panorama, out, "png", row.to, resize), {}, {});
        EXPECT_EQ(headerField(out, "width"), row.limit);
        const std::string label = imageFormat(row.to).label;
        EXPECT_EQ(outcome.note, label + " holds at most " + row.limit + " px a side, so the picture is " + row.limit +
                                    " px on its longest side instead of 18000.");
    }
    // A size within the limit needs no word.
    resize.maxDimension = 1000;
    EXPECT_EQ(ImageEngine().convertReporting(imageJob(panorama, dir / "small.webp", "png", "webp", resize), {}, {}).note,
              std::nullopt);
}

}  // namespace
}  // namespace kolvex
