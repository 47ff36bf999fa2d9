// SPDX-License-Identifier: GPL-3.0-or-later
// The resize tool on real pictures: each picture by its own share or to the side asked, and a
// picture the resize would not shrink left as it is.
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "ImageFixtures.h"
#include "core/engines/image/ImageEngine.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using namespace kolvex::testing;
using vips::VImage;

class ImageResizeTest : public ::testing::Test {
protected:
    fs::path pngSource(int width, int height) {
        auto path = dir / "source.png";
        save(quadrants(width, height, false), path, "pngsave");
        return path;
    }
    static ConversionOptions withTool(std::string tool) {
        ConversionOptions options;
        options.tool = std::move(tool);
        return options;
    }

    TempDir dir;
};

// A resize shrinks to the side asked, or to each picture's own share of its size; a picture
// the resize would not shrink is left as it is (nothing written, the outcome says why) rather
// than encoded again at its own size.
TEST_F(ImageResizeTest, AResizeShrinksEachPictureByItsOwnSizeAndLeavesSmallerOnesAlone) {
    auto png = pngSource(400, 200);
    auto big = dir / "big.jpg";
    save(quadrants(1600, 1200), big, "jpegsave");
    auto mid = dir / "mid.jpg";
    save(quadrants(800, 600), mid, "jpegsave");
    struct Row {
        fs::path source;
        std::string from;
        std::optional<int64_t> max;
        std::optional<double> percent;
        int w, h;  // 0: left as it is
    };
    const Row rows[] = {
        {png, "png", 100, {}, 100, 50},   {big, "jpg", 100, {}, 100, 75},  {png, "png", 4000, {}, 0, 0},
        {png, "png", 400, {}, 0, 0},      {big, "jpg", 1000, {}, 1000, 750}, {mid, "jpg", 1000, {}, 0, 0},
        {png, "png", 0, {}, 1, 1},        {png, "png", {}, 50, 200, 100},  {big, "jpg", {}, 50, 800, 600},
        {mid, "jpg", {}, 50, 400, 300},   {mid, "jpg", {}, 25, 200, 150},  {big, "jpg", {}, 100, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.source.filename().string() + " max " + std::to_string(row.max.value_or(-1)) + " percent " +
                     std::to_string(row.percent.value_or(-1)));
        ConversionOptions options = withTool("resize");
        options.maxDimension = row.max;
        options.scalePercent = row.percent;
        auto out = dir / "resized.webp";
        fs::remove(out);
        const ConversionOutcome outcome = ImageEngine().convertReporting(
            imageJob(row.source, out, row.from, "webp", options), {}, {});
        if (row.w == 0) {
            EXPECT_TRUE(outcome.leftAsItIs);
            EXPECT_TRUE(outcome.outputs.empty());
            EXPECT_FALSE(fs::exists(out)) << "nothing is written for a picture left as it is";
            ASSERT_TRUE(outcome.note);
            EXPECT_NE(outcome.note->find("Left as it is"), std::string::npos) << *outcome.note;
            continue;
        }
        EXPECT_FALSE(outcome.leftAsItIs);
        ASSERT_EQ(outcome.outputs.size(), 1u);
        VImage back = reload(out);
        EXPECT_EQ(back.width(), row.w);
        EXPECT_EQ(back.height(), row.h);
    }
}

}  // namespace
}  // namespace kolvex
