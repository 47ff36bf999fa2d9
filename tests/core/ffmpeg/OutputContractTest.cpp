// SPDX-License-Identifier: GPL-3.0-or-later
// The output contract of the FFmpeg engine, judged by an independent reader (ffprobe and a full
// decode, see MediaReport) on sources made with lavfi: what a user relies on, one property per
// test, every shipped video target and tool.
#include <mutex>
#include <set>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/ffmpeg/FFmpegEngine.h"
#include "core/format/FormatRegistry.h"
#include "core/services/Preferences.h"
#include "MediaReport.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::MediaReport;

ConversionOptions with(auto change, ConversionOptions o = ConversionOptions::defaults()) {
    change(o);
    return o;
}

// What a drop on a format target of the ring asks for.
ConversionOptions ring(FormatCategory category = FormatCategory::video) { return Preferences{}.conversionOptions(category); }

struct Case {
    std::string name;
    std::string source;  // a file of the suite's folder
    std::string from, to;
    ConversionOptions options = ring();
    std::vector<std::string> more;  // further sources (merge)
};

struct Result {
    ConversionOutcome outcome;
    std::optional<ConversionError> error;
    std::vector<MediaReport> reports;  // one per output
};

class OutputContract : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testing::haveFFmpeg()) return;
        s_dir = new testing::TempDir;
        const auto picture = [](const char* size, double seconds) {
            return std::vector<std::string>{"-f", "lavfi", "-i", fmt::format("testsrc2=size={}:rate=10:duration={}", size, seconds)};
        };
        const auto tone = [](double seconds, int frequency = 440) {
            return std::vector<std::string>{"-f", "lavfi", "-i",
                                            fmt::format("sine=frequency={}:sample_rate=8000:duration={}", frequency, seconds)};
        };
        const auto make = [](const char* name, std::initializer_list<std::vector<std::string>> parts) {
            std::vector<std::string> args;
            for (const auto& part : parts) args.insert(args.end(), part.begin(), part.end());
            testing::makeMedia(*s_dir / name, args);
        };
        const std::vector<std::string> h264aac = {"-c:v", "libx264", "-c:a", "aac"};
        make("clip.mp4", {picture("64x48", 1), tone(1), h264aac});
        make("clip.m4v", {picture("64x48", 1), tone(1), h264aac, {"-f", "mp4"}});
        make("odd 444.mp4", {picture("65x49", 1), tone(1), {"-c:v", "libx264", "-pix_fmt", "yuv444p", "-c:a", "aac"}});
        make("prores 10.mov", {picture("64x48", 1), tone(1), {"-c:v", "prores_ks", "-c:a", "pcm_s16le"}});
        make("anim.gif", {picture("65x49", 1)});
        make("hevc.mp4", {picture("64x48", 1), tone(1), {"-c:v", "libx265", "-x265-params", "log-level=error", "-c:a", "aac"}});
        make("vp9.webm", {picture("64x48", 1), tone(1), {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-c:a", "libopus"}});
        make("mpeg4.avi", {picture("64x48", 1), tone(1), {"-c:v", "mpeg4", "-c:a", "libmp3lame"}});
        make("theora.ogg", {picture("64x48", 1), tone(1), {"-c:v", "libtheora", "-c:a", "libvorbis"}});
        make("tone.flac", {tone(1)});
        // Keyframes only at the start, or every half second (5 frames).
        make("one key.mp4", {picture("64x48", 2), tone(2), h264aac, {"-g", "1000", "-keyint_min", "1000", "-sc_threshold", "0"}});
        make("keys.mp4", {picture("64x48", 2), tone(2), h264aac, {"-g", "5", "-keyint_min", "5", "-sc_threshold", "0"}});
        make("rotated.mp4", {{"-i", (*s_dir / "clip.mp4").string(), "-c", "copy", "-metadata:s:v:0", "rotate=90"}});
        // Two audio tracks with their languages, two subtitle tracks and two chapters.
        const auto subtitles = s_dir->write("words.srt", "1\n00:00:00,000 --> 00:00:00,500\nhello\n");
        const auto chapters = s_dir->write("chapters.txt",
                                           ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=500\ntitle=One\n"
                                           "[CHAPTER]\nTIMEBASE=1/1000\nSTART=500\nEND=1000\ntitle=Two\n");
        make("tracks.mkv", {picture("64x48", 1), tone(1), tone(1, 880),
                            {"-i", subtitles.string(), "-i", subtitles.string(), "-i", chapters.string(), "-map", "0", "-map", "1",
                             "-map", "2", "-map", "3", "-map", "4", "-map_chapters", "5", "-c:v", "libx264", "-c:a", "aac",
                             "-c:s", "srt", "-metadata:s:a:0", "language=eng", "-metadata:s:a:1", "language=fre"}});
        make("tracks.mp4", {{"-i", (*s_dir / "tracks.mkv").string(), "-map", "0:v", "-map", "0:a", "-map", "0:s", "-c:v", "copy",
                             "-c:a", "copy", "-c:s", "mov_text"}});
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override { KOLVEX_REQUIRE_FFMPEG(); }

    static fs::path source(const std::string& name) { return *s_dir / name; }

    // Runs every case on one engine, a few at a time as the coordinator would, then reads each
    // output with ffprobe and a full decode.
    std::vector<Result> convert(const std::vector<Case>& cases) {
        const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
        std::vector<Result> results(cases.size());
        std::mutex next;
        size_t index = 0;
        const auto work = [&] {
            for (;;) {
                size_t i;
                {
                    std::lock_guard lock(next);
                    if (index == cases.size()) return;
                    i = index++;
                }
                const Case& c = cases[i];
                const fs::path destination = m_out / fmt::format("{} {}.{}", i, c.name, c.to);
                auto job = testing::mediaJob(source(c.source), destination, c.from, c.to, c.options);
                for (const auto& more : c.more) job.additionalSources.push_back(source(more));
                try {
                    results[i].outcome = engine.convertReporting(job, nullptr, {});
                    for (const auto& output : results[i].outcome.outputs) results[i].reports.push_back(MediaReport::of(output));
                } catch (const ConversionError& error) {
                    results[i].error = error;
                }
            }
        };
        {
            std::vector<std::jthread> workers;
            for (int n = 0; n < 3; ++n) workers.emplace_back(work);
        }
        return results;
    }

    static inline testing::TempDir* s_dir = nullptr;
    testing::TempDir m_out;
};

// A re-encode is 8-bit 4:2:0 with even sides (H.264 High, VP9 profile 0) and an MP4 or
// QuickTime file has its index first, whatever the source's chroma, depth and size.
TEST_F(OutputContract, ReencodesPlayEverywhere) {
    std::vector<Case> cases;
    const auto reencode = with([](auto& o) { o.quality = 0.5; });
    for (const auto& [file, from] : std::vector<std::pair<std::string, std::string>>{
             {"odd 444.mp4", "mp4"}, {"prores 10.mov", "mov"}, {"anim.gif", "gif"}}) {
        for (const char* to : {"mp4", "mov", "m4v", "mkv", "avi", "webm"}) cases.push_back({from + " to " + to, file, from, to, reencode});
    }
    const auto tool = [](const char* name, auto change) { return with([&](auto& o) { o.tool = name; change(o); }); };
    cases.push_back({"compress", "prores 10.mov", "mov", "mov", tool("compress", [](auto& o) { o.quality = 0.3; })});
    cases.push_back({"resize to an odd size", "odd 444.mp4", "mp4", "mp4", tool("resize", [](auto& o) { o.maxDimension = 33; })});
    cases.push_back({"crop", "odd 444.mp4", "mp4", "mov", tool("crop", [](auto& o) { o.cropRect = UnitRect{0.1, 0.1, 0.7, 0.7}; })});
    cases.push_back({"trim", "prores 10.mov", "mov", "mp4", tool("trim", [](auto& o) { o.trimStart = 0.3; o.allowPassthrough = false; })});
    cases.push_back({"merge", "odd 444.mp4", "mp4", "mp4", tool("merge", [](auto&) {}), {"prores 10.mov"}});

    const auto results = convert(cases);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        ASSERT_FALSE(results[i].error) << results[i].error->what() << results[i].error->diagnosticDetail().value_or("");
        ASSERT_EQ(results[i].reports.size(), 1u);
        const MediaReport& report = results[i].reports.front();
        const auto& video = report.video();
        EXPECT_EQ(report.decodeErrors, "");
        EXPECT_EQ(video.pixelFormat, "yuv420p");
        EXPECT_EQ(video.profile, cases[i].to == "webm" ? "Profile 0" : "High");
        EXPECT_EQ(video.width % 2, 0) << video.width;
        EXPECT_EQ(video.height % 2, 0) << video.height;
        const std::set<std::string> apple = {"mp4", "mov", "m4v"};
        EXPECT_EQ(report.indexFirst, apple.contains(cases[i].to));
    }
    EXPECT_EQ(results[std::size(cases) - 4].reports.front().video().width, 32);  // 65 → at most 33, even
}

// Every conversion the shipped manifest offers from a video (or GIF) is accepted and decodes,
// for common codec variants; HEVC copied into MP4, M4V or QuickTime is tagged "hvc1".
TEST_F(OutputContract, EveryOfferedVideoRowWorksForCommonCodecs) {
    const std::map<std::string, std::vector<std::string>> sources = {
        {"mp4", {"clip.mp4", "hevc.mp4"}}, {"m4v", {"clip.m4v"}},   {"mov", {"prores 10.mov"}}, {"mkv", {"tracks.mkv"}},
        {"webm", {"vp9.webm"}},             {"avi", {"mpeg4.avi"}}, {"gif", {"anim.gif"}},
    };
    const FormatRegistry registry = FormatRegistry::loadBundled();
    std::vector<Case> cases;
    for (const auto& row : registry.manifest().conversions) {
        if (row.engine != engine_ids::ffmpeg || !sources.contains(row.from.rawValue)) continue;
        for (const auto& file : sources.at(row.from.rawValue))
            cases.push_back({file + " to " + row.to.rawValue, file, row.from.rawValue, row.to.rawValue,
                             ring(registry.format(row.from)->category)});
    }
    ASSERT_GT(cases.size(), 80u);
    const auto results = convert(cases);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        ASSERT_FALSE(results[i].error) << results[i].error->what() << results[i].error->diagnosticDetail().value_or("");
        const MediaReport& report = results[i].reports.front();
        EXPECT_EQ(report.decodeErrors, "");
        for (const auto& video : report.ofType("video")) {
            const bool apple = std::set<std::string>{"mp4", "m4v", "mov"}.contains(cases[i].to);
            if (video.codec == "hevc" && apple) {
                EXPECT_EQ(video.tag, "hvc1");
            }
        }
    }
}

