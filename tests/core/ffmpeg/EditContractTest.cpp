// SPDX-License-Identifier: GPL-3.0-or-later
// Merges, cuts and trims judged by an independent reader (ffprobe's frame list and a full decode)
// on the inputs people have: two containers or frame rates in one merge, FLAC of two bit depths,
// portrait phone clips, B-frames, partly downloaded files and a playlist named like a video.
#include <numeric>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/ffmpeg/FFmpegEngine.h"
#include "core/ffmpeg/LibavProber.h"
#include "core/services/Preferences.h"
#include "MediaReport.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::decodedStream;
using testing::MediaReport;

constexpr double kAudioFrame = 1024.0 / 44100;  // one AAC frame at 44.1 kHz

ConversionOptions tool(const char* name, auto change) {
    ConversionOptions options = Preferences{}.conversionOptions(FormatCategory::video);
    options.tool = name;
    change(options);
    return options;
}

class EditContract : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testing::haveFFmpeg()) return;
        s_dir = new testing::TempDir;
        const auto clip = [](const char* name, int rate, double seconds, std::vector<std::string> more = {}) {
            std::vector<std::string> args = {"-f", "lavfi", "-i", fmt::format("testsrc2=size=64x48:rate={}:duration={}", rate, seconds),
                                             "-f", "lavfi", "-i", fmt::format("sine=sample_rate=44100:duration={}", seconds),
                                             "-c:v", "libx264", "-bf", "2", "-g", std::to_string(rate), "-keyint_min",
                                             std::to_string(rate), "-sc_threshold", "0", "-c:a", "aac"};
            args.insert(args.end(), more.begin(), more.end());
            testing::makeMedia(*s_dir / name, args);
        };
        // Keyframes every second and B-frames, as phones and cameras write them.
        clip("25.mp4", 25, 2);
        clip("30.mp4", 30, 2);
        clip("long.mp4", 25, 4, {"-movflags", "+faststart"});
        testing::makeMedia(*s_dir / "25.mkv", {"-i", (*s_dir / "25.mp4").string(), "-c", "copy"});
        testing::makeMedia(*s_dir / "portrait.mp4", {"-i", (*s_dir / "25.mp4").string(), "-c", "copy", "-metadata:s:v:0", "rotate=90"});
        const auto flac = [](const char* name, const char* sampleFormat, double seconds) {
            testing::makeMedia(*s_dir / name, {"-f", "lavfi", "-i", fmt::format("sine=sample_rate=44100:duration={}", seconds),
                                               "-c:a", "flac", "-sample_fmt", sampleFormat});
        };
        flac("16.flac", "s16", 1);
        flac("16b.flac", "s16", 2);
        flac("24.flac", "s32", 1);
        testing::makeMedia(*s_dir / "long.mp3", {"-f", "lavfi", "-i", "sine=sample_rate=44100:duration=4", "-c:a", "libmp3lame"});
        // Partly downloaded: the header states the whole length, the data stops near half way.
        for (const char* name : {"long.mp4", "long.mp3"}) {
            const fs::path whole = *s_dir / name;
            const fs::path part = *s_dir / (std::string("part ") + name);
            fs::copy_file(whole, part);
            fs::resize_file(part, fs::file_size(whole) * 45 / 100);
        }
        // A playlist dressed up as a video, pointing at a real one.
        s_dir->write("playlist.mp4", fmt::format("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n{}\n#EXT-X-ENDLIST\n",
                                                 (*s_dir / "25.mp4").string()));
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override { KOLVEX_REQUIRE_FFMPEG(); }

    static fs::path source(const std::string& name) { return *s_dir / name; }

    ConversionOutcome run(const std::string& first, const std::string& from, const std::string& to, ConversionOptions options,
                          const std::vector<std::string>& more = {}) {
        const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
        auto job = testing::mediaJob(source(first), m_out / ("out." + to), from, to, std::move(options));
        for (const auto& name : more) job.additionalSources.push_back(source(name));
        return engine.convertReporting(job, nullptr, {});
    }
    void expectNothingLeft() {
        for (const auto& entry : fs::directory_iterator(m_out.path())) ADD_FAILURE() << "left behind: " << entry.path();
    }

    static inline testing::TempDir* s_dir = nullptr;
    testing::TempDir m_out;
};

