// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ImageEngineTestSupport.h"
#include "ImageFixtures.h"
#include "core/conversion/RotatedSize.h"
#include "core/engines/image/ImageEngine.h"
#include "core/format/FormatRegistry.h"
#include "support/BinaryFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using namespace kolvex::testing;
using vips::VImage;

// Colour names for the quadrant fixture, tolerant of lossy encoders.
std::string colourAt(const VImage& image, int x, int y) {
    auto p = pixel(image, x, y);
    auto on = [&](size_t band) { return p.size() > band && p[band] > 160; };
    if (image.bands() == 4 && p[3] < 20) return "clear";
    if (on(0) && on(1) && on(2)) return "white";
    if (on(0) && on(1)) return "yellow";
    if (on(0)) return "red";
    if (on(1)) return "green";
    if (on(2)) return "blue";
    return "dark";
}

TEST(ImageEngineRules, CanHandleAsksTheSameTableAsTheEngine) {
    ImageEngine engine;
    EXPECT_EQ(engine.id(), engine_ids::image);
    struct Row {
        const char* from;
        const char* to;
        std::optional<std::string> tool;
        bool expected;
    };
    const Row rows[] = {
        {"png", "jpg", std::nullopt, true},    {"jpg", "webp", "compress", true},
        {"heic", "png", "rotate", true},       {"png", "ico", std::nullopt, true},
        {"png", "jpg", "trim", false},         {"mp4", "png", std::nullopt, false},
        {"png", "mp4", std::nullopt, false},   {"svg", "png", std::nullopt, false},
        {"png", "svg", std::nullopt, false},   {"gif", "avif", "strip-metadata", true},
    };
    for (const auto& row : rows) {
        ConversionOptions options;
        options.tool = row.tool;
        EXPECT_EQ(engine.canHandle(imageJob("/a", "/b", row.from, row.to, options)), row.expected)
            << row.from << " → " << row.to << " " << row.tool.value_or("");
    }
    Format unknown = imageFormat("png");
    unknown.contentTypes = {"image/x-kolvex-unknown", "image/png"};
    EXPECT_TRUE(ImageEngine::canRead(unknown)) << "any listed content type may match";
    unknown.contentTypes = {};
    EXPECT_FALSE(ImageEngine::canRead(unknown));
    EXPECT_FALSE(ImageEngine::canWrite(unknown));
    EXPECT_EQ(ImageEngine::supportedTools(),
              (std::set<std::string>{"compress", "resize", "crop", "rotate", "flip", "strip-metadata"}));
}

