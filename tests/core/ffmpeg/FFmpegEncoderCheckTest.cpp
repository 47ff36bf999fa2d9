// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/FFmpegEngine.h"

#include <atomic>

#include <gtest/gtest.h>

#include "core/ffmpeg/FFmpegEncoderList.h"
#include "support/FakeFFmpeg.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "FixedProber.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::mediaJob;

ConversionOptions withTool(std::optional<std::string> tool, bool allowPassthrough = true) {
    ConversionOptions options = ConversionOptions::defaults();
    options.tool = std::move(tool);
    options.allowPassthrough = allowPassthrough;
    return options;
}

// A list that counts how often it is read.
struct CountedList {
    std::shared_ptr<std::atomic<int>> reads = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<const FFmpegEncoderList> list(std::set<std::string> names) const {
        return std::make_shared<const FFmpegEncoderList>([reads = reads, names] {
            ++*reads;
            return names;
        });
    }
};

TEST(FFmpegEncoderCheck, StreamCopiesAreTakenWithoutReadingTheEncoderList) {
    struct Case {
        std::string from, to;
        ConversionOptions options;
        bool reads;
    };
    ConversionOptions quality = ConversionOptions::defaults();
    quality.quality = 0.5;
    const Case cases[] = {
        {"mp4", "mkv", withTool(std::nullopt), false},       // remux
        {"mp4", "mp4", withTool("trim"), false},             // copy trim
        {"mov", "mov", withTool("split"), false},            // copy split
        {"mp4", "mp4", withTool("merge", false), false},     // a merge decides once its files are probed
        {"mp4", "mp4", withTool("strip-metadata"), false},
        {"mp4", "mkv", withTool(std::nullopt, false), true},  // copying turned off
        {"mp4", "mp4", withTool("compress"), true},
        {"mp4", "mkv", quality, true},
        {"mp4", "gif", withTool(std::nullopt), true},        // no container to copy into
    };
    for (const auto& c : cases) {
        CountedList counted;
        const auto engine = FFmpegEngine::overList(BundledFFmpeg("/x/ffmpeg"),
                                                   std::make_shared<testing::FixedProber>(MediaProbe{}),
                                                   counted.list({"libx264", "aac", "gif"}));
        EXPECT_TRUE(engine.canHandle(mediaJob("/in", "/out", c.from, c.to, c.options))) << c.from << "→" << c.to;
        EXPECT_EQ(*counted.reads > 0, c.reads) << c.from << "→" << c.to << " " << c.options.tool.value_or("");
    }
}

TEST(FFmpegEncoderCheck, ACopyThatMustBeReEncodedNeedsItsEncodersStill) {
    testing::TempDir dir;
    testing::FakeFFmpeg fake(dir / "fake");
    const fs::path source = dir.write("in.mp4", "not looked at: the prober answers");
    MediaProbe h264;
    h264.videoCodec = "h264";
    h264.audioCodec = "aac";
    h264.durationSeconds = 1;
    h264.width = 64;
    h264.height = 48;
    CountedList counted;
    const auto engine = FFmpegEngine::overList(BundledFFmpeg(fake.ffmpeg()), std::make_shared<testing::FixedProber>(h264),
                                               counted.list({"libx264", "aac"}));

    // H.264 cannot be stored in WebM: the job is re-encoded, and this ffmpeg has no VP9.
    const auto job = mediaJob(source, dir / "out.webm", "mp4", "webm", withTool(std::nullopt));
    ASSERT_TRUE(engine.canHandle(job));
    EXPECT_EQ(*counted.reads, 0);
    try {
        engine.convert(job, nullptr, {});
        ADD_FAILURE() << "converted without an encoder";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::unsupportedCombination);
        EXPECT_EQ(error.shortDescription(), ConversionError::unsupportedCombination("MP4", "WebM").shortDescription());
    }
    EXPECT_EQ(*counted.reads, 1);
    EXPECT_EQ(fake.runCount("ffmpeg"), 0);
    EXPECT_FALSE(fs::exists(dir / "out.webm"));
}

TEST(FFmpegEncoderCheck, ARealRemuxNeverAsksForTheEncoders) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const fs::path clip = testing::makeClip(dir / "clip.mp4", {.codecArguments = {"-c:v", "libx264", "-c:a", "aac"}});
    CountedList counted;
    const auto engine = FFmpegEngine::overList(BundledFFmpeg::inBundle(), nullptr, counted.list({}));
    for (const auto& [to, options] : {std::pair{"mkv", withTool(std::nullopt)}, std::pair{"mp4", withTool("trim")}}) {
        auto job = mediaJob(clip, dir / (std::string("out.") + to), "mp4", to, options);
        // After the last picture: a copy can end there exactly, B-frames or not.
        if (job.options.tool == "trim") job.options.trimEnd = 0.45;
        ASSERT_TRUE(engine.canHandle(job));
        const auto outcome = engine.convertReporting(job, nullptr, {});
        EXPECT_TRUE(outcome.usedPassthrough) << to;
        EXPECT_EQ(testing::probeEntry(outcome.outputs.at(0), "stream=codec_name", "v"), "h264") << to;
    }
    EXPECT_EQ(*counted.reads, 0);
}

}  // namespace
}  // namespace kolvex
