// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/FFmpegEngine.h"

#include <latch>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "core/engines/image/ImageEngine.h"
#include "core/ffmpeg/PassthroughProgressWatcher.h"
#include "core/services/Cancellation.h"
#include "core/services/Log.h"
#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "FFmpegEngineTestSupport.h"
#include "FixedProber.h"
#include "MediaReport.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::mediaJob;

// Sizes as a test wants them; everything else as on disk.
class FakeFiles : public FileManagerService {
public:
    std::map<fs::path, std::optional<int64_t>> sizes;
    std::optional<int64_t> size(const fs::path& path) const override {
        const auto found = sizes.find(path);
        return found != sizes.end() ? found->second : FileManagerService::size(path);
    }
};

using testing::FixedProber;
using testing::conversionError;
using testing::options;
using testing::Progress;

TEST(FFmpegEngine, CanHandle) {
    const BundledFFmpeg tools("/x/ffmpeg");
    const auto prober = std::make_shared<FixedProber>(MediaProbe{});
    const FFmpegEngine anything(tools, prober, {}, [](const fs::path&, const Format&, const fs::path&) {});
    const FFmpegEngine debian(tools, prober, {"libx264", "aac", "libvpx-vp9", "libmp3lame", "png"},
                              [](const fs::path&, const Format&, const fs::path&) {});
    const FFmpegEngine noDecoder(tools, prober, {});
    struct Case {
        const FFmpegEngine* engine;
        std::string from, to;
        std::optional<std::string> tool;
        bool expected;
    };
    Format document = testing::mediaFormat("pdf");
    const Case cases[] = {
        {&anything, "mp4", "mov", "rotate", false},   {&anything, "mp4", "mov", std::nullopt, true},
        {&anything, "mp4", "gif", std::nullopt, true}, {&debian, "mp4", "gif", std::nullopt, false},
        {&debian, "mp4", "mov", std::nullopt, true},  {&debian, "mp4", "webm", "compress", false},  // no libopus
        {&debian, "wav", "mp3", std::nullopt, true},  {&debian, "wav", "flac", "normalize", false},
        {&debian, "pdf", "png", std::nullopt, true},  {&debian, "pdf", "jpg", std::nullopt, false},
        {&debian, "mp4", "mp4", "compress", true},    {&anything, "avif", "mp4", std::nullopt, true},
        {&noDecoder, "avif", "gif", std::nullopt, false}, {&noDecoder, "ico", "png", std::nullopt, false},
    };
    for (const auto& c : cases) {
        auto job = mediaJob("/in", "/out", c.from, c.to, options([&](auto& o) { o.tool = c.tool; }));
        EXPECT_EQ(c.engine->canHandle(job), c.expected) << c.from << "→" << c.to << " " << c.tool.value_or("");
    }
    // Documents and archives never, even without an encoder list.
    auto job = mediaJob("/in", "/out", "mp4", "mp4");
    job.from.category = FormatCategory::document;
    EXPECT_FALSE(anything.canHandle(job));
    job.from.category = FormatCategory::archive;
    EXPECT_FALSE(anything.canHandle(job));
}

