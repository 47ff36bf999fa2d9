// SPDX-License-Identifier: GPL-3.0-or-later
// Merges of 2, 3 and 6 alike clips in every container and codec a merge takes, and of mixed clips,
// judged by ffprobe and full decodes: each stream lasts the sum of its clips, and the sound meets
// the pictures at every join, within one coded sound frame, with no silence between clips.
#include <numeric>
#include <set>
#include <stdexcept>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/ffmpeg/FFmpegEngine.h"
#include "core/services/Preferences.h"
#include "JoinMarks.h"
#include "MediaReport.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::decodedStream;
using testing::JoinMarks;
using testing::MediaReport;

// Two lengths, so that the joins fall on different places within the coded frames.
constexpr double kShort = 1.0;
constexpr double kLong = 1.36;
constexpr double kSilent = 1.2;

struct Kind {
    std::string name;
    std::string extension;  // also the target format's id
    std::vector<std::string> codec;
    bool video;
    int sampleRate;
    int frameSamples;  // one coded sound frame; 1 for PCM, FLAC and ALAC, which are cut to the sample
    bool copied;       // the merge copies (at least the pictures)
    std::string sound;  // the sound's codec, as ffprobe names it
};

const std::vector<std::string> kH264 = {"-c:v", "libx264", "-bf", "2", "-g", "25", "-c:a", "aac"};

bool lossless(const std::string& codec) { return codec == "alac" || codec == "flac" || codec.starts_with("pcm_"); }

