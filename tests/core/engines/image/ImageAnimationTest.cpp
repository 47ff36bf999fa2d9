// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ImageFixtures.h"
#include "core/engines/image/ImageEngine.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using namespace kolvex::testing;
using vips::VImage;

// Three 30 × 20 frames, each a different solid colour, shown 100, 200 and 300 ms, 3 loops.
const std::vector<int> kDelays{100, 200, 300};
constexpr int kLoop = 3;

VImage solid(std::vector<double> colour) {
    return (VImage::black(30, 20, VImage::option()->set("bands", 3)) + colour)
        .cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

std::vector<VImage> frames() { return {solid({255, 0, 0}), solid({0, 255, 0}), solid({0, 0, 255})}; }

// The dominant colour of frame `page`, read back by libvips' loader.
std::string frameColour(const fs::path& file, int page) {
    VImage frame = VImage::new_from_file(file.c_str(), VImage::option()->set("page", page));
    const auto p = frame.getpoint(frame.width() / 2, frame.height() / 2);
    if (p[0] > 160 && p[1] < 100 && p[2] < 100) return "red";
    if (p[1] > 160 && p[0] < 100 && p[2] < 100) return "green";
    if (p[2] > 160 && p[0] < 100 && p[1] < 100) return "blue";
    return "other";
}

ConversionOptions tool(const std::string& id) {
    ConversionOptions options;
    options.tool = id;
    return options;
}

class ImageAnimationTest : public ::testing::Test {
protected:
    void SetUp() override {
        saveAnimation(frames(), kDelays, kLoop, dir / "anim.gif", "gifsave");
        saveAnimation(frames(), kDelays, kLoop, dir / "anim.webp", "webpsave");
    }
    TempDir dir;
};

TEST_F(ImageAnimationTest, KeepsEveryFrameItsDelayAndTheLoopThroughConversionsAndTools) {
    ConversionOptions resize = tool("resize");
    resize.maxDimension = 15;
    ConversionOptions crop = tool("crop");
    crop.cropRect = UnitRect{0, 0, 0.5, 0.5};
    ConversionOptions rotate = tool("rotate");
    rotate.rotation = 90;
    ConversionOptions flip = tool("flip");
    flip.flipHorizontal = true;
    ConversionOptions compress = tool("compress");
    compress.quality = 0.5;
    struct Row {
        const char* name;
        const char* from;
        const char* to;
        ConversionOptions options;
        int width;
        int height;
    };
    const std::vector<Row> rows{
        {"gif to webp", "gif", "webp", {}, 30, 20},
        {"webp to gif", "webp", "gif", {}, 30, 20},
        {"compress gif", "gif", "gif", compress, 30, 20},
        {"compress webp", "webp", "webp", compress, 30, 20},
        {"resize", "webp", "webp", resize, 15, 10},
        {"crop", "gif", "gif", crop, 15, 10},
        {"rotate", "gif", "gif", rotate, 20, 30},
        {"flip", "webp", "webp", flip, 30, 20},
        {"strip metadata", "gif", "gif", tool("strip-metadata"), 30, 20},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path out = dir / (std::string(row.name) + "." + row.to);
        ImageEngine().convert(imageJob(dir / (std::string("anim.") + row.from), out, row.from, row.to, row.options),
                              {}, {});
        EXPECT_EQ(headerField(out, "n-pages"), "3");
        EXPECT_EQ(headerField(out, "delay"), "100 200 300");
        EXPECT_EQ(headerField(out, "loop"), std::to_string(kLoop));
        EXPECT_EQ(headerField(out, "width"), std::to_string(row.width));
        EXPECT_EQ(headerField(out, "height"), std::to_string(row.height)) << "of each frame";
        EXPECT_EQ(frameColour(out, 0), "red");
        EXPECT_EQ(frameColour(out, 1), "green");
        EXPECT_EQ(frameColour(out, 2), "blue");
    }
}

TEST_F(ImageAnimationTest, StillTargetsTakeTheFirstFrame) {
    for (std::string from : {"gif", "webp"}) {
        const fs::path out = dir / ("first-of-" + from + ".png");
        ImageEngine().convert(imageJob(dir / ("anim." + from), out, from, "png"), {}, {});
        EXPECT_EQ(headerField(out, "width"), "30");
        EXPECT_EQ(headerField(out, "height"), "20");
        EXPECT_EQ(frameColour(out, 0), "red");
    }
}

TEST_F(ImageAnimationTest, ABrokenFrameFailsWithoutLeavingAFile) {
    // The last frame's compressed data overwritten: the first frames still decode.
    std::string bytes = readFile(dir / "anim.gif");
    for (size_t i = bytes.size() - 12; i < bytes.size() - 2; ++i) bytes[i] = '\xFF';
    const fs::path broken = dir.write("broken.gif", bytes);
    for (std::string to : {"webp", "gif"}) {
        SCOPED_TRACE(to);
        const fs::path out = dir / ("out." + to);
        try {
            ImageEngine().convert(imageJob(broken, out, "gif", to), {}, {});
            // A correct partial result: the frames the reader could decode, in a file that opens.
            // libvips' GIF reader counts a damaged last frame or not from one run to the next.
            const std::string pages = headerField(out, "n-pages");
            EXPECT_TRUE(pages == "" || pages == "2" || pages == "3") << pages;
            EXPECT_FALSE(headerField(out, "width").empty());
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.kind(), ConversionError::Kind::corruptedInput) << error.what();
            EXPECT_FALSE(fs::exists(out));
        }
    }
}

}  // namespace
}  // namespace kolvex