TEST(FFmpegEngine, ExpectedStreamCopySize) {
    FakeFiles files;
    files.sizes["/in/a.mp4"] = 100'000'000;
    files.sizes["/in/empty.mp4"] = 0;
    MediaProbe probe;
    probe.durationSeconds = 60;
    const auto expected = [&](const char* source, ConversionOptions o, const MediaProbe& p) {
        return FFmpegEngine::expectedPassthroughBytes(mediaJob(source, "/out/b.mov", "mp4", "mov", o), p, files);
    };
    const auto trim = [](std::optional<double> start, std::optional<double> end) {
        return options([&](auto& o) {
            o.trimStart = start;
            o.trimEnd = end;
        });
    };
    EXPECT_EQ(expected("/in/a.mp4", trim(15, 45), probe), 50'000'000);
    EXPECT_EQ(expected("/in/a.mp4", trim({}, {}), probe), 100'000'000);
    EXPECT_EQ(expected("/in/a.mp4", trim(30, 600), probe), 50'000'000);
    EXPECT_EQ(expected("/in/a.mp4", trim(60, {}), probe), 100'000'000);
    EXPECT_EQ(expected("/in/a.mp4", trim(10, 10.0000000001), probe), 1);
    EXPECT_EQ(expected("/in/a.mp4", trim(15, 45), MediaProbe{}), 100'000'000);
    EXPECT_EQ(expected("/in/empty.mp4", trim({}, {}), probe), std::nullopt);
    EXPECT_EQ(expected("/in/missing.mp4", trim({}, {}), probe), std::nullopt);

    EXPECT_EQ(PassthroughProgressWatcher::fraction(0, 1000), std::nullopt);
    EXPECT_EQ(PassthroughProgressWatcher::fraction(1, 1'000'000), 0.02);
    EXPECT_EQ(PassthroughProgressWatcher::fraction(600, 1000), 0.6);
    EXPECT_EQ(PassthroughProgressWatcher::fraction(5000, 1000), 0.97);
    EXPECT_EQ(PassthroughProgressWatcher::fraction(5, 0), std::nullopt);
}

TEST(FFmpegEngine, WatcherReportsAtOnceAndStopsWhenCancelled) {
    testing::TempDir dir;
    const auto file = dir.write("growing.mkv", std::string(500, 'x'));
    Progress progress;
    std::latch reported(1);
    auto handle = PassthroughProgressWatcher::watch(file, 1000, std::chrono::seconds(30), [&](double f) {
        progress.callback()(f);
        reported.count_down();
    });
    reported.wait();
    const auto start = std::chrono::steady_clock::now();
    handle.cancel();  // while it sleeps for 30 s
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(progress.fractions, std::vector<double>{0.5});
}

// --- Runs of the real ffmpeg on tiny clips ---------------------------------------------------

class FFmpegEngineRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testing::haveFFmpeg()) return;
        s_dir = new testing::TempDir;
        testing::makeClip(*s_dir / "-i clip ü.mp4", {.seconds = 1.0, .codecArguments = {"-c:v", "libx264", "-c:a", "aac", "-metadata", "title=Hello"}});
        testing::makeClip(*s_dir / "tone.wav", {.seconds = 0.5, .video = false});
        testing::makeClip(*s_dir / "tone.m4a", {.seconds = 0.5, .video = false, .codecArguments = {"-c:a", "alac"}});
        testing::makeClip(*s_dir / "silent.mp4", {.seconds = 0.5, .audio = false, .codecArguments = {"-c:v", "libx264"}});
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override { KOLVEX_REQUIRE_FFMPEG(); }

    static fs::path source(const char* name) { return *s_dir / name; }
    FFmpegEngine engine() const { return FFmpegEngine(BundledFFmpeg::inBundle(), nullptr, {}); }

    static inline testing::TempDir* s_dir = nullptr;
    testing::TempDir m_out;
};

