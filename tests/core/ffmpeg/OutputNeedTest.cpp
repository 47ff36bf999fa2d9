// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/OutputNeed.h"

#include <gtest/gtest.h>

namespace kolvex {
namespace {

MediaProbe stereo(int64_t rate, double seconds) {
    MediaProbe probe;
    probe.audioCodec = "mp3";
    probe.audioSampleRate = rate;
    probe.audioChannels = 2;
    probe.durationSeconds = seconds;
    return probe;
}

// What a run writes, from its command line and span: sound as PCM by its rate, channels and
// sample size; a copy by the source's bytes over the span; encoders by the rates asked of them.
TEST(OutputNeed, ProjectsWhatTheRunWritesFromItsPlan) {
    const MediaProbe probe = stereo(44100, 100);
    // 100 s of an MP3 as WAV: 44100 × 2 × 2 bytes a second, whatever the MP3 took.
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp3", "-c:a", "pcm_s16le", "a.wav"}, probe, 100, 1'600'000),
              int64_t{17'640'000});
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp3", "-c:a", "pcm_s24le", "-ar", "48000", "-ac", "1", "a.wav"}, probe, 10,
                                  1'600'000),
              int64_t{1'440'000});
    // 30 s copied out of 100 s of 10 MB.
    EXPECT_EQ(OutputNeed::planned({"-ss", "5", "-i", "a.mkv", "-c", "copy", "b.mkv"}, probe, 30, 10'000'000),
              int64_t{3'000'000});
    // Rates asked of the encoders: 8700 kb/s of pictures and 192 kb/s of sound for 10 s.
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp4", "-c:v", "libvpx-vp9", "-b:v", "8700k", "-c:a", "libopus", "-b:a",
                                   "192k", "a.webm"},
                                  probe, 10, 1),
              int64_t{11'115'000});
    // A picture at a constant quality states no rate: its sound is the least it writes.
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp4", "-c:v", "libx264", "-c:a", "aac", "-b:a", "128k", "a.mp4"}, probe, 8, 1),
              int64_t{128'000});
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp4", "-c:v", "libx264", "a.mp4"}, probe, 8, 1), std::nullopt);
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp3", "-c:a", "pcm_s16le", "a.wav"}, probe, 0, 1), std::nullopt);
}

// A split's need is every part's: those written as they are, the rest by their spans at the
// rate the written ones show (else the failing part's own need over its span), never the part
// that found no room alone.
TEST(OutputNeed, ASplitNeedsEveryPart) {
    const std::vector<double> spans = {1, 2, 1, 4};
    // Two parts written, 4096 and 8192 bytes for 3 s: the rest, 5 s, at 4096 a second.
    EXPECT_EQ(OutputNeed::ofSplit(spans, {4096, 8192}, 2, 100), 4096 + 8192 + 4096 + 4 * 4096);
    // None written: the failing part's need of 8192 for its second, 8 s in all.
    EXPECT_EQ(OutputNeed::ofSplit(spans, {}, 0, 8192), 8 * 8192);
    // Rounded up to whole pages per part; the failing part needs at least what it said.
    EXPECT_EQ(OutputNeed::ofSplit({0.5, 0.5}, {}, 0, 100), 4096 + 4096);
    EXPECT_EQ(OutputNeed::inBlocks(1), 4096);
    EXPECT_EQ(OutputNeed::inBlocks(4096), 4096);
}

}  // namespace
}  // namespace kolvex
