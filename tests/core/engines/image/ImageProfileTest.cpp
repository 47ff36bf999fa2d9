// SPDX-License-Identifier: GPL-3.0-or-later
// A picture in a wide colour space (Adobe RGB) written to a format that cannot carry its profile
// (GIF, ICO) comes out with its colours in sRGB, as a reader without the profile shows them,
// not with Adobe RGB's numbers read as sRGB (dull); a format that carries it keeps it.
#include <cmath>
#include <sstream>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ImageFixtures.h"
#include "core/engines/image/ImageEngine.h"
#include "support/ExternalTool.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using namespace kolvex::testing;
using vips::VImage;

// Adobe RGB (1998), as ghostscript installs it.
const fs::path kAdobeRgb = "/usr/share/color/icc/ghostscript/a98.icc";

// The first pixel of a file as the vips program reads it: the reader that is not the engine's own.
std::vector<double> firstPixel(const fs::path& file) {
    const auto out = programOutput("/usr/bin/vips", {"getpoint", file.string(), "0", "0"});
    std::vector<double> values;
    if (!out) return values;
    std::istringstream in(*out);
    for (double v; in >> v;) values.push_back(v);
    return values;
}

TEST(ImageProfiles, TargetsWithoutAProfileGetTheirColoursInSrgb) {
    if (!fs::exists(kAdobeRgb) || !fs::exists("/usr/bin/vips")) GTEST_SKIP() << "no Adobe RGB profile or vips program";
    TempDir dir;
    // A muted orange in Adobe RGB: in sRGB its numbers are clearly others.
    const std::string profile = readFile(kAdobeRgb);
    VImage picture = (VImage::black(16, 16, VImage::option()->set("bands", 3)) + std::vector<double>{150, 90, 40})
                         .cast(VIPS_FORMAT_UCHAR)
                         .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    picture.set(VIPS_META_ICC_NAME, nullptr, const_cast<char*>(profile.data()), profile.size());
    const fs::path source = dir / "adobe.png";
    picture.pngsave(source.c_str());
    // What the numbers are in sRGB, by the vips program.
    const fs::path expectedFile = dir / "expected.v";
    ASSERT_TRUE(programOutput("/usr/bin/vips", {"icc_transform", source.string(), expectedFile.string(), "srgb", "--embedded"}));
    const std::vector<double> expected = firstPixel(expectedFile);
    ASSERT_EQ(expected.size(), 3u);

    for (const std::string target : {"gif", "ico", "png"}) {
        SCOPED_TRACE(target);
        const fs::path output = dir / ("out." + target);
        ImageEngine().convert(imageJob(source, output, "png", target), {}, {});
        const std::vector<double> drawn = firstPixel(output);
        ASSERT_GE(drawn.size(), 3u);
        const bool keepsProfile = target == "png";
        if (keepsProfile) {
            EXPECT_NE(headerField(output, "icc-profile-data"), "") << "the profile was dropped";
            continue;
        }
        for (size_t band = 0; band < 3; ++band)
            EXPECT_NEAR(drawn[band], expected[band], 4) << "band " << band << ": Adobe RGB's numbers, not sRGB's";
    }
}

}  // namespace
}  // namespace kolvex