TEST_F(FFmpegEngineRun, ConvertsEveryTargetFamilyAndTool) {
    struct Case {
        const char* name;
        const char* source;
        std::string from, to;
        ConversionOptions options;
        std::optional<std::string> videoCodec, audioCodec;
        std::optional<double> duration;  // within a frame of audio or video
        std::optional<std::pair<int64_t, int64_t>> size;
    };
    const auto keep = ConversionOptions::defaults();
    const char* clip = "-i clip ü.mp4";
    const std::nullopt_t none = std::nullopt;
    const Case cases[] = {
        {"remux", clip, "mp4", "mkv", keep, "h264", "aac", 1.0, std::pair{64, 48}},
        {"re-encode", clip, "mp4", "mov", options([](auto& o) { o.quality = 0.3; }), "h264", "aac", 1.0, none},
        {"webm", clip, "mp4", "webm", keep, "vp9", "opus", 1.0, none},
        {"gif", clip, "mp4", "gif", options([](auto& o) { o.maxDimension = 32; }), "gif", none, none, std::pair{32, 24}},
        {"mp3", clip, "mp4", "mp3", keep, none, "mp3", 1.0, none},
        {"m4a copies the audio", clip, "mp4", "m4a", keep, none, "aac", 1.0, none},
        {"flac", "tone.wav", "wav", "flac", keep, none, "flac", 0.5, none},
        {"aiff keeps little-endian samples", "tone.wav", "wav", "aiff", keep, none, "pcm_s16le", 0.5, none},
        {"aiff re-encoded", "tone.wav", "wav", "aiff", options([](auto& o) { o.sampleRate = 16000; }), none, "pcm_s16be", 0.5, none},
        {"png still", clip, "mp4", "png", keep, "png", none, none, std::pair{64, 48}},
        {"jpg still", clip, "mp4", "jpg", keep, "mjpeg", none, none, none},
        {"webp still", clip, "mp4", "webp", keep, "webp", none, none, none},
        {"compress", clip, "mp4", "mp4", options([](auto& o) { o.tool = "compress"; o.quality = 0.2; }), "h264", "aac", 1.0, none},
        {"resize", clip, "mp4", "mp4", options([](auto& o) { o.tool = "resize"; o.maxDimension = 32; }), "h264", "aac", 1.0,
         std::pair{32, 24}},
        {"resize by share", clip, "mp4", "mp4", options([](auto& o) { o.tool = "resize"; o.scalePercent = 50; }), "h264",
         "aac", 1.0, std::pair{32, 24}},
        {"crop", clip, "mp4", "mp4", options([](auto& o) { o.tool = "crop"; o.cropRect = UnitRect{0, 0, 0.5, 0.5}; }), "h264", "aac",
         1.0, std::pair{32, 24}},
        {"trim re-encoded", clip, "mp4", "mp4", options([](auto& o) {
             o.tool = "trim";
             o.trimStart = 0.2;
             o.trimEnd = 0.7;
             o.allowPassthrough = false;
         }),
         "h264", "aac", 0.5, none},
        {"remove-audio", clip, "mp4", "mp4", options([](auto& o) { o.tool = "remove-audio"; }), "h264", none, 1.0, none},
        {"extract-audio", clip, "mp4", "m4a", options([](auto& o) { o.tool = "extract-audio"; }), none, "aac", 1.0, none},
        {"normalize", "tone.wav", "wav", "wav", options([](auto& o) { o.tool = "normalize"; }), none, "pcm_s16le", 0.5, none},
        {"normalize keeps ALAC lossless", "tone.m4a", "m4a", "m4a", options([](auto& o) { o.tool = "normalize"; }), none, "alac",
         0.5, none},
        {"silent video", "silent.mp4", "mp4", "mkv", keep, "h264", none, 0.5, none},
    };
    // Every conversion at once on the one engine, as the coordinator may run them; ffmpeg's own
    // start-up dominates these tiny runs.
    struct Outcome {
        std::vector<fs::path> outputs;
        std::vector<double> fractions;
        std::optional<MediaProbe> probe;
        std::string error;
    };
    std::vector<Outcome> outcomes(std::size(cases));
    const auto ffmpeg = engine();
    {
        std::vector<std::jthread> workers;
        for (size_t i = 0; i < std::size(cases); ++i) {
            workers.emplace_back([&, i] {
                const auto& c = cases[i];
                const fs::path destination = m_out / (std::string(c.name) + "." + c.to);
                Progress progress;
                try {
                    outcomes[i].outputs = ffmpeg.convert(mediaJob(source(c.source), destination, c.from, c.to, c.options),
                                                         progress.callback(), {});
                    outcomes[i].probe = testing::ffprobeFacts(destination);
                } catch (const std::exception& error) {
                    outcomes[i].error = error.what();
                }
                outcomes[i].fractions = progress.fractions;
            });
        }
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const auto& outcome = outcomes[i];
        SCOPED_TRACE(c.name);
        ASSERT_EQ(outcome.error, "");
        EXPECT_EQ(outcome.outputs, std::vector<fs::path>{m_out / (std::string(c.name) + "." + c.to)});
        ASSERT_FALSE(outcome.fractions.empty());
        EXPECT_EQ(outcome.fractions.front(), 0.02);
        EXPECT_EQ(outcome.fractions.back(), 1.0);
        const MediaProbe& probe = *outcome.probe;
        EXPECT_EQ(probe.videoCodec, c.videoCodec);
        EXPECT_EQ(probe.audioCodec, c.audioCodec);
        EXPECT_EQ(probe.audioTrackCount, c.audioCodec ? 1 : 0);
        EXPECT_EQ(probe.subtitleTrackCount, 0);
        if (c.duration) {
            ASSERT_TRUE(probe.durationSeconds);
            // An audio frame of 1152 samples at 8 kHz, plus encoder priming.
            EXPECT_NEAR(*probe.durationSeconds, *c.duration, 0.25);
        }
        if (c.size) {
            EXPECT_EQ(probe.width, c.size->first);
            EXPECT_EQ(probe.height, c.size->second);
        }
    }
}

