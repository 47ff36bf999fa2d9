// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/PassthroughPlanner.h"

#include <gtest/gtest.h>

#include "core/services/Preferences.h"

#include "core/ffmpeg/ContainerCompatibility.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

using Decision = PassthroughPlanner::Decision;

MediaProbe probeOf(std::optional<std::string> video, std::optional<std::string> audio) {
    MediaProbe probe;
    probe.videoCodec = std::move(video);
    probe.audioCodec = std::move(audio);
    return probe;
}

TEST(ContainerCompatibility, AnswersByExactContainerAndLowerCasedCodec) {
    EXPECT_TRUE(ContainerCompatibility::accepts("AAC", "mp4"));
    EXPECT_FALSE(ContainerCompatibility::accepts("aac", "MP4"));
    EXPECT_FALSE(ContainerCompatibility::accepts("h264", "gif"));
    EXPECT_TRUE(ContainerCompatibility::accepts("pcm_s16le", "aiff"));
    // Only what ffmpeg's AIFF writer takes: 24-bit samples big-endian.
    EXPECT_FALSE(ContainerCompatibility::accepts("pcm_s24le", "aiff"));
    EXPECT_TRUE(ContainerCompatibility::isKnownContainer("mkv"));
    EXPECT_FALSE(ContainerCompatibility::isKnownContainer("gif"));

    const std::vector<std::pair<std::string, std::optional<std::string>>> audio = {
        {"aac", "m4a"},  {"alac", "m4a"},      {"mp3", "mp3"},       {"flac", "flac"},   {"pcm_s16le", "wav"},
        {"pcm_s24le", "wav"}, {"pcm_s16be", "aiff"}, {"pcm_s24be", "aiff"}, {"opus", "opus"}, {"vorbis", "ogg"},
        {"ac3", std::nullopt},
    };
    for (const auto& [codec, container] : audio) {
        const auto found = ContainerCompatibility::audioContainer(codec);
        EXPECT_EQ(found ? std::optional(found->rawValue) : std::nullopt, container) << codec;
    }
}

MediaProbe rotated(MediaProbe probe) {
    probe.rotation = 90;
    return probe;
}

TEST(PassthroughPlanner, DecidesInTheOrderOfItsRules) {
    const std::string dash = "\u2014";
    struct Case {
        const char* name;
        std::string from, to;
        MediaProbe probe;
        ConversionOptions options;
        Decision expected;
    };
    auto with = [](auto change) {
        ConversionOptions options = ConversionOptions::defaults();
        change(options);
        return options;
    };
    const auto defaults = ConversionOptions::defaults();
    const Case cases[] = {
        {"remux", "mp4", "mov", probeOf("h264", "aac"), defaults,
         Decision::passthrough(false, "container rewrite " + dash + " h264 copied without re-encoding")},
        {"audio the target cannot hold", "mkv", "mp4", probeOf("h264", "ac3"), defaults,
         Decision::reencode("ac3 cannot be stored in MP4")},
        {"vp9 to webm", "mkv", "webm", probeOf("vp9", "opus"), defaults,
         Decision::passthrough(false, "container rewrite " + dash + " vp9 copied without re-encoding")},
        // The user's MKV holds its DTS: what cannot be done is an exact copy, not storing it.
        {"sound its own container holds", "mkv", "mkv", probeOf("h264", "dts"), defaults,
         Decision::reencode("dts in MKV cannot be copied exactly")},
        {"vp9 to mp4", "mkv", "mp4", probeOf("vp9", "opus"), defaults, Decision::reencode("vp9 cannot be stored in MP4")},
        {"audio copied out", "mp4", "m4a", probeOf("h264", "aac"), defaults,
         Decision::passthrough(true, "copying the aac track out")},
        {"audio re-encoded", "mp4", "mp3", probeOf("h264", "aac"), defaults, Decision::reencode("aac cannot be stored in MP3")},
        {"capitals", "mp4", "mp4", probeOf("H264", std::nullopt), defaults,
         Decision::passthrough(false, "container rewrite " + dash + " H264 copied without re-encoding")},
        {"trim copies", "mp4", "mp4", probeOf("h264", "aac"), with([](auto& o) { o.tool = "trim"; o.trimStart = 1; o.trimEnd = 2; }),
         Decision::passthrough(false, "container rewrite " + dash + " h264 copied without re-encoding")},
        {"compress", "mp4", "mp4", probeOf("h264", "aac"), with([](auto& o) { o.tool = "compress"; }),
         Decision::reencode("output content differs from the source")},
        {"normalize", "mp3", "mp3", probeOf(std::nullopt, "mp3"), with([](auto& o) { o.tool = "normalize"; }),
         Decision::reencode("output content differs from the source")},
        {"quality", "mp4", "mp4", probeOf("h264", "aac"), with([](auto& o) { o.quality = 0.8; }),
         Decision::reencode("output content differs from the source")},
        {"disabled", "mp4", "mov", probeOf("h264", "aac"), with([](auto& o) { o.allowPassthrough = false; }),
         Decision::reencode("passthrough disabled by request")},
        {"gif", "mp4", "gif", probeOf("h264", "aac"), defaults, Decision::reencode("GIF container compatibility unknown")},
        {"no video", "mp3", "mp4", probeOf(std::nullopt, "mp3"), defaults, Decision::reencode("no video track")},
        {"no audio", "mp4", "m4a", probeOf("h264", std::nullopt), defaults, Decision::reencode("no audio track to extract")},
        // The preferences' settings are for when a re-encode is needed; they do not ask for one.
        {"ring remux", "mp4", "mkv", probeOf("h264", "aac"), Preferences{}.conversionOptions(FormatCategory::video),
         Decision::passthrough(false, "container rewrite " + dash + " h264 copied without re-encoding")},
        {"ring audio out", "mp4", "m4a", probeOf("h264", "aac"), Preferences{}.conversionOptions(FormatCategory::video),
         Decision::passthrough(true, "copying the aac track out")},
        {"ring re-encode", "mkv", "mp4", probeOf("h264", "ac3"), Preferences{}.conversionOptions(FormatCategory::video),
         Decision::reencode("ac3 cannot be stored in MP4")},
        {"rotation kept", "mp4", "mov", rotated(probeOf("h264", "aac")), defaults,
         Decision::passthrough(false, "container rewrite " + dash + " h264 copied without re-encoding")},
        {"rotation lost", "mp4", "mkv", rotated(probeOf("h264", "aac")), defaults,
         Decision::reencode("the picture's rotation cannot be stored in MKV")},
        {"flac trim", "flac", "flac", probeOf(std::nullopt, "flac"), with([](auto& o) { o.tool = "trim"; o.trimEnd = 2; }),
         Decision::reencode("FLAC is re-encoded losslessly so its header states its own length")},
    };
    for (const auto& c : cases) {
        const auto job = testing::mediaJob("/in." + c.from, "/out." + c.to, c.from, c.to, c.options);
        const auto decision = PassthroughPlanner::decide(job, c.probe);
        EXPECT_EQ(decision, c.expected) << c.name << ": " << decision.reason;
        EXPECT_EQ(decision.isPassthrough(), c.expected.isPassthrough()) << c.name;
    }
}

}  // namespace
}  // namespace kolvex