// The first video and audio stream are kept; the result's note says in a sentence what else the
// source held, and the output holds exactly what it says.
TEST_F(OutputContract, NamesWhatItLeavesOut) {
    const std::vector<Case> cases = {
        {"copy", "tracks.mkv", "mkv", "mp4"},
        {"re-encode", "tracks.mkv", "mkv", "webm"},
        {"audio", "tracks.mkv", "mkv", "mp3"},
        {"without audio", "tracks.mkv", "mkv", "mkv", with([](auto& o) { o.tool = "remove-audio"; })},
        {"mp4 subtitles", "tracks.mp4", "mp4", "mov"},
        {"nothing left out", "clip.mp4", "mp4", "mkv"},
        {"merged by copy", "tracks.mkv", "mkv", "mkv", with([](auto& o) { o.tool = "merge"; }), {"tracks.mkv"}},
        {"merged by re-encode", "tracks.mkv", "mkv", "mp4", with([](auto& o) { o.tool = "merge"; }), {"odd 444.mp4"}},
        {"avi", "tracks.mkv", "mkv", "avi"},
        {"wav", "tracks.mkv", "mkv", "wav"},
    };
    const std::optional<std::string> notes[] = {
        "1 audio track and 2 subtitle tracks were left out", "1 audio track and 2 subtitle tracks were left out",
        "1 audio track was left out", "2 subtitle tracks were left out", "1 audio track and 2 subtitle tracks were left out",
        std::nullopt,
        "The pictures are copied; the sound is re-encoded to meet them at every join. "
        "1 audio track and 2 subtitle tracks were left out",
        "1 audio track and 2 subtitle tracks were left out",
        "1 audio track, 2 subtitle tracks and 2 chapters were left out", "1 audio track and 2 chapters were left out",
    };
    const auto results = convert(cases);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        ASSERT_FALSE(results[i].error) << results[i].error->what();
        EXPECT_EQ(results[i].outcome.note, notes[i]);
        const MediaReport& report = results[i].reports.front();
        EXPECT_EQ(report.ofType("video").size(), cases[i].to == "mp3" || cases[i].to == "wav" ? 0u : 1u);
        // Chapters are named as left out only where they are.
        if (notes[i] && notes[i]->find("chapters") != std::string::npos) {
            EXPECT_EQ(report.chapters, 0);
        }
        EXPECT_EQ(report.ofType("audio").size(), cases[i].name == "without audio" ? 0u : 1u);
        EXPECT_EQ(report.ofType("subtitle").size(), 0u);
        EXPECT_EQ(report.decodeErrors, "");
    }
    // The kept audio track is the first, language and all; chapters stay with the metadata.
    EXPECT_EQ(results[0].reports.front().ofType("audio").front().language, "eng");
    EXPECT_EQ(results[0].reports.front().chapters, 2);
}

