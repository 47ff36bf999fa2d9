// SPDX-License-Identifier: GPL-3.0-or-later
// What a target can hold: a picture wider than a format allows is refused with the limit named
// (or fitted to it when a size was asked for), and a resize keeps 16 bits where the target has them.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <gtest/gtest.h>

#include "ImageFixtures.h"
#include "core/engines/image/ImageEngine.h"
#include "core/engines/image/ImageFormatTable.h"
#include "core/engines/image/VipsRuntime.h"
#include "core/format/FormatRegistry.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using namespace kolvex::testing;
using vips::VImage;

// A plain sky-blue strip: cheap to make and to encode at any size.
fs::path strip(const fs::path& file, int width, int height) {
    image::ensureVipsStarted();
    const VImage sky = (VImage::black(width, height, VImage::option()->set("bands", 3)) + std::vector<double>{90, 160, 230})
                           .cast(VIPS_FORMAT_UCHAR)
                           .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    sky.pngsave(file.c_str(), VImage::option()->set("compression", 1));
    return file;
}

// Every image format the manifest converts pictures to, with its limit from the codec table:
// one pixel past it is refused with the limit named before anything is written, and a picture at
// it is written and reads back whole. A format with no limit takes a strip wider than 16 bits
// hold and than every limit in the table. A saver that fails on a size the table does not know fails here.
TEST(ImageLimits, APanoramaTooWideForTheTargetIsRefusedNamingTheLimit) {
    const FormatRegistry registry = FormatRegistry::loadBundled();
    std::set<std::string> targets;
    for (const auto& capability : registry.manifest().conversions) {
        const auto to = registry.format(capability.to);
        if (capability.engine == engine_ids::image && to && to->category == FormatCategory::image)
            targets.insert(capability.to.rawValue);
    }
    ASSERT_FALSE(targets.empty());
    // Past what 16 bits hold, and past every limit the table names.
    int64_t beyondEveryLimit = int64_t{1} << 16;
    for (const auto& codec : image::ImageFormatTable::codecs())
        beyondEveryLimit = std::max<int64_t>(beyondEveryLimit, codec.largestSide + 1);

    TempDir dir;
    // 64 px high: the HEVC encoder's thin-strip rule is not what is tested here.
    constexpr int kHeight = 64;
    std::map<int64_t, fs::path> strips;
    const auto stripOf = [&](int64_t width) {
        auto& file = strips[width];
        if (file.empty()) file = strip(dir / ("panorama-" + std::to_string(width) + ".png"), static_cast<int>(width), kHeight);
        return file;
    };
    int refused = 0;
    for (const std::string& id : targets) {
        SCOPED_TRACE(id);
        const Format target = *registry.format(FormatID(id));
        const image::ImageCodec* codec = image::ImageFormatTable::writable(target);
        if (!codec) {
            GTEST_LOG_(INFO) << "no saver here for " << id << "; skipped";
            continue;
        }
        if (codec->maxSide > 0) continue;  // shrunk to its size, never refused
        const auto convert = [&](int64_t width) {
            const fs::path source = stripOf(width);
            const fs::path out = dir / (std::to_string(width) + "." + target.canonicalExtension());
            ConversionJob job(source, {}, out, *registry.format(FormatID("png")), target,
                              ConversionCapability{FormatID("png"), target.id, engine_ids::image}, ConversionOptions::defaults());
            ImageEngine().convert(job, {}, {});
            return out;
        };
        const int64_t fits = codec->largestSide > 0 ? codec->largestSide : beyondEveryLimit;
        try {
            const fs::path written = convert(fits);
            EXPECT_EQ(headerField(written, "width"), std::to_string(fits));
            EXPECT_EQ(headerField(written, "height"), std::to_string(kHeight));
            fs::remove(written);
        } catch (const ConversionError& error) {
            ADD_FAILURE() << "a " << fits << " px wide picture was not written: " << error.shortDescription() << "\n"
                          << error.diagnosticDetail().value_or("");
        }
        if (codec->largestSide == 0) continue;

        const int64_t wide = codec->largestSide + 1;
        try {
            fs::remove(convert(wide));
            ADD_FAILURE() << "a " << wide << " px wide picture was written";
        } catch (const ConversionError& error) {
            ++refused;
            EXPECT_EQ(error.kind(), ConversionError::Kind::unsupportedCombination) << error.shortDescription();
            const std::string message = error.shortDescription();
            EXPECT_NE(message.find(fmt::format("panorama-{}.png ({} × {} px)", wide, wide, kHeight)), std::string::npos)
                << message;
            EXPECT_NE(message.find(fmt::format("{}, which holds at most {} px a side", target.label, codec->largestSide)),
                      std::string::npos)
                << message;
        }
    }
    EXPECT_GT(refused, 0);
    // Nothing but the sources is left in the folder.
    EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator())),
              strips.size());
}