// One kind per container and codec the manifest's merge takes: every sound codec a sound
// container may hold, and the usual codecs of each video container.
const std::vector<Kind>& kinds() {
    const auto sound = [](std::string name, std::string extension, std::string codec, std::string encoder, int frame,
                          bool copied, int rate = 44100) {
        return Kind{std::move(name), std::move(extension), {"-c:a", std::move(encoder)}, false, rate, frame, copied,
                    std::move(codec)};
    };
    static const std::vector<Kind> all = {
        {"MP4", "mp4", kH264, true, 44100, 1024, true, "aac"},
        {"M4V", "m4v", {"-c:v", "libx264", "-bf", "2", "-g", "25", "-c:a", "aac", "-f", "mp4"}, true, 44100, 1024, true, "aac"},
        {"MOV", "mov", kH264, true, 44100, 1024, true, "aac"},
        {"MKV", "mkv", kH264, true, 44100, 1024, true, "aac"},
        {"WebM", "webm", {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-g", "25", "-c:a", "libopus"},
         true, 48000, 960, true, "opus"},
        {"HEVC in MP4", "mp4",
         {"-c:v", "libx265", "-x265-params", "log-level=error:bframes=2:keyint=25", "-tag:v", "hvc1", "-c:a", "aac"},
         true, 44100, 1024, true, "aac"},
        // As AVI writers write them: the pictures from the first slot, the sound with its
        // encoder's delay at its head (ffmpeg's own default moves the pictures instead).
        {"AVI", "avi", {"-c:v", "libx264", "-bf", "2", "-g", "25", "-c:a", "aac", "-avoid_negative_ts", "disabled"}, true,
         44100, 1024, false, "aac"},
        {"AVI MPEG-4", "avi",
         {"-c:v", "mpeg4", "-bf", "2", "-q:v", "3", "-g", "25", "-c:a", "libmp3lame", "-avoid_negative_ts", "disabled"},
         true, 44100, 1152, false, "mp3"},
        sound("MP3", "mp3", "mp3", "libmp3lame", 1152, false),
        sound("M4A", "m4a", "aac", "aac", 1024, false),
        sound("ALAC", "m4a", "alac", "alac", 1, false),
        // Bare AAC states neither its encoder's delay nor its length.
        sound("AAC", "aac", "aac", "aac", 1024, false),
        sound("WAV", "wav", "pcm_s16le", "pcm_s16le", 1, true),
        sound("WAV 24", "wav", "pcm_s24le", "pcm_s24le", 1, true),
        sound("WAV 32", "wav", "pcm_s32le", "pcm_s32le", 1, true),
        sound("WAV float", "wav", "pcm_f32le", "pcm_f32le", 1, true),
        sound("WAV 8", "wav", "pcm_u8", "pcm_u8", 1, true),
        sound("AIFF", "aiff", "pcm_s16be", "pcm_s16be", 1, true),
        sound("AIFF 24", "aiff", "pcm_s24be", "pcm_s24be", 1, true),
        sound("AIFF sowt", "aiff", "pcm_s16le", "pcm_s16le", 1, true),
        sound("FLAC", "flac", "flac", "flac", 1, false),
        sound("Ogg Vorbis", "ogg", "vorbis", "libvorbis", 2048, false),
        sound("Ogg Opus", "ogg", "opus", "libopus", 960, false, 48000),
        sound("Ogg FLAC", "ogg", "flac", "flac", 1, false),
        sound("Opus", "opus", "opus", "libopus", 960, false, 48000),
    };
    return all;
}

// Every format the manifest lets the user merge has kinds, and a sound format a kind for every
// codec it may hold: a format or codec added to the manifest without one fails here.
TEST(MergeMatrixKinds, CoverEveryFormatAndSoundTheManifestMerges) {
    std::set<std::pair<std::string, std::string>> rows;
    std::set<std::string> containers;
    for (const auto& kind : kinds()) {
        rows.emplace(kind.extension, kind.sound);
        containers.insert(kind.extension);
    }
    for (const auto& format : testing::mediaSourcesOf("merge")) {
        EXPECT_TRUE(containers.contains(format)) << "merge takes " << format << ", which has no kind";
        for (const auto& codec : testing::soundCodecsOf(format))
            EXPECT_TRUE(rows.contains({format, codec})) << "merge takes " << codec << " in " << format << ", which has no kind";
    }
}

const Kind& kindNamed(const std::string& name) {
    for (const auto& each : kinds())
        if (each.name == name) return each;
    throw std::invalid_argument(name);
}

ConversionOptions merging() {
    ConversionOptions options = Preferences{}.conversionOptions(FormatCategory::video);
    options.tool = "merge";
    return options;
}

class MergeMatrix : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testing::haveFFmpeg()) return;
        s_dir = new testing::TempDir;
        for (const auto& kind : kinds())
            for (const double seconds : {kShort, kLong}) make(clipName(kind, seconds), kind, seconds, true);
        make("silent.mp4", kindNamed("MP4"), kSilent, false);
        Kind deep = kindNamed("WAV");
        deep.codec = {"-c:a", "pcm_s24le"};
        make("24 bit.wav", deep, kLong, true);
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override { KOLVEX_REQUIRE_FFMPEG(); }

    static std::string clipName(const Kind& kind, double seconds) {
        return fmt::format("{} {}.{}", kind.name, seconds, kind.extension);
    }
    static void make(const std::string& name, const Kind& kind, double seconds, bool sound) {
        std::vector<std::string> args;
        if (kind.video) args = JoinMarks::pictureSource(seconds, 25);
        if (sound) {
            const auto more = JoinMarks::soundSource(seconds, kind.sampleRate);
            args.insert(args.end(), more.begin(), more.end());
        }
        args.insert(args.end(), kind.codec.begin(), kind.codec.end());
        if (!sound) args.push_back("-an");
        testing::makeMedia(*s_dir / name, args);
    }

    ConversionOutcome merge(const std::vector<std::string>& names, const std::string& to) {
        const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
        const std::string from = fs::path(names.front()).extension().string().substr(1);
        auto job = testing::mediaJob(*s_dir / names.front(), m_out / ("merged." + to), from, to, merging());
        for (size_t i = 1; i < names.size(); ++i) job.additionalSources.push_back(*s_dir / names[i]);
        return engine.convertReporting(job, nullptr, {});
    }

    static inline testing::TempDir* s_dir = nullptr;
    testing::TempDir m_out;
};

// Every kind, 2, 3 and 6 clips of two lengths taking turns; a row per count, so that each runs
// (and is timed) on its own.
class MergeMatrixJoins : public MergeMatrix, public ::testing::WithParamInterface<size_t> {};