// A rotated phone clip plays upright everywhere: MP4 and QuickTime carry the rotation, other
// containers get the picture turned once; a size limit applies to the picture as shown.
TEST_F(OutputContract, RotationSurvives) {
    const std::vector<Case> cases = {
        {"mov", "rotated.mp4", "mp4", "mov"},
        {"mkv", "rotated.mp4", "mp4", "mkv"},
        {"webm", "rotated.mp4", "mp4", "webm"},
        {"avi", "rotated.mp4", "mp4", "avi"},
        {"split into mkv", "rotated.mp4", "mp4", "mkv", with([](auto& o) { o.tool = "split"; })},
        {"resize", "rotated.mp4", "mp4", "mp4", with([](auto& o) { o.tool = "resize"; o.maxDimension = 32; })},
    };
    const auto results = convert(cases);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        ASSERT_FALSE(results[i].error) << results[i].error->what();
        for (const auto& report : results[i].reports) {
            const auto& video = report.video();
            EXPECT_EQ(report.decodeErrors, "");
            if (i == 0) {
                EXPECT_TRUE(results[i].outcome.usedPassthrough);
                EXPECT_NE(video.rotation, 0);
                const std::pair<int64_t, int64_t> stored(64, 48);
                EXPECT_EQ(std::pair(video.width, video.height), stored);
            } else {
                EXPECT_FALSE(results[i].outcome.usedPassthrough);
                EXPECT_EQ(video.rotation, 0);
                const auto shown = i == 5 ? std::pair<int64_t, int64_t>(24, 32) : std::pair<int64_t, int64_t>(48, 64);
                EXPECT_EQ(std::pair(video.width, video.height), shown);
            }
        }
    }
}

