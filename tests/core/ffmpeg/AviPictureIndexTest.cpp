// SPDX-License-Identifier: GPL-3.0-or-later
// An AVI's pictures are read from its index, not from its packets: what a cut is planned by and
// what a copy is counted by must be what the packets hold, picture by picture (judged by
// ffprobe's packet list).
#include <algorithm>
#include <sstream>

#include <gtest/gtest.h>

#include "core/ffmpeg/LibavKeyframeReader.h"
#include "core/ffmpeg/LibavProber.h"
#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "MediaReport.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

// The packets of a file's first picture stream as ffprobe lists them: an AVI states no
// presentation times, so each picture shows when it is decoded.
std::vector<StreamCopyCuts::Picture> listedPictures(const fs::path& file) {
    const auto listed = ProcessRunner().run(testing::systemFFprobe(),
                                            {"-v", "error", "-select_streams", "V:0", "-show_entries",
                                             "packet=pts_time,dts_time,flags", "-of", "csv=p=0", file.string()},
                                            std::chrono::seconds(60), nullptr, nullptr);
    std::vector<StreamCopyCuts::Picture> pictures;
    std::istringstream lines(listed.standardOutput());
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::string pts, dts, flags;
        std::getline(fields, pts, ',');
        std::getline(fields, dts, ',');
        std::getline(fields, flags, ',');
        const double decoded = std::stod(dts);
        pictures.push_back({pts == "N/A" ? decoded : std::stod(pts), decoded, flags.starts_with('K')});
    }
    return pictures;
}

TEST(AviPictureIndex, GivesEveryPictureAsItsPacketsDo) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    using Args = std::vector<std::string>;
    // The codecs an AVI is cut by copy in.
    const std::vector<std::pair<std::string, Args>> rows = {
        {"mpeg4", {"-c:v", "mpeg4", "-bf", "0", "-g", "7", "-c:a", "libmp3lame"}},
        {"h264", {"-c:v", "libx264", "-bf", "0", "-g", "9", "-c:a", "libmp3lame"}},
        {"mjpeg", {"-c:v", "mjpeg", "-pix_fmt", "yuvj420p", "-c:a", "pcm_s16le"}},
        {"dv", {"-c:v", "dvvideo", "-pix_fmt", "yuv411p", "-c:a", "pcm_s16le", "-ar", "48000"}},
    };
    const LibavKeyframeReader reader;
    for (const auto& [name, encode] : rows) {
        SCOPED_TRACE(name);
        const bool dv = name == "dv";
        const fs::path clip = testing::makeClip(dir.path() / (name + ".avi"),
                                                {.seconds = 2.5,
                                                 .width = dv ? 720 : 64,
                                                 .height = dv ? 480 : 48,
                                                 .framesPerSecond = dv ? 30 : 25,
                                                 .codecArguments = encode});
        // Copied twice over, as a looping copy joins a clip to itself: the writer leaves an empty
        // chunk where the two meet, a place with no picture.
        const fs::path file = testing::makeMedia(dir.path() / (name + " twice.avi"),
                                                 {"-stream_loop", "1", "-i", clip.string(), "-c", "copy"});
        const auto expected = listedPictures(file);
        ASSERT_GT(expected.size(), 100u);
        const StreamCopyCuts read = reader.cuts(file);
        EXPECT_EQ(read.pictures, expected);
        std::vector<double> keyframes;
        for (const auto& picture : expected)
            if (picture.keyframe) keyframes.push_back(picture.time);
        EXPECT_EQ(read.keyframes, KeyframeIndex(keyframes));
        EXPECT_EQ(LibavKeyframeReader::pictureCount(file), static_cast<int64_t>(expected.size()));
        // A split's one opening: the probe as it reads alone, the cuts from the index.
        const auto [probe, every] = LibavProber().probeWithEveryCut(file);
        EXPECT_EQ(probe, LibavProber().probe(file));
        ASSERT_TRUE(every);
        EXPECT_EQ(every->pictures, expected);
        // A trim's window: from the keyframe at or before its start, past the keyframe after its end.
        for (const auto& window : {std::pair(-1.0, 1.0), std::pair(0.0, 1.0), std::pair(0.9, 1.7), std::pair(1.5, 9.0),
                                   std::pair(2.2, 2.6), std::pair(4.0, 4.5)}) {
            SCOPED_TRACE(window.first);
            const StreamCopyCuts near = reader.cuts(file, {}, window);
            ASSERT_FALSE(near.pictures.empty());
            EXPECT_TRUE(near.pictures.front().keyframe);
            EXPECT_LE(near.pictures.front().time, std::max(0.0, window.first) + 1e-6);
            EXPECT_GE(near.pictures.back().time, std::min(window.second, expected.back().time) - 1e-6);
            const auto from = std::find(expected.begin(), expected.end(), near.pictures.front());
            ASSERT_NE(from, expected.end());
            EXPECT_TRUE(std::equal(near.pictures.begin(), near.pictures.end(), from));
            // Exactly what the whole read gives for the window, as a sheet's read is cut for a job.
            const StreamCopyCuts kept = read.within(window);
            EXPECT_EQ(near.pictures, kept.pictures);
            EXPECT_EQ(near.keyframes, kept.keyframes);
        }
    }
}

}  // namespace
}  // namespace kolvex
