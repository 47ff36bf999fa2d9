// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numeric>
#include <future>
#include <stop_token>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/ffmpeg/preview/FrameScrubber.h"
#include "core/ffmpeg/preview/MediaFacts.h"
#include "core/ffmpeg/preview/WaveformSampler.h"
#include "core/format/ConversionError.h"
#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::makeClip;
using testing::TempDir;

// Runs ffmpeg with `args` and returns its standard output bytes; fails the test on an error.
std::string ffmpeg(std::vector<std::string> args) {
    args.insert(args.begin(), {"-nostdin", "-hide_banner", "-loglevel", "error", "-y"});
    const auto result = ProcessRunner().run(testing::systemFFmpeg(), args, std::chrono::seconds(60), nullptr, nullptr);
    EXPECT_TRUE(result.succeeded()) << result.standardError();
    return result.standardOutputData;
}

fs::path audio(const TempDir& dir, const std::string& name, const std::string& source) {
    return testing::makeMedia(dir / name, {"-f", "lavfi", "-i", source});
}

// What the sheets read of a FIFO or a link to a device is refused at once: a reader in open()
// on a FIFO waits for a writer, out of reach of any stop. Should one wait after all, a writer
// that comes and goes frees it, so the test ends either way.
TEST(MediaPreviewSources, WhatIsNoRegularFileIsRefusedAtOnce) {
    TempDir dir;
    const fs::path fifo = dir / "pipe.mp4";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path device = dir / "zero.wav";
    fs::create_symlink("/dev/zero", device);
    const FFmpegMediaFacts facts;
    for (const fs::path& file : {fifo, device}) {
        SCOPED_TRACE(file.filename().string());
        const auto started = std::chrono::steady_clock::now();
        auto reads = std::async(std::launch::async, [&] {
            std::string refused;
            try {
                (void)facts.probe(file, {});
            } catch (const ConversionError& error) {
                refused = error.shortDescription();
            }
            EXPECT_EQ(facts.keyframes(file, {}).times(), KeyframeIndex{}.times());
            EXPECT_FALSE(facts.waveform(file, {}).has_value());
            EXPECT_FALSE(FrameScrubber::duration(file).has_value());
            EXPECT_FALSE(FrameScrubber::videoFrame(file).has_value());
            EXPECT_FALSE(FrameScrubber(file, 64, 64).decode(0).has_value());
            return refused;
        });
        const bool atOnce = reads.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        while (reads.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
            const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (writer >= 0) ::close(writer);
        }
        EXPECT_TRUE(atOnce) << "a reader waited on the file";
        EXPECT_EQ(reads.get(), "Can't read " + file.filename().string());
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    }
}

TEST(WaveformSamplerTest, NormalisesPeaksToTheLoudestBucket) {
    KOLVEX_REQUIRE_FFMPEG();
    TempDir dir;
    const auto file = audio(dir, "tone -1.wav", "aevalsrc=0.5*sin(2*PI*440*t)*lt(t\\,0.5):s=8000:d=1");
    const auto peaks = WaveformSampler::peaks(file, 500);
    ASSERT_TRUE(peaks.has_value());
    ASSERT_EQ(peaks->size(), 500u);
    EXPECT_FLOAT_EQ(*std::max_element(peaks->begin(), peaks->end()), 1.0f);
    EXPECT_GT(peaks->front(), 0.5f);
    EXPECT_LT(peaks->back(), 0.01f);  // the second half is silent
}

TEST(WaveformSamplerTest, ShortFilesGetOneFramePerBucket) {
    KOLVEX_REQUIRE_FFMPEG();
    TempDir dir;
    const auto file = audio(dir, "short.wav", "aevalsrc=0.5:s=8000:d=0.0125");  // 100 frames
    const auto peaks = WaveformSampler::peaks(file, 500);
    ASSERT_TRUE(peaks.has_value());
    EXPECT_EQ(peaks->size(), 100u);
    EXPECT_FLOAT_EQ(peaks->at(50), 1.0f);
}

TEST(WaveformSamplerTest, SilenceStaysUnscaledAndEveryChannelCounts) {
    KOLVEX_REQUIRE_FFMPEG();
    TempDir dir;
    const auto silent = audio(dir, "silent.wav", "anullsrc=r=8000:cl=mono:d=0.5");
    auto peaks = WaveformSampler::peaks(silent, 50);
    ASSERT_TRUE(peaks.has_value());
    EXPECT_EQ(peaks->size(), 50u);
    EXPECT_FLOAT_EQ(*std::max_element(peaks->begin(), peaks->end()), 0.0f);

    // Only the right channel carries a (tiny) signal: it must show, unscaled.
    const auto stereo = audio(dir, "right.wav", "aevalsrc=0|0.0008:s=8000:d=0.5");
    peaks = WaveformSampler::peaks(stereo, 10);
    ASSERT_TRUE(peaks.has_value());
    EXPECT_NEAR(peaks->at(3), 0.0008f, 0.00005f);
}