// A clip a resize would not shrink (a 64 × 48 clip in a batch resized to 480p) is left as it
// is: nothing is written, and the outcome says why, rather than a copy re-encoded at its own
// size that only loses quality and grows.
TEST_F(FFmpegEngineRun, AResizeThatWouldNotShrinkAClipLeavesItAsItIs) {
    const ConversionOptions rows[] = {options([](auto& o) { o.tool = "resize"; o.maxDimension = 854; }),
                                      options([](auto& o) { o.tool = "resize"; o.maxDimension = 64; }),
                                      options([](auto& o) { o.tool = "resize"; o.scalePercent = 100; })};
    for (const auto& row : rows) {
        const fs::path destination = m_out / "resized.mp4";
        const ConversionOutcome outcome =
            engine().convertReporting(mediaJob(source("-i clip ü.mp4"), destination, "mp4", "mp4", row), {}, {});
        EXPECT_TRUE(outcome.leftAsItIs);
        EXPECT_TRUE(outcome.outputs.empty());
        EXPECT_FALSE(fs::exists(destination));
        ASSERT_TRUE(outcome.note);
        EXPECT_NE(outcome.note->find("64 × 48"), std::string::npos) << *outcome.note;
    }
}

TEST_F(FFmpegEngineRun, StreamCopiesWhereThePlanSaysAndStripsMetadata) {
    LogCapture log;
    const auto ffmpeg = engine();
    const fs::path copied = m_out / "copy.mov";
    ffmpeg.convert(mediaJob(source("-i clip ü.mp4"), copied, "mp4", "mov"), nullptr, {});
    EXPECT_TRUE(log.contains("engine", "MP4→QuickTime: container rewrite \u2014 h264 copied without re-encoding"));
    EXPECT_EQ(testing::probeEntry(copied, "format_tags=title"), "Hello");

    const fs::path stripped = m_out / "stripped.mp4";
    ffmpeg.convert(mediaJob(source("-i clip ü.mp4"), stripped, "mp4", "mp4", options([](auto& o) {
                                o.tool = "strip-metadata";
                                o.preserveMetadata = false;
                            })),
                   nullptr, {});
    EXPECT_TRUE(log.contains("engine", "MP4→MP4: container rewrite"));
    EXPECT_EQ(testing::probeEntry(stripped, "format_tags=title"), "");
    EXPECT_EQ(testing::probeEntry(stripped, "stream=codec_name", "a"), "aac");
}