TEST(ImageEngineRules, AcceptsEveryImageConversionTheShippedManifestOffers) {
    const auto registry = FormatRegistry::loadBundled();
    int checked = 0;
    for (const auto& from : registry.allFormats()) {
        for (const auto& to : registry.supportedOutputs(from.id)) {
            auto capability = registry.bestCapability(from.id, to.id);
            if (!capability || capability->engine != engine_ids::image) continue;
            ConversionJob job("/in", {}, "/out", from, to, *capability, ConversionOptions{});
            EXPECT_TRUE(ImageEngine().canHandle(job)) << from.id << " → " << to.id;
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);
}

TEST(ImageEngineRules, RotatedSizeIsTheRoundedBoundingBox) {
    struct Row {
        int64_t w, h;
        double degrees;
        int64_t ew, eh;
    };
    const Row rows[] = {
        {400, 200, 0, 400, 200},  {400, 200, 90, 200, 400},  {400, 200, 180, 400, 200}, {400, 200, 270, 200, 400},
        {400, 200, 45, 424, 424}, {400, 200, -90, 200, 400}, {400, 200, 30, 446, 373},  {1, 1, 45, 1, 1},
        {1, 1, 17, 1, 1},         {0, 0, 0, 1, 1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(rotatedSize(row.w, row.h, row.degrees), std::make_pair(row.ew, row.eh))
            << row.w << "×" << row.h << " @" << row.degrees;
    }
}

TEST_F(ImageEngineTest, WritesEverySaverFormatAndReadsItBack) {
    auto source = pngSource(64, 48, true);
    for (std::string to : {"jpg", "png", "webp", "gif", "tiff", "heic", "avif", "ico", "bmp"}) {
        SCOPED_TRACE(to);
        auto out = dir / ("out." + to);
        EXPECT_EQ(run(imageJob(source, out, "png", to)), std::vector<fs::path>{out});
        VImage back = reload(out);
        EXPECT_EQ(back.width(), 64);
        EXPECT_EQ(back.height(), 48);
        EXPECT_EQ(colourAt(back, 4, 4), "red");

        // And back again: every written format is also read.
        auto again = dir / ("again-from-" + to + ".png");
        run(imageJob(out, again, to, "png"));
        EXPECT_EQ(reload(again).width(), 64);
    }
}

TEST_F(ImageEngineTest, PlainConversionKeepsMetadataAndTheOrientationTag) {
    auto source = dir / "tagged.jpg";
    save(withMetadata(quadrants(40, 20), 6), source, "jpegsave", true);
    for (std::string to : {"jpg", "webp"}) {
        SCOPED_TRACE(to);
        auto out = dir / ("kept." + to);
        run(imageJob(source, out, "jpg", to));
        VImage back = reload(out);
        EXPECT_EQ(back.width(), 40) << "pixels are not turned, the tag says how";
        ASSERT_TRUE(hasField(back, "orientation"));
        EXPECT_EQ(back.get_int("orientation"), 6);
        ASSERT_TRUE(hasField(back, "exif-ifd0-Make"));
        EXPECT_NE(std::string(back.get_string("exif-ifd0-Make")).find(kCameraMake), std::string::npos);
        EXPECT_TRUE(hasField(back, "xmp-data"));
        EXPECT_TRUE(hasField(back, "icc-profile-data"));
    }
}

TEST_F(ImageEngineTest, TargetsWithoutAnOrientationTagGetTheirPictureUpright) {
    auto source = dir / "tagged.jpg";
    save(withMetadata(quadrants(40, 20), 6), source, "jpegsave", true);
    for (std::string to : {"gif", "heic", "bmp", "ico"}) {
        SCOPED_TRACE(to);
        auto out = dir / ("upright." + to);
        run(imageJob(source, out, "jpg", to));
        VImage back = reload(out);
        EXPECT_EQ(back.width(), 20);
        EXPECT_EQ(back.height(), 40);
        EXPECT_EQ(colourAt(back, 18, 1), "red") << "turned clockwise, as the tag says";
    }
    VImage heic = reload(dir / "upright.heic");
    ASSERT_TRUE(hasField(heic, "exif-ifd0-Make")) << "other metadata still goes along";
}

TEST_F(ImageEngineTest, StrippingRemovesExifXmpButKeepsTheProfileAndTurnsUpright) {
    for (std::string from : {"jpg", "webp"}) {
        save(withMetadata(quadrants(40, 20), 6), dir / ("tagged." + from), from == "jpg" ? "jpegsave" : "webpsave", true);
    }
    ConversionOptions noMetadata;
    noMetadata.preserveMetadata = false;
    // The JPEG and WebP savers add an EXIF block of their own, which must not get through either.
    // (A JPEG kept as JPEG loses its metadata without being decoded at all: tested apart.)
    const std::pair<std::string, std::string> pairs[] = {{"jpg", "webp"}, {"jpg", "png"}, {"jpg", "tiff"}, {"webp", "jpg"}};
    for (const auto& options : {noMetadata, withTool("strip-metadata")}) {
        for (const auto& [from, to] : pairs) {
            SCOPED_TRACE(from + " to " + to + " " + options.tool.value_or("preserveMetadata=false"));
            auto out = dir / ("stripped." + to);
            fs::remove(out);
            run(imageJob(dir / ("tagged." + from), out, from, to, options));
            VImage back = reload(out);
            EXPECT_EQ(back.width(), 20) << "decoded upright";
            EXPECT_EQ(back.height(), 40);
            EXPECT_FALSE(hasField(back, "exif-data"));
            EXPECT_FALSE(hasField(back, "exif-ifd0-Make"));
            EXPECT_FALSE(hasField(back, "xmp-data"));
            EXPECT_FALSE(hasField(back, "iptc-data"));
            EXPECT_TRUE(hasField(back, "icc-profile-data")) << "the colour profile stays";
            const std::string bytes = readFile(out);
            EXPECT_EQ(bytes.find(kCameraMake), std::string::npos);
            EXPECT_EQ(bytes.find("kolvex-test"), std::string::npos);
        }
    }
}

TEST_F(ImageEngineTest, RotationsAndFlipsMakeExactCanvases) {
    auto source = pngSource(40, 20);
    struct Row {
        double degrees;
        bool flipH, flipV;
        int w, h;
        const char* topLeft;
    };
    const Row rows[] = {
        {90, false, false, 20, 40, "blue"},   {-90, false, false, 20, 40, "green"}, {180, false, false, 40, 20, "yellow"},
        {270, false, false, 20, 40, "green"}, {360, false, false, 40, 20, "red"},   {720, false, false, 40, 20, "red"},
        {0, true, false, 40, 20, "green"},    {0, false, true, 40, 20, "blue"},     {90, true, false, 20, 40, "yellow"},
        {45, false, false, 42, 42, "white"},  {30, false, false, 45, 37, "white"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.degrees << " h" << row.flipH << " v" << row.flipV);
        ConversionOptions options = withTool("rotate");
        options.rotation = row.degrees;
        options.flipHorizontal = row.flipH;
        options.flipVertical = row.flipV;
        auto out = dir / "turned.jpg";
        fs::remove(out);
        run(imageJob(source, out, "png", "jpg", options));
        VImage back = reload(out);
        EXPECT_EQ(back.width(), row.w);
        EXPECT_EQ(back.height(), row.h);
        EXPECT_EQ(colourAt(back, 1, 1), row.topLeft);
    }
}

TEST_F(ImageEngineTest, OffAxisTurnUncoversTransparentCornersWhereAlphaIsKept) {
    auto source = pngSource(40, 20);
    ConversionOptions options = withTool("rotate");
    options.rotation = 30;
    run(imageJob(source, dir / "turned.png", "png", "png", options));
    VImage back = reload(dir / "turned.png");
    EXPECT_EQ(back.width(), 45);
    EXPECT_EQ(back.height(), 37);
    ASSERT_EQ(back.bands(), 4);
    EXPECT_EQ(colourAt(back, 0, 0), "clear");
    EXPECT_EQ(colourAt(back, 22, 18), colourAt(back, 22, 18)) << "centre is painted";
    EXPECT_GT(pixel(back, 22, 18)[3], 250);
}

TEST_F(ImageEngineTest, CropTakesTheRectangleFromTheBottomLeft) {
    auto source = pngSource(40, 20);
    struct Row {
        UnitRect rect;
        int w, h;
        const char* colour;
    };
    const Row rows[] = {
        {{0, 0, 0.5, 0.5}, 20, 10, "blue"},     {{0.5, 0.5, 0.5, 0.5}, 20, 10, "green"},
        {{0, 0.5, 0.5, 0.5}, 20, 10, "red"},    {{0.5, 0, 0.5, 0.5}, 20, 10, "yellow"},
        {{-0.5, -0.5, 1, 1}, 20, 10, "blue"},   {{0.25, 0.5, 0.5, 0.5}, 20, 10, "red"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.rect.x << "," << row.rect.y << " " << row.rect.width);
        ConversionOptions options = withTool("crop");
        options.cropRect = row.rect;
        auto out = dir / "cropped.png";
        fs::remove(out);
        run(imageJob(source, out, "png", "png", options));
        VImage back = reload(out);
        EXPECT_EQ(back.width(), row.w);
        EXPECT_EQ(back.height(), row.h);
        EXPECT_EQ(colourAt(back, 1, back.height() - 2), row.colour);
    }

    for (UnitRect outside : {UnitRect{2, 2, 0.5, 0.5}, UnitRect{0, 0, 0, 1}, UnitRect{0, 0, NAN, 1}}) {
        ConversionOptions options = withTool("crop");
        options.cropRect = outside;
        auto error = failure(imageJob(source, dir / "none.png", "png", "png", options));
        EXPECT_EQ(error.kind(), ConversionError::Kind::unsupportedCombination);
        EXPECT_EQ(error.from(), "crop region");
        EXPECT_EQ(error.to(), "an image with area");
        EXPECT_FALSE(fs::exists(dir / "none.png")) << "the partial output is removed";
    }
}

TEST_F(ImageEngineTest, AlphaIsFlattenedOntoWhiteOnlyForTargetsWithoutAlpha) {
    auto source = pngSource(40, 20, true);
    run(imageJob(source, dir / "flat.jpg", "png", "jpg"));
    VImage flat = reload(dir / "flat.jpg");
    EXPECT_EQ(flat.bands(), 3);
    EXPECT_EQ(colourAt(flat, 30, 5), "white") << "transparent becomes white, not black";
    EXPECT_EQ(colourAt(flat, 5, 5), "red");

    run(imageJob(source, dir / "kept.webp", "png", "webp"));
    VImage kept = reload(dir / "kept.webp");
    EXPECT_EQ(kept.bands(), 4);
    EXPECT_EQ(colourAt(kept, 30, 5), "clear");
}

TEST_F(ImageEngineTest, QualityMattersOnlyForLossyTargets) {
    auto source = dir / "noise.png";
    save((VImage::gaussnoise(128, 128, VImage::option()->set("mean", 128)->set("sigma", 60)))
             .bandjoin({VImage::gaussnoise(128, 128), VImage::gaussnoise(128, 128)})
             .cast(VIPS_FORMAT_UCHAR)
             .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB)),
         source, "pngsave");
    auto sizeAt = [&](const std::string& to, double quality) {
        ConversionOptions options;
        options.quality = quality;
        auto out = dir / ("q" + std::to_string(quality) + "." + to);
        fs::remove(out);
        run(imageJob(source, out, "png", to, options));
        return fs::file_size(out);
    };
    EXPECT_LT(sizeAt("jpg", 0.1), sizeAt("jpg", 0.9));
    EXPECT_LT(sizeAt("webp", 0.1), sizeAt("webp", 0.9));
    EXPECT_EQ(sizeAt("png", 0.1), sizeAt("png", 0.9));
    EXPECT_EQ(sizeAt("jpg", -3), sizeAt("jpg", 0.01)) << "clamped to Q 1";
    EXPECT_EQ(sizeAt("jpg", 7), sizeAt("jpg", 1.0)) << "clamped to Q 100";
}

TEST_F(ImageEngineTest, CompressThatDoesNotShrinkKeepsTheOriginalBytes) {
    auto source = dir / "small.jpg";
    VImage noise = VImage::gaussnoise(64, 64, VImage::option()->set("mean", 128)->set("sigma", 40)).cast(VIPS_FORMAT_UCHAR);
    noise.jpegsave(source.c_str(), VImage::option()->set("Q", 10));
    ConversionOptions options = withTool("compress");
    options.quality = 1.0;
    auto out = dir / "small 2.jpg";
    EXPECT_EQ(run(imageJob(source, out, "jpg", "jpg", options)), std::vector<fs::path>{out});
    EXPECT_EQ(readFile(out), readFile(source));
}

TEST_F(ImageEngineTest, IconsAreCappedAt256Pixels) {
    auto source = pngSource(600, 300, true);
    run(imageJob(source, dir / "big.ico", "png", "ico"));
    VImage icon = reload(dir / "big.ico");
    EXPECT_EQ(icon.width(), 256);
    EXPECT_EQ(icon.height(), 128);
}

}  // namespace
}  // namespace kolvex