TEST_P(MergeMatrixJoins, AlikeClipsMeetTheirSoundAtEveryJoin) {
    for (const auto& kind : kinds()) {
        {
            const size_t count = GetParam();
            SCOPED_TRACE(fmt::format("{} \u00D7 {}", kind.name, count));
            std::vector<std::string> names;
            std::vector<double> starts;  // where each clip should begin
            double total = 0;
            for (size_t i = 0; i < count; ++i) {
                const double seconds = i % 2 == 0 ? kShort : kLong;
                names.push_back(clipName(kind, seconds));
                starts.push_back(total);
                total += seconds;
            }
            const auto outcome = merge(names, kind.extension);
            EXPECT_EQ(outcome.usedPassthrough, kind.copied);
            // Copied pictures with lossy sound re-encoded at the joins: the report says so.
            const bool lossySound = kind.sound == "aac" || kind.sound == "mp3" || kind.sound == "opus";
            if (kind.copied && kind.video && lossySound) {
                EXPECT_NE(outcome.note.value_or("").find("the sound is re-encoded"), std::string::npos)
                    << outcome.note.value_or("(no note)");
            }
            const fs::path out = outcome.outputs.at(0);
            EXPECT_EQ(MediaReport::of(out).decodeErrors, "");
            // Lossless sources stay lossless.
            if (lossless(kind.sound)) {
                EXPECT_EQ(testing::probeEntry(out, "stream=codec_name", "a:0"), kind.sound);
            }
            // One coded frame, and the burst's first loud sample.
            const double frame = double(kind.frameSamples) / kind.sampleRate + 1e-3;

            const JoinMarks marks = JoinMarks::of(out);
            ASSERT_EQ(marks.bursts.size(), count);
            for (size_t i = 0; i < count; ++i)
                EXPECT_NEAR(marks.bursts[i] - marks.bursts[0], starts[i], frame)
                    << "sound of clip " << i + 1;
            if (kind.video) {
                ASSERT_EQ(marks.pictures.size(), count);
                for (size_t i = 0; i < count; ++i) {
                    // A re-encoded merge is made at 30 pictures a second: each join lies on that grid.
                    EXPECT_NEAR(marks.pictures[i] - marks.pictures[0], starts[i], kind.copied ? 1e-3 : 1.0 / 30 + 1e-3)
                        << "picture of clip " << i + 1;
                    EXPECT_NEAR(marks.bursts[i], marks.pictures[i], frame) << "sound against picture of clip " << i + 1;
                }
                const auto pictures = decodedStream(out, "v:0");
                EXPECT_NEAR(pictures.seconds(), total, 1.0 / 25 + 1e-3);
                // The sound ends with the pictures (a decoder may add the last frame's padding).
                EXPECT_NEAR(marks.soundStart + marks.soundSeconds, pictures.end, frame);
            } else {
                // A bare AAC output plays its own encoder's delay and padding too (up to two
                // frames, at its ends), and each clip keeps the fading ring of its last sound.
                EXPECT_NEAR(marks.soundSeconds, total, kind.extension == "aac" ? 3 * frame : frame);
            }
            for (const auto& hole : marks.holes) ADD_FAILURE() << "silence of " << hole.seconds << " s at " << hole.start;
            fs::remove(out);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Clips, MergeMatrixJoins, ::testing::Values(size_t{2}, size_t{3}, size_t{6}));

// A clip without sound takes its length in silence, wherever it stands; the others' sound
// stays with their pictures.
TEST_F(MergeMatrix, AClipWithoutSoundGetsSilence) {
    const std::string a = clipName(kindNamed("MP4"), kShort), b = clipName(kindNamed("MP4"), kLong);
    struct Case {
        std::string name;
        std::vector<std::string> clips;
        std::vector<size_t> sounded;  // which clips have sound
        size_t silent;
    };
    const std::vector<Case> cases = {
        {"between two", {a, "silent.mp4", b}, {0, 2}, 1},
        {"first", {"silent.mp4", a}, {1}, 0},
        {"last", {b, "silent.mp4"}, {0}, 1},
    };
    const double frame = 1024.0 / 44100 + 1e-3;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto outcome = merge(c.clips, "mp4");
        const fs::path out = outcome.outputs.at(0);
        const MediaReport report = MediaReport::of(out);
        EXPECT_EQ(report.decodeErrors, "");
        ASSERT_EQ(report.ofType("audio").size(), 1u);
        const JoinMarks marks = JoinMarks::of(out);
        ASSERT_EQ(marks.pictures.size(), c.clips.size());
        ASSERT_EQ(marks.bursts.size(), c.sounded.size());
        for (size_t i = 0; i < c.sounded.size(); ++i)
            EXPECT_NEAR(marks.bursts[i], marks.pictures[c.sounded[i]], frame) << "clip " << c.sounded[i] + 1;
        if (c.silent == 0) {
            // Silence from the start up to the second clip's sound.
            EXPECT_TRUE(marks.holes.empty());
            EXPECT_NEAR(marks.soundStart, marks.pictures[0], frame);
        } else {
            ASSERT_EQ(marks.holes.size(), 1u);
            EXPECT_NEAR(marks.holes[0].start, marks.pictures[c.silent], frame);
            EXPECT_NEAR(marks.holes[0].seconds, kSilent, frame);
        }
        const double pictures = decodedStream(out, "v:0").seconds();
        EXPECT_NEAR(marks.soundSeconds, pictures, frame);
        fs::remove(out);
    }
}

// Clips that differ are re-encoded to one frame size and rate; each keeps its sound with its
// pictures, however its container times them (a Matroska picture starting after the sound's
// encoder delay, WebM sound starting before its pictures).
TEST_F(MergeMatrix, MixedClipsKeepTheirSoundWithTheirPictures) {
    const Kind& mp4 = kindNamed("MP4");
    const Kind& mkv = kindNamed("MKV");
    const Kind& webm = kindNamed("WebM");
    struct Case {
        std::string name;
        std::vector<std::string> clips;
        std::string to;
    };
    const std::vector<Case> cases = {
        {"MKV, MP4, WebM into MP4", {clipName(mkv, kShort), clipName(mp4, kLong), clipName(webm, kShort)}, "mp4"},
        {"WebM, MKV into WebM", {clipName(webm, kLong), clipName(mkv, kShort), clipName(webm, kShort)}, "webm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto outcome = merge(c.clips, c.to);
        EXPECT_FALSE(outcome.usedPassthrough);
        const fs::path out = outcome.outputs.at(0);
        EXPECT_EQ(MediaReport::of(out).decodeErrors, "");
        const JoinMarks marks = JoinMarks::of(out);
        ASSERT_EQ(marks.pictures.size(), c.clips.size());
        ASSERT_EQ(marks.bursts.size(), c.clips.size());
        // Re-encoded, each picture and each sample keeps its time: to the containers' milliseconds.
        for (size_t i = 0; i < c.clips.size(); ++i)
            EXPECT_NEAR(marks.bursts[i], marks.pictures[i], 0.003) << "clip " << i + 1;
        for (const auto& hole : marks.holes) ADD_FAILURE() << "silence of " << hole.seconds << " s at " << hole.start;
        fs::remove(out);
    }
}

// 16- and 24-bit WAV join at the deeper depth, every sample kept.
TEST_F(MergeMatrix, WavOfTwoDepthsKeepsTheDeeper) {
    const auto outcome = merge({clipName(kindNamed("WAV"), kShort), "24 bit.wav"}, "wav");
    const fs::path out = outcome.outputs.at(0);
    EXPECT_EQ(MediaReport::of(out).decodeErrors, "");
    EXPECT_EQ(testing::probeEntry(out, "stream=codec_name", "a:0"), "pcm_s24le");
    EXPECT_EQ(testing::probeEntry(out, "stream=bits_per_sample", "a:0"), "24");
    EXPECT_EQ(decodedStream(out, "a:0").samples, std::lround((kShort + kLong) * 44100));
    const JoinMarks marks = JoinMarks::of(out);
    ASSERT_EQ(marks.bursts.size(), 2u);
    EXPECT_NEAR(marks.bursts[1] - marks.bursts[0], kShort, 1e-3);
    EXPECT_TRUE(marks.holes.empty());
}

}  // namespace
}  // namespace kolvex