// Every merge lasts the sum of its inputs in each stream, within a frame, and decodes cleanly;
// only inputs alike in every respect are copied.
TEST_F(EditContract, MergesLastTheSumOfTheirInputs) {
    struct Case {
        std::string name;
        std::vector<std::string> inputs;
        std::string to;
        bool copied;
    };
    const std::vector<Case> cases = {
        {"two containers", {"25.mp4", "25.mkv"}, "mp4", false},
        {"two frame rates", {"25.mp4", "30.mp4"}, "mp4", false},
        {"alike", {"25.mp4", "25.mp4"}, "mp4", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto outcome = run(c.inputs[0], "mp4", c.to, tool("merge", [](auto&) {}), {c.inputs[1]});
        EXPECT_EQ(outcome.usedPassthrough, c.copied);
        const fs::path out = outcome.outputs.at(0);
        EXPECT_EQ(MediaReport::of(out).decodeErrors, "");
        // Each input's sound counts where its pictures run: a Matroska copy of an MP4 plays the
        // encoder's delay before its first picture, which a merge leaves out.
        double pictures = 0, sound = 0;
        for (const auto& input : c.inputs) {
            const auto picture = decodedStream(source(input), "v:0");
            const auto heard = decodedStream(source(input), "a:0");
            pictures += picture.seconds();
            sound += std::min(heard.end, picture.end) - std::max(heard.start, picture.start);
        }
        EXPECT_NEAR(decodedStream(out, "v:0").seconds(), pictures, 1.0 / 25 + 1e-3);
        EXPECT_NEAR(decodedStream(out, "a:0").seconds(), sound, kAudioFrame + 1e-3);
        fs::remove(out);
    }
}

// FLAC is joined losslessly: every sample of both files, a header that states them all, and the
// depth of the deeper file.
TEST_F(EditContract, FlacMergesKeepEverySample) {
    struct Case {
        std::string name, second;
        int64_t samples;
        std::string depth;
    };
    for (const Case& c : {Case{"same depth", "16b.flac", 3 * 44100, "16"}, Case{"16 then 24 bits", "24.flac", 2 * 44100, "24"}}) {
        SCOPED_TRACE(c.name);
        const auto outcome = run("16.flac", "flac", "flac", tool("merge", [](auto&) {}), {c.second});
        const fs::path out = outcome.outputs.at(0);
        EXPECT_EQ(MediaReport::of(out).decodeErrors, "");
        EXPECT_EQ(decodedStream(out, "a:0").samples, c.samples);
        // STREAMINFO's total sample count, as ffprobe reads the header.
        EXPECT_EQ(testing::probeEntry(out, "stream=duration_ts", "a:0"), std::to_string(c.samples));
        EXPECT_EQ(testing::probeEntry(out, "stream=bits_per_raw_sample", "a:0"), c.depth);
        fs::remove(out);
    }
}

// Portrait phone clips merged by re-encoding stay portrait and fill the frame.
TEST_F(EditContract, PortraitMergesStayPortrait) {
    const auto outcome = run("portrait.mp4", "mp4", "mkv", tool("merge", [](auto&) {}), {"portrait.mp4"});
    EXPECT_FALSE(outcome.usedPassthrough);
    const MediaReport report = MediaReport::of(outcome.outputs.at(0));
    EXPECT_EQ(report.decodeErrors, "");
    const std::pair<int64_t, int64_t> portrait(48, 64);
    EXPECT_EQ(std::pair(report.video().width, report.video().height), portrait);
    EXPECT_EQ(report.video().rotation, 0);
}

// A copied cut ends its pictures before the next keyframe's B-frames but keeps the sound to the
// cut: every part's sound lasts as long as its pictures and together they hold all of it.
TEST_F(EditContract, CopyCutsKeepAllTheSound) {
    const auto parts = run("long.mp4", "mp4", "mp4", tool("split", [](auto& o) { o.splitPoints = {1, 2, 3}; }));
    EXPECT_TRUE(parts.usedPassthrough);
    ASSERT_EQ(parts.outputs.size(), 4u);
    int64_t samples = 0;
    for (const auto& part : parts.outputs) {
        SCOPED_TRACE(part.filename().string());
        EXPECT_EQ(MediaReport::of(part).decodeErrors, "");
        const auto video = decodedStream(part, "v:0");
        const auto audio = decodedStream(part, "a:0");
        EXPECT_EQ(video.frames, 25);
        EXPECT_NEAR(audio.seconds(), video.seconds(), kAudioFrame + 1e-3);
        samples += audio.samples;
    }
    // A copy cuts sound between whole coded frames: at most one frame is heard twice at a cut.
    EXPECT_NEAR(double(samples), double(decodedStream(source("long.mp4"), "a:0").samples), 1024.0 * 3);

    const auto trimmed = run("long.mp4", "mp4", "mp4", tool("trim", [](auto& o) { o.trimStart = 1; o.trimEnd = 3; }));
    EXPECT_TRUE(trimmed.usedPassthrough);
    const fs::path out = trimmed.outputs.at(0);
    EXPECT_EQ(decodedStream(out, "v:0").frames, 50);
    EXPECT_NEAR(decodedStream(out, "a:0").seconds(), 2.0, kAudioFrame + 1e-3);
}

// Probes as the engine's own prober does, noting how deep each look went.
class RecordingProber : public WholeProbing {
public:
    MediaProbe probe(const fs::path& url, std::stop_token stop) const override {
        calls.push_back("streams");
        return LibavProber().probe(url, stop);
    }
    MediaProbe probeHeaders(const fs::path& url, std::stop_token stop) const override {
        calls.push_back("headers");
        return LibavProber().probeHeaders(url, stop);
    }
    mutable std::vector<std::string> calls;
};

// A container change is planned from the header alone and keeps every picture and all the
// sound; one that turns out to need an encoder reads the streams first and is still right.
TEST_F(EditContract, RemuxesPlannedFromTheHeaderKeepEverything) {
    struct Case {
        std::string source, from, to;
        bool copied;
        std::vector<std::string> calls;
    };
    const std::vector<Case> cases = {
        {"25.mp4", "mp4", "mkv", true, {"headers"}},
        {"25.mkv", "mkv", "mp4", true, {"headers"}},
        // Matroska cannot store the turn: the pictures are turned upright by re-encoding them.
        {"portrait.mp4", "mp4", "mkv", false, {"headers", "streams"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source + " to " + c.to);
        const auto prober = std::make_shared<RecordingProber>();
        const FFmpegEngine engine(BundledFFmpeg::inBundle(), prober, {});
        const auto outcome = engine.convertReporting(
            testing::mediaJob(source(c.source), m_out / ("out." + c.to), c.from, c.to,
                              Preferences{}.conversionOptions(FormatCategory::video)),
            nullptr, {});
        EXPECT_EQ(outcome.usedPassthrough, c.copied);
        EXPECT_EQ(prober->calls, c.calls);
        const fs::path out = outcome.outputs.at(0);
        const MediaReport report = MediaReport::of(out);
        EXPECT_EQ(report.decodeErrors, "");
        EXPECT_EQ(report.video().codec, "h264");
        EXPECT_EQ(report.video().rotation, 0);
        const std::pair<int64_t, int64_t> upright = c.copied ? std::pair(64, 48) : std::pair(48, 64);
        EXPECT_EQ(std::pair(report.video().width, report.video().height), upright);
        EXPECT_EQ(decodedStream(out, "v:0").frames, decodedStream(source(c.source), "v:0").frames);
        // Matroska keeps the AAC encoder's priming (two frames) where MP4 states it away.
        const double sound = decodedStream(source(c.source), "a:0").seconds();
        EXPECT_GE(decodedStream(out, "a:0").seconds(), sound - 1e-3);
        EXPECT_LE(decodedStream(out, "a:0").seconds(), sound + 2 * kAudioFrame + 1e-3);
        fs::remove(out);
    }
}

// A cut past the data of a partly downloaded file has nothing in it: a failure naming the file,
// with nothing left behind.
TEST_F(EditContract, EmptyOutputsFail) {
    struct Case {
        std::string name, file, from;
    };
    for (const Case& c : {Case{"mp4", "part long.mp4", "mp4"}, Case{"mp3", "part long.mp3", "mp3"}}) {
        SCOPED_TRACE(c.name);
        try {
            run(c.file, c.from, c.from, tool("trim", [](auto& o) { o.trimStart = 3; o.trimEnd = 3.8; }));
            ADD_FAILURE() << "reported success";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error, ConversionError::corruptedInput(source(c.file)));
        }
        expectNothingLeft();
    }
}

// A playlist named like a video is no media: it is refused, and nothing it points to is copied.
TEST_F(EditContract, PlaylistsAreNotMedia) {
    for (const char* to : {"mkv", "mp4"}) {
        SCOPED_TRACE(to);
        try {
            run("playlist.mp4", "mp4", to, Preferences{}.conversionOptions(FormatCategory::video));
            ADD_FAILURE() << "reported success";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error, ConversionError::corruptedInput(source("playlist.mp4")));
        }
        expectNothingLeft();
    }
}

}  // namespace
}  // namespace kolvex
