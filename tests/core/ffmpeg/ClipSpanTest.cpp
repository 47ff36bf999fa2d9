// SPDX-License-Identifier: GPL-3.0-or-later
// Where a file's pictures and sound lie, read from its packets, against what ffprobe decodes.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/ffmpeg/ClipSpan.h"
#include "core/format/ConversionError.h"
#include "MediaReport.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::decodedStream;

TEST(ClipSpan, ReadsWherePicturesAndSoundLie) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const auto make = [&](const std::string& name, double seconds, std::vector<std::string> codec, bool sound = true) {
        std::vector<std::string> args = {"-f", "lavfi", "-i", fmt::format("testsrc2=s=64x48:r=10:d={}", seconds)};
        if (sound) args.insert(args.end(), {"-f", "lavfi", "-i", fmt::format("sine=r=48000:d={}", seconds)});
        args.insert(args.end(), codec.begin(), codec.end());
        return testing::makeMedia(dir / name, args);
    };
    const std::vector<std::string> h264 = {"-c:v", "libx264", "-bf", "2", "-g", "20", "-c:a", "aac"};
    // Past 12 s only the start and the last seconds are read.
    const fs::path files[] = {
        make("short.mp4", 2, h264),
        make("long.mp4", 14, h264),
        make("short.mkv", 2, h264),
        make("long.mkv", 14, h264),
        make("short.webm", 2, {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-c:a", "libopus"}),
        make("silent.mp4", 2, h264, false),
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        const auto span = ClipSpan::read(file);
        ASSERT_TRUE(span);
        const auto pictures = decodedStream(file, "v:0");
        EXPECT_NEAR(span->pictureStart, pictures.start, 1e-6);
        EXPECT_NEAR(span->pictureEnd, pictures.end, 1e-6);
        EXPECT_NEAR(span->fileStart, std::stod(testing::probeEntry(file, "format=start_time")), 1e-6);
        const auto sound = decodedStream(file, "a:0");
        if (sound.frames == 0) {
            EXPECT_FALSE(span->soundStart);
            continue;
        }
        ASSERT_TRUE(span->soundStart && span->soundEnd);
        EXPECT_NEAR(*span->soundStart, sound.start, 1e-3);
        EXPECT_NEAR(*span->soundEnd, sound.end, 1e-3);
    }

    // Sound alone has no pictures; what is not media is refused.
    EXPECT_FALSE(ClipSpan::read(testing::makeMedia(dir / "a.mp3", {"-f", "lavfi", "-i", "sine=d=1"})));
    EXPECT_THROW(ClipSpan::read(dir.write("not.mp4", "not media")), ConversionError);
}

}  // namespace
}  // namespace kolvex