// A drop on the ring whose streams fit the target copies them, lossless; the preferences'
// quality applies only when it must re-encode, and an explicit one always does.
TEST_F(OutputContract, RingConversionsCopyWhenTheStreamsFit) {
    const std::vector<Case> cases = {
        {"mp4 to mkv", "clip.mp4", "mp4", "mkv"},
        {"webm to mkv", "vp9.webm", "webm", "mkv"},
        {"audio out", "clip.mp4", "mp4", "m4a"},
        {"hevc to m4v", "hevc.mp4", "mp4", "m4v"},
        {"must re-encode", "prores 10.mov", "mov", "mp4"},
        {"asked to re-encode", "clip.mp4", "mp4", "mkv", with([](auto& o) { o.quality = 0.5; })},
    };
    const bool copied[] = {true, true, true, true, false, false};
    const auto results = convert(cases);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        ASSERT_FALSE(results[i].error) << results[i].error->what();
        EXPECT_EQ(results[i].outcome.usedPassthrough, copied[i]);
        EXPECT_EQ(results[i].reports.front().decodeErrors, "");
    }
    // Copied means the very same coded pictures.
    const auto pictures = [](const fs::path& file) {
        return testing::probeEntry(file, "packet=size", "v:0");
    };
    EXPECT_EQ(pictures(results[0].outcome.outputs.front()), pictures(source("clip.mp4")));
    EXPECT_NE(pictures(results[5].outcome.outputs.front()), pictures(source("clip.mp4")));
}