TEST_F(FFmpegEngineRun, IconsReachFFmpegThroughTheImageEngine) {
    const auto icon = m_out / "favicon.ico";
    testing::makeClip(icon, {.width = 32, .height = 32, .audio = false, .codecArguments = {"-frames:v", "1"}});
    const TemporaryFileManager scratch(m_out / "scratch");
    const FFmpegEngine ffmpeg(BundledFFmpeg::inBundle(), nullptr, {},
                              FFmpegEngine::decoderThrough(std::make_shared<ImageEngine>()), FileManagerService::shared(), scratch);
    const auto job = mediaJob(icon, m_out / "favicon.gif", "ico", "gif");
    ASSERT_TRUE(ffmpeg.canHandle(job));
    try {
        ffmpeg.convert(job, nullptr, {});
    } catch (const ConversionError& error) {
        FAIL() << error.what() << ": " << error.diagnosticDetail().value_or("");
    }
    EXPECT_EQ(testing::probeEntry(m_out / "favicon.gif", "stream=codec_name,width", "v"), "gif,480");
    EXPECT_TRUE(fs::is_empty(scratch.root()));

    // A broken icon names the user's file and writes nothing.
    const auto broken = m_out.write("broken.ico", std::string("\0\0\1\0garbage", 11));
    EXPECT_EQ(conversionError([&] { ffmpeg.convert(mediaJob(broken, m_out / "broken.gif", "ico", "gif"), nullptr, {}); }),
              ConversionError::corruptedInput(broken));
    EXPECT_FALSE(fs::exists(m_out / "broken.gif"));
}

TEST_F(FFmpegEngineRun, BadInputFailsCleanlyAndLeavesNothing) {
    const auto ffmpeg = engine();
    const auto text = m_out.write("notes.mp4", "this is not a video\n");
    const std::string whole = testing::readFile(source("-i clip ü.mp4"));
    const auto truncated = m_out.write("truncated.mp4", whole.substr(0, whole.size() / 2));  // the index sits at the end
    // A file whose only stream is a subtitle.
    const auto srt = m_out.write("words.srt", "1\n00:00:00,000 --> 00:00:01,000\nhello\n");
    const auto subtitles = m_out / "subtitles only.mkv";
    ASSERT_TRUE(ProcessRunner().run(testing::systemFFmpeg(), {"-v", "error", "-i", srt.string(), subtitles.string()}, {}, nullptr, nullptr)
                    .succeeded());
    struct Case {
        fs::path source;
        std::string from, to;
        ConversionError expected;
    };
    const fs::path destination = m_out / "out.result";
    const Case cases[] = {
        {text, "mp4", "mkv", ConversionError::corruptedInput(text)},
        {truncated, "mp4", "mkv", ConversionError::corruptedInput(truncated)},
        {source("tone.wav"), "wav", "mp4", ConversionError::unsupportedCombination("WAV with no video track", "MP4")},
        {source("silent.mp4"), "mp4", "mp3", ConversionError::unsupportedCombination("MP4 with no audio track", "MP3")},
        {source("tone.wav"), "wav", "wav", ConversionError::outputNameUnavailable(source("tone.wav"))},
        {subtitles, "mkv", "mp4", ConversionError::unsupportedCombination("MKV with no video track", "MP4")},
        {subtitles, "mkv", "gif", ConversionError::unsupportedCombination("MKV with no video track", "GIF")},
        {subtitles, "mkv", "mp3", ConversionError::unsupportedCombination("MKV with no audio track", "MP3")},
        {source("tone.wav"), "wav", "png", ConversionError::unsupportedCombination("WAV with no video track", "PNG")},
    };
    for (const auto& c : cases) {
        const fs::path out = c.expected.kind() == ConversionError::Kind::outputNameUnavailable ? c.source : destination;
        const auto error = conversionError([&] { ffmpeg.convert(mediaJob(c.source, out, c.from, c.to), nullptr, {}); });
        EXPECT_EQ(error, c.expected) << c.source << ": " << error.what();
        EXPECT_FALSE(fs::exists(destination)) << c.source;
    }
    EXPECT_EQ(testing::readFile(source("tone.wav")).size(), fs::file_size(source("tone.wav")));
    EXPECT_GT(fs::file_size(source("tone.wav")), 0u);
}

}  // namespace
}  // namespace kolvex
