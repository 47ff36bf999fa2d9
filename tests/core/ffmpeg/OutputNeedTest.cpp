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

// What a container adds to `bytes` of streams: 3 % framing on stated rates (`rated` of
// them) and 8 KiB of header and index.
int64_t framed(double rated, double unrated = 0) { return static_cast<int64_t>(rated * 1.03 + unrated) + (8 << 10); }

// What a run writes, from its command line and span: sound as PCM by its rate, channels and
// sample size; a copy by the source's bytes over the span; encoders by the rates asked of them,
// in their container's framing.
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
              framed(3'000'000));
    // Rates asked of the encoders: 8700 kb/s of pictures and 192 kb/s of sound for 10 s.
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp4", "-c:v", "libvpx-vp9", "-b:v", "8700k", "-c:a", "libopus", "-b:a",
                                   "192k", "a.webm"},
                                  probe, 10, 1),
              framed(11'115'000));
    // Every sample kept (FLAC, ALAC): three fifths of what the samples take as PCM.
    EXPECT_EQ(OutputNeed::planned({"-i", "a.wav", "-c:a", "flac", "a.flac"}, probe, 10, 1'600'000), int64_t{1'058'400});
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp3", "-c:a", "pcm_s16le", "a.wav"}, probe, 0, 1), std::nullopt);
}

// Pictures encoded at a constant quality state no rate: they cost what the source spends on its
// own pictures, and two fifths more, whenever the volume filled.
TEST(OutputNeed, PicturesAtAConstantQualityCostWhatTheSourceSpendsOnThem) {
    MediaProbe film = stereo(48000, 20);
    film.videoCodec = "h264";
    film.audioBitrate = 128'000;
    // 20 s in 12.8 MB: 5120 kb/s, 4992 of them pictures; 8 s of them, and 192 kb/s of sound.
    const int64_t source = 12'800'000;
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp4", "-c:v", "libx264", "-c:a", "aac", "-b:a", "192k", "a.mp4"}, film, 8, source),
              framed(192'000, 4'992'000 * 7 / 5));
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp4", "-c:v", "libvpx-vp9", "-an", "a.webm"}, film, 8, source),
              framed(0, 4'992'000 * 7 / 5));
    // A compress copies the sound: at its own rate.
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp4", "-c:v", "libx264", "-c:a", "copy", "a.mp4"}, film, 8, source),
              framed(0, 4'992'000 * 7 / 5 + 128'000));
    // A rate asked of the encoder is what it spends.
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp4", "-c:v", "libx264", "-b:v", "1000k", "-an", "a.mp4"}, film, 8, source),
              framed(1'000'000));
    // A still picture, a source with no pictures, or no length to tell a rate by: the sound alone.
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp4", "-frames:v", "1", "-c:v", "libx264", "a.mp4"}, film, 8, source),
              std::nullopt);
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp4", "-c:v", "libx264", "-c:a", "aac", "-b:a", "128k", "a.mp4"},
                                  stereo(48000, 20), 8, source),
              framed(128'000));
    MediaProbe endless = film;
    endless.durationSeconds.reset();
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp4", "-c:v", "libx264", "a.mp4"}, endless, 8, source), std::nullopt);
    // Pictures each stored whole (MJPEG) cost an encoder that draws on the pictures around them a
    // fraction of what they took: a quarter of a bit a pixel, 480 kb/s for 320×240 at 25.
    MediaProbe stills = film;
    stills.videoCodec = "mjpeg";
    stills.width = 320;
    stills.height = 240;
    stills.frameRate = "25/1";
    EXPECT_EQ(OutputNeed::planned({"-i", "a.avi", "-c:v", "libx264", "-an", "a.mp4"}, stills, 8, source),
              framed(0, 480'000));
    // A source too small to tell a rate costs no less than the least a film takes.
    EXPECT_EQ(OutputNeed::planned({"-i", "a.mp4", "-c:v", "libx264", "-an", "a.mp4"}, film, 8, 1000),
              framed(0, 120'000 * 7 / 5));
}

// When the volume fills, the need is the most of what ffmpeg's failure said, the output's growth
// (which errs low: the encoder holds its latest seconds) and its plan.
TEST(OutputNeed, WhenFullTheMostOfWhatIsKnown) {
    // Full at once: nothing grown, the plan.
    EXPECT_EQ(OutputNeed::whenFull(70'000, OutputGrowth(), 10, 5'000'000), OutputNeed::inBlocks(5'000'000));
    // Four seconds of growth at 500 KB a second, past the header: 5 MB for 10 s.
    OutputGrowth grown;
    grown.add(100'000, 1.0);
    grown.add(2'100'000, 5.0);
    EXPECT_EQ(OutputNeed::whenFull(70'000, grown, 10, std::nullopt), OutputNeed::inBlocks(5'000'000));
    EXPECT_EQ(OutputNeed::whenFull(70'000, grown, 10, 4'000'000), OutputNeed::inBlocks(5'000'000));
    EXPECT_EQ(OutputNeed::whenFull(70'000, grown, 10, 8'000'000), OutputNeed::inBlocks(8'000'000));
    // What ffmpeg's failure said stands when it is more; without a length nothing projects.
    EXPECT_EQ(OutputNeed::whenFull(30'000'000, grown, 10, 8'000'000), 30'000'000);
    EXPECT_EQ(OutputNeed::whenFull(70'000, grown, std::nullopt, 8'000'000), 70'000);
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