TEST(WaveformSamplerTest, FilesWithoutAudioGiveNothing) {
    KOLVEX_REQUIRE_FFMPEG();
    TempDir dir;
    const auto text = dir.path() / "notes.wav";
    std::ofstream(text) << "not audio at all";
    EXPECT_FALSE(WaveformSampler::peaks(text, 500).has_value());
    EXPECT_FALSE(WaveformSampler::peaks(dir.path() / "missing.wav", 500).has_value());
    testing::ClipSpec clipSpec;
    clipSpec.audio = false;
    const auto video = makeClip(dir.path() / "silent.mp4", clipSpec);
    EXPECT_FALSE(WaveformSampler::peaks(video, 500).has_value());
}

double meanDifference(const VideoFrame& frame, const std::string& rgba) {
    if (frame.rgba.size() != rgba.size()) return 255;
    double sum = 0;
    for (size_t i = 0; i < rgba.size(); ++i)
        sum += std::abs(int(frame.rgba[i]) - int(static_cast<unsigned char>(rgba[i])));
    return sum / static_cast<double>(rgba.size());
}

TEST(FrameScrubberTest, DecodesTheFrameAtTheExactTime) {
    KOLVEX_REQUIRE_FFMPEG();
    TempDir dir;
    testing::ClipSpec clipSpec;
    clipSpec.seconds = 2;
    clipSpec.audio = false;
    clipSpec.codecArguments = {"-g", "10"};  // keyframes a second apart: seeks land before the time
    const auto clip = makeClip(dir.path() / "-clip.mp4", clipSpec);
    FrameScrubber scrubber(clip, 900, 900);

    const auto late = scrubber.decode(1.5);
    const auto exact = scrubber.decode(0.7);  // seeks back, then decodes forward from a keyframe
    ASSERT_TRUE(late && exact);
    EXPECT_EQ(exact->width, 64);
    EXPECT_EQ(exact->height, 48);
    const auto reference = ffmpeg({"-i", clip.string(), "-ss", "0.7", "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                                   "rgba", "-"});
    EXPECT_LT(meanDifference(*exact, reference), 4.0);
    const auto neighbour = ffmpeg({"-i", clip.string(), "-ss", "0.8", "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                                   "rgba", "-"});
    EXPECT_GT(meanDifference(*exact, neighbour), meanDifference(*exact, reference));

    const auto negative = scrubber.decode(-3);
    const auto first = scrubber.decode(0);
    ASSERT_TRUE(negative && first);
    EXPECT_EQ(negative->rgba, first->rgba);
}

TEST(FrameScrubberTest, FitsLargeFramesAndTurnsThemUpright) {
    KOLVEX_REQUIRE_FFMPEG();
    TempDir dir;
    testing::ClipSpec wide;
    wide.width = 2000;
    wide.height = 100;
    wide.seconds = 0.2;
    wide.audio = false;
    const auto clip = makeClip(dir.path() / "wide.mp4", wide);
    auto frame = FrameScrubber(clip, 900, 900).decode(0);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, 900);
    EXPECT_EQ(frame->height, 45);

    testing::ClipSpec upright;
    upright.audio = false;
    const auto plain = makeClip(dir.path() / "plain.mp4", upright);
    const auto rotated = dir.path() / "rotated.mp4";
    ffmpeg({"-i", plain.string(), "-c", "copy", "-metadata:s:v:0", "rotate=90", rotated.string()});
    if (testing::probeEntry(rotated, "stream_side_data=rotation", "v:0").empty())
        GTEST_SKIP() << "this ffmpeg writes no display rotation";
    frame = FrameScrubber(rotated, 900, 900).decode(0.1);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, 48);
    EXPECT_EQ(frame->height, 64);
}

TEST(FrameScrubberTest, ProvidersAndStills) {
    KOLVEX_REQUIRE_FFMPEG();
    TempDir dir;
    testing::ClipSpec clipSpec;
    clipSpec.seconds = 3;
    clipSpec.framesPerSecond = 5;
    const auto clip = makeClip(dir.path() / "clip with spaces.mkv", clipSpec);
    EXPECT_EQ(FrameScrubber::provider(clip, false), nullptr);
    auto provider = FrameScrubber::provider(clip, true);
    ASSERT_TRUE(provider);
    const auto a = provider(0.4, {});
    const auto b = provider(2.2, {});
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->rgba, b->rgba);

    const auto still = FrameScrubber::videoFrame(clip);
    const auto atOne = provider(1.0, {});
    ASSERT_TRUE(still && atOne);
    EXPECT_EQ(still->rgba, atOne->rgba);

    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_FALSE(provider(1.0, stopped.get_token()).has_value());

    const auto sound = audio(dir, "tone.wav", "sine=d=0.3");
    EXPECT_FALSE(FrameScrubber(sound, 900, 900).decode(0).has_value());
    const auto text = dir.path() / "fake.mp4";
    std::ofstream(text) << "no video here";
    EXPECT_FALSE(FrameScrubber(text, 900, 900).decode(0).has_value());
    EXPECT_FALSE(FrameScrubber::videoFrame(text).has_value());
}

}  // namespace
}  // namespace kolvex