TEST(ImageLimits, ASizeThatWasAskedForIsFittedToTheTarget) {
    TempDir dir;
    const fs::path panorama = strip(dir / "panorama.png", 20000, 500);
    ConversionOptions resize;
    resize.tool = "resize";
    resize.maxDimension = 20000;
    ImageEngine().convert(imageJob(panorama, dir / "fitted.webp", "png", "webp", resize), {}, {});
    EXPECT_EQ(headerField(dir / "fitted.webp", "width"), "16383");
    EXPECT_NEAR(std::stoi(headerField(dir / "fitted.webp", "height")), 410, 1);
}

TEST(ImageLimits, APictureAtTheLimitIsWrittenAndReadsBack) {
    TempDir dir;
    if (!ImageEngine::canWrite(imageFormat("heic"))) GTEST_SKIP() << "no HEIC encoder in this libvips";
    const fs::path wide = strip(dir / "wide.png", 16384, 64);
    ImageEngine().convert(imageJob(wide, dir / "wide.heic", "png", "heic"), {}, {});
    EXPECT_EQ(headerField(dir / "wide.heic", "width"), "16384");
    EXPECT_EQ(headerField(dir / "wide.heic", "height"), "64");

    // A strip too thin for the encoder's levels at that width: never a file nobody can open,
    // and the refusal says why.
    const fs::path thin = strip(dir / "thin.png", 8000, 16);
    try {
        ImageEngine().convert(imageJob(thin, dir / "thin.heic", "png", "heic"), {}, {});
        EXPECT_EQ(headerField(dir / "thin.heic", "width"), "8000") << "a HEIC was written that does not open";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::unsupportedCombination);
        EXPECT_NE(error.shortDescription().find("thin.png (8000 × 16 px)"), std::string::npos) << error.shortDescription();
        EXPECT_FALSE(fs::exists(dir / "thin.heic"));
    }
}

// A 16-bit picture whose samples use the low byte too: 8 bits cannot hold them.
VImage deepPicture(int width, int height, bool alpha) {
    image::ensureVipsStarted();
    VImage ramp = VImage::xyz(width, height)[0] * (65535.0 / width);
    VImage picture =
        VImage::bandjoin(std::vector<VImage>{ramp, ramp, VImage::black(width, height) + 40000}).cast(VIPS_FORMAT_USHORT);
    if (alpha) picture = picture.bandjoin((VImage::black(width, height) + 65535).cast(VIPS_FORMAT_USHORT));
    return picture.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
}

TEST(ImageDepth, ResizeKeepsSixteenBitsWhereTheTargetHoldsThem) {
    TempDir dir;
    deepPicture(400, 300, false).pngsave((dir / "deep.png").c_str());
    deepPicture(400, 300, true).pngsave((dir / "deep-alpha.png").c_str());
    deepPicture(400, 300, false).tiffsave((dir / "deep.tiff").c_str());
    struct Row {
        std::string file;
        std::string from;
        std::string to;
        std::string format;  // as vipsheader names the sample format: "USHORT", "UCHAR"
        std::string bands;
    };
    const std::vector<Row> rows{
        {"deep.png", "png", "png", "USHORT", "3"},      {"deep-alpha.png", "png", "png", "USHORT", "4"},
        {"deep.tiff", "tiff", "tiff", "USHORT", "3"},   {"deep.png", "png", "tiff", "USHORT", "3"},
        {"deep-alpha.png", "png", "tiff", "USHORT", "4"},
        // A target that cannot hold 16 bits gets 8.
        {"deep.png", "png", "jpg", "UCHAR", "3"},
    };
    ConversionOptions resize;
    resize.tool = "resize";
    resize.maxDimension = 100;
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file + " to " + row.to);
        const fs::path out = dir / ("out" + std::to_string(index++) + "." + row.to);
        ImageEngine().convert(imageJob(dir / row.file, out, row.from, row.to, resize), {}, {});
        EXPECT_EQ(headerField(out, "width"), "100");
        EXPECT_EQ(headerField(out, "height"), "75");
        EXPECT_NE(headerField(out, "format").find("VIPS_FORMAT_" + row.format), std::string::npos) << headerField(out, "format");
        EXPECT_EQ(headerField(out, "bands"), row.bands);
        if (row.format == "USHORT") {
            // The flat blue band keeps its exact 16-bit value, which 8 bits would round to 40092.
            const auto sample = pixel(reload(out), 50, 37);
            EXPECT_NEAR(sample[2], 40000, 2);
            if (row.bands == "4") {
                EXPECT_NEAR(sample[3], 65535, 1);
            }
        }
    }
}

}  // namespace
}  // namespace kolvex
