// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>

#include <gtest/gtest.h>

#include "ImageFixtures.h"
#include "core/conversion/SizeEstimator.h"
#include "core/engines/image/ImageEngine.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using namespace kolvex::testing;
using vips::VImage;

TEST(MeasuredImageSize, TrialEncodesThroughTheImageEngine) {
    TempDir dir;
    const ImageEngine engine;
    auto png = dir / "photo.png";
    save(quadrants(400, 200), png, "pngsave");
    const auto pngSize = static_cast<int64_t>(fs::file_size(png));

    auto smaller = SizeEstimator::measuredImageSize(engine, png, imageFormat("png"), 0.8, 40, true);
    ASSERT_TRUE(smaller.has_value());
    EXPECT_GT(*smaller, 0);
    EXPECT_LT(*smaller, pngSize);

    // A compress trial that cannot shrink the file measures the source itself.
    auto jpg = dir / "tight.jpg";
    VImage::gaussnoise(64, 64, VImage::option()->set("sigma", 40)).cast(VIPS_FORMAT_UCHAR)
        .jpegsave(jpg.c_str(), VImage::option()->set("Q", 10));
    EXPECT_EQ(SizeEstimator::measuredImageSize(engine, jpg, imageFormat("jpg"), 1.0, std::nullopt, true),
              static_cast<int64_t>(fs::file_size(jpg)));

    auto broken = dir.write("broken.jpg", "not a picture");
    EXPECT_EQ(SizeEstimator::measuredImageSize(engine, broken, imageFormat("jpg"), 0.5, std::nullopt, true),
              std::nullopt);
}

}  // namespace
}  // namespace kolvex
