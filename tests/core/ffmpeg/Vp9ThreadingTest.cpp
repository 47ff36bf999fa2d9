// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <sstream>

#include <gtest/gtest.h>

#include "core/ffmpeg/FFmpegArguments.h"
#include "support/ExternalTool.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using Args = FFmpegArguments::Arguments;

// The mean SSIM of `encoded` against `reference`, frame by frame; none when ffmpeg cannot tell.
std::optional<double> ssim(const fs::path& encoded, const fs::path& reference) {
    const auto stats = testing::programOutput(
        testing::systemFFmpeg(), {"-nostdin", "-loglevel", "error", "-i", encoded.string(), "-i", reference.string(),
                                  "-lavfi", "[0:v][1:v]ssim=stats_file=-", "-f", "null", "-"});
    if (!stats) return std::nullopt;
    double sum = 0;
    int frames = 0;
    std::istringstream lines(*stats);
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find("All:");
        if (at == std::string::npos) continue;
        sum += std::stod(line.substr(at + 4));
        ++frames;
    }
    if (frames == 0) return std::nullopt;
    return sum / frames;
}

// A VP9 encode with the processors spread over rows and tiles looks as good as one without.
TEST(Vp9Threading, KeepsThePictureQuality) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const fs::path source = testing::makeClip(
        dir / "source.mkv",
        {.seconds = 0.5, .width = 640, .height = 360, .audio = false, .codecArguments = {"-c:v", "ffv1"}});
    MediaProbe probe;
    probe.videoCodec = "ffv1";
    probe.width = 640;
    probe.height = 360;
    ConversionOptions options = ConversionOptions::defaults();
    options.quality = 0.3;
    const auto job = testing::mediaJob(source, dir / "threaded.webm", "mkv", "webm", options);
    const Args threaded = FFmpegArguments::build(job, PassthroughPlanner::Decision::reencode("r"), probe);
    const auto at = std::find(threaded.begin(), threaded.end(), "-row-mt");
    ASSERT_NE(at, threaded.end());
    ASSERT_EQ(Args(at, at + 4), (Args{"-row-mt", "1", "-tile-columns", "1"}));
    Args single(threaded.begin(), at);
    single.insert(single.end(), at + 4, threaded.end() - 1);
    single.push_back((dir / "single.webm").string());

    for (const Args& line : {threaded, single}) {
        const Args arguments(line.begin(), line.end());
        ASSERT_TRUE(testing::programOutput(testing::systemFFmpeg(), arguments)) << arguments.back();
    }
    const auto withThreads = ssim(dir / "threaded.webm", source);
    const auto without = ssim(dir / "single.webm", source);
    ASSERT_TRUE(withThreads && without);
    EXPECT_GT(*without, 0.8);
    EXPECT_NEAR(*withThreads, *without, 0.01);
}

}  // namespace
}  // namespace kolvex