// A trim said to be exact is exact within a frame (a copy that could not be is re-encoded), a
// trim from a keyframe is copied, and split parts never share a moment.
TEST_F(OutputContract, TrimsAndSplitsKeepTheirPromise) {
    const auto trim = [](double start, double end) {
        return with([&](auto& o) {
            o.tool = "trim";
            o.trimStart = start;
            o.trimEnd = end;
        });
    };
    const auto split = [](std::vector<double> points) {
        return with([&](auto& o) {
            o.tool = "split";
            o.splitPoints = points;
        });
    };
    const std::vector<Case> cases = {
        {"one keyframe", "one key.mp4", "mp4", "mp4", trim(0.5, 1.5)},
        {"from a keyframe", "keys.mp4", "mp4", "mp4", trim(0.5, 1.5)},
        {"between keyframes", "keys.mp4", "mp4", "mkv", trim(0.7, 1.5)},
        {"split between keyframes", "keys.mp4", "mp4", "mp4", split({0.7, 1.3})},
        {"split on keyframes", "keys.mp4", "mp4", "mp4", split({0.5, 1.51})},
        {"flac", "tone.flac", "flac", "flac", trim(0.2, 0.7)},
    };
    const std::vector<std::vector<int64_t>> frames = {{10}, {10}, {8}, {7, 6, 7}, {5, 10, 5}, {}};
    const bool copied[] = {false, true, false, false, true, false};
    const auto results = convert(cases);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        ASSERT_FALSE(results[i].error) << results[i].error->what();
        EXPECT_EQ(results[i].outcome.usedPassthrough, copied[i]);
        std::vector<int64_t> counted;
        for (const auto& report : results[i].reports) {
            EXPECT_EQ(report.decodeErrors, "");
            if (!report.ofType("video").empty()) counted.push_back(report.video().frames.value_or(-1));
        }
        EXPECT_EQ(counted, frames[i]);
    }
    ASSERT_TRUE(results[5].reports.front().duration);
    EXPECT_NEAR(*results[5].reports.front().duration, 0.5, 0.02);
}

// A file named like audio that holds a film is not made into a sound file.
TEST_F(OutputContract, SourcesAreWhatTheyContain) {
    const std::vector<Case> cases = {
        {"mp3", "theora.ogg", "ogg", "mp3", ring(FormatCategory::audio)},
        {"opus", "theora.ogg", "ogg", "opus", ring(FormatCategory::audio)},
        {"trim", "theora.ogg", "ogg", "ogg", with([](auto& o) { o.tool = "trim"; o.trimEnd = 0.5; })},
    };
    const auto results = convert(cases);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        ASSERT_TRUE(results[i].error);
        EXPECT_EQ(*results[i].error, ConversionError::unsupportedCombination("Ogg with a video track",
                                                                             testing::mediaFormat(cases[i].to).label));
    }
    for (const auto& entry : fs::directory_iterator(m_out.path())) ADD_FAILURE() << "left behind: " << entry.path();
}

}  // namespace
}  // namespace kolvex
