// SPDX-License-Identifier: GPL-3.0-or-later
// What an audio output keeps of its source — tags, cover, sample depth, a truthful length —
// checked with ffprobe and a full decode, for the in-process engine and ffmpeg alike.
#include <fstream>
#include <functional>
#include <map>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/engines/audio/AudioEngine.h"
#include "core/ffmpeg/AudioTagArguments.h"
#include "core/ffmpeg/FFmpegEngine.h"
#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const std::map<std::string, std::string> kTags = {
    {"title", "Night Train"}, {"artist", "Ana Ö"},  {"album", "Rails"},   {"album_artist", "Various"},
    {"track", "3/9"},         {"disc", "1/2"},      {"date", "2021"},     {"genre", "Jazz"},
    {"comment", "first take"},
};

std::vector<std::string> tagArguments() {
    std::vector<std::string> args;
    for (const auto& [key, value] : kTags) args.insert(args.end(), {"-metadata", key + "=" + value});
    return args;
}

// ffmpeg with lavfi inputs; fails the test when it fails.
void makeAudio(const fs::path& out, const std::vector<std::string>& middle) {
    std::vector<std::string> args = {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=330:duration=3:sample_rate=44100"};
    args.insert(args.end(), middle.begin(), middle.end());
    args.push_back(out.string());
    const auto result = ProcessRunner().run(testing::systemFFmpeg(), args, std::chrono::seconds(60), {}, {});
    ASSERT_EQ(result.exitCode, 0) << result.standardError();
}

// A source with every tag and, where the container holds one, a JPEG cover.
void makeTagged(const fs::path& out, const std::vector<std::string>& codec, bool cover) {
    std::vector<std::string> args;
    if (cover) args = {"-f", "lavfi", "-i", "testsrc=size=64x64:duration=1", "-map", "0:a", "-map", "1:v", "-frames:v", "1",
                       "-c:v", "mjpeg", "-disposition:v", "attached_pic"};
    args.insert(args.end(), codec.begin(), codec.end());
    const auto tags = tagArguments();
    args.insert(args.end(), tags.begin(), tags.end());
    makeAudio(out, args);
}

Json probe(const fs::path& file) {
    const auto result = ProcessRunner().run(testing::systemFFprobe(),
                                            {"-v", "error", "-show_streams", "-show_format", "-of", "json", file.string()},
                                            std::chrono::seconds(30), {}, {});
    if (result.exitCode != 0) return nullptr;
    return Json::parse(result.standardOutput(), nullptr, false);
}

// Tags with lower-case keys, from the file and its streams (Ogg keeps them on the stream).
std::map<std::string, std::string> tagsOf(const Json& report) {
    std::map<std::string, std::string> tags;
    auto take = [&](const Json& object) {
        const Json found = object.value("tags", Json::object());
        for (const auto& [key, value] : found.items()) {
            std::string lower;
            for (char c : key) lower += char(std::tolower(static_cast<unsigned char>(c)));
            if (value.is_string()) tags.emplace(lower, value.get<std::string>());
        }
    };
    take(report["format"]);
    for (const auto& stream : report["streams"]) take(stream);
    return tags;
}

bool hasCover(const Json& report) {
    for (const auto& stream : report["streams"])
        if (stream.value("disposition", Json::object()).value("attached_pic", 0) == 1) return true;
    return false;
}

Json audioStream(const Json& report) {
    for (const auto& stream : report["streams"])
        if (stream.value("codec_type", "") == "audio") return stream;
    return Json::object();
}

double number(const Json& value) {
    return value.is_string() ? std::stod(value.get<std::string>()) : value.is_number() ? value.get<double>() : -1;
}

// A full decode prints nothing.
void expectDecodesCleanly(const fs::path& file) {
    const auto result = ProcessRunner().run(testing::systemFFmpeg(), {"-v", "error", "-i", file.string(), "-f", "null", "-"},
                                            std::chrono::seconds(60), {}, {});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.standardError(), "") << file;
}

// The total sample count FLAC's STREAMINFO states.
int64_t flacTotalSamples(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    unsigned char head[26] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    if (!in || std::string(reinterpret_cast<char*>(head), 4) != "fLaC") return -1;
    // Marker (4), block header (4), then STREAMINFO: the count is the low 36 bits of bytes 13–17.
    const unsigned char* info = head + 8;
    return (int64_t(info[13] & 0x0F) << 32) | (int64_t(info[14]) << 24) | (int64_t(info[15]) << 16) |
           (int64_t(info[16]) << 8) | int64_t(info[17]);
}

class AudioOutput : public ::testing::Test {
protected:
    void SetUp() override { KOLVEX_REQUIRE_FFMPEG(); }

    std::vector<fs::path> viaFFmpeg(const fs::path& source, const std::string& from, const std::string& to,
                                    const fs::path& out, ConversionOptions options = ConversionOptions::defaults()) {
        const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
        return engine.convert(testing::mediaJob(source, out, from, to, std::move(options)), [](double) {}, {});
    }
    std::vector<fs::path> inProcess(const fs::path& source, const std::string& from, const std::string& to,
                                    const fs::path& out, ConversionOptions options = ConversionOptions::defaults()) {
        const ConversionJob job = testing::mediaJob(source, out, from, to, std::move(options));
        return AudioEngine().convert(job, [](double) {}, {});
    }

    testing::TempDir dir;
};

TEST_F(AudioOutput, TagsAndCoverAreKeptInEveryTargetThatHoldsThem) {
    makeTagged(dir / "s.mp3", {"-c:a", "libmp3lame", "-id3v2_version", "3"}, true);
    makeTagged(dir / "s.flac", {"-c:a", "flac"}, true);
    makeTagged(dir / "s.m4a", {"-c:a", "aac"}, true);
    makeTagged(dir / "s.opus", {"-c:a", "libopus"}, false);
    enum class Engine { inProcess, ffmpeg };
    struct Case {
        Engine engine;
        std::string from, to;
        bool cover;  // the output must hold the cover
        ConversionOptions options = ConversionOptions::defaults();
    };
    auto trim = ConversionOptions::defaults();
    trim.tool = "trim";
    trim.trimStart = 0.5;
    trim.trimEnd = 2.0;
    trim.allowPassthrough = true;
    auto compress = ConversionOptions::defaults();
    compress.tool = "compress";
    compress.quality = 0.3;
    auto normalize = ConversionOptions::defaults();
    normalize.tool = "normalize";
    const std::vector<Case> cases = {
        {Engine::inProcess, "mp3", "m4a", true},       {Engine::inProcess, "flac", "m4a", true},
        {Engine::inProcess, "m4a", "aiff", true},      {Engine::inProcess, "mp3", "wav", false},
        {Engine::inProcess, "m4a", "m4a", true, compress},
        {Engine::ffmpeg, "mp3", "flac", true},         {Engine::ffmpeg, "flac", "mp3", true},
        {Engine::ffmpeg, "flac", "aiff", true},        {Engine::ffmpeg, "m4a", "mp3", true},
        {Engine::ffmpeg, "opus", "m4a", false},        {Engine::ffmpeg, "mp3", "opus", false},
        {Engine::ffmpeg, "mp3", "mp3", true, trim},    {Engine::ffmpeg, "flac", "flac", true, trim},
        {Engine::ffmpeg, "m4a", "m4a", true, trim},    {Engine::ffmpeg, "mp3", "mp3", true, normalize},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from + " → " + c.to + (c.options.tool ? " " + *c.options.tool : "") +
                     (c.engine == Engine::ffmpeg ? " (ffmpeg)" : " (in process)"));
        const fs::path source = dir / ("s." + c.from);
        const fs::path out = dir / fmt::format("out{}.{}", n++, c.to);
        if (c.engine == Engine::ffmpeg)
            viaFFmpeg(source, c.from, c.to, out, c.options);
        else
            inProcess(source, c.from, c.to, out, c.options);
        const Json report = probe(out);
        ASSERT_FALSE(report.is_null());
        const auto tags = tagsOf(report);
        // WAV's INFO list holds only the common fields.
        const std::vector<std::string> keys = c.to == "wav" ? std::vector<std::string>{"title", "artist", "genre", "comment"}
                                                             : std::vector<std::string>{"title", "artist", "album", "album_artist",
                                                                                        "date", "genre", "comment"};
        for (const auto& key : keys) {
            const auto found = tags.find(key);
            EXPECT_TRUE(found != tags.end() && found->second == kTags.at(key)) << key << " in " << report["format"].dump();
        }
        if (c.to != "wav") {
            EXPECT_TRUE(tags.contains("track") && tags.at("track").starts_with("3")) << report["format"].dump();
            EXPECT_TRUE(tags.contains("disc") && tags.at("disc").starts_with("1")) << report["format"].dump();
        }
        EXPECT_EQ(hasCover(report), c.cover);
        expectDecodesCleanly(out);
    }
}

TEST_F(AudioOutput, WithoutMetadataNoTagAndNoCoverIsWritten) {
    makeTagged(dir / "s.mp3", {"-c:a", "libmp3lame"}, true);
    auto strip = ConversionOptions::defaults();
    strip.preserveMetadata = false;
    const std::vector<std::pair<std::string, bool>> targets = {{"m4a", false}, {"aiff", false}, {"flac", true}, {"mp3", true}};
    for (const auto& [to, ffmpeg] : targets) {
        SCOPED_TRACE(to);
        const fs::path out = dir / ("stripped." + to);
        if (ffmpeg)
            viaFFmpeg(dir / "s.mp3", "mp3", to, out, strip);
        else
            inProcess(dir / "s.mp3", "mp3", to, out, strip);
        const Json report = probe(out);
        const auto tags = tagsOf(report);
        for (const auto& [key, value] : kTags) EXPECT_FALSE(tags.contains(key)) << key;
        EXPECT_FALSE(hasCover(report));
    }
}

TEST_F(AudioOutput, ACoverTheTargetCannotHoldIsLeftOutWithANote) {
    makeTagged(dir / "s.mp3", {"-c:a", "libmp3lame"}, true);
    const FFmpegEngine ffmpeg(BundledFFmpeg::inBundle(), nullptr, {});
    const auto toOpus = ffmpeg.convertReporting(testing::mediaJob(dir / "s.mp3", dir / "s.opus", "mp3", "opus"), [](double) {}, {});
    EXPECT_EQ(toOpus.note, "1 cover picture was left out");
    const auto toWav = AudioEngine().convertReporting(testing::mediaJob(dir / "s.mp3", dir / "s.wav", "mp3", "wav"), [](double) {}, {});
    EXPECT_EQ(toWav.note, "1 cover picture was left out");
    const auto toM4a = AudioEngine().convertReporting(testing::mediaJob(dir / "s.mp3", dir / "s.m4a", "mp3", "m4a"), [](double) {}, {});
    EXPECT_EQ(toM4a.note, std::nullopt);
    for (const auto* name : {"s.opus", "s.wav", "s.m4a"}) expectDecodesCleanly(dir / name);
}

TEST_F(AudioOutput, CoverATargetCannotHoldIsReportedNotFatal) {
    ConversionJob job = testing::mediaJob("/a.mp3", "/b.opus", "mp3", "opus");
    MediaProbe withCover;
    withCover.audioCodec = "mp3";
    withCover.coverCodec = "mjpeg";
    withCover.coverStreamIndex = 1;
    EXPECT_TRUE(AudioTagArguments::dropsCover(job, withCover));
    job.to = testing::mediaFormat("m4a");
    EXPECT_FALSE(AudioTagArguments::dropsCover(job, withCover));
    withCover.coverCodec = "bmp";
    EXPECT_TRUE(AudioTagArguments::dropsCover(job, withCover));
    job.options.preserveMetadata = false;
    EXPECT_FALSE(AudioTagArguments::dropsCover(job, withCover));
}

TEST_F(AudioOutput, LosslessTargetsKeepTheSourceBitDepth) {
    makeAudio(dir / "s24.wav", {"-c:a", "pcm_s24le"});
    makeAudio(dir / "s32.wav", {"-c:a", "pcm_s32le"});
    makeAudio(dir / "s24.flac", {"-c:a", "flac", "-sample_fmt", "s32"});
    makeAudio(dir / "s24.m4a", {"-c:a", "alac", "-sample_fmt", "s32p"});
    makeAudio(dir / "s16.flac", {"-c:a", "flac", "-sample_fmt", "s16"});
    struct Case {
        std::string source, from, to;
        bool ffmpeg;
        std::string codec;
    };
    const std::vector<Case> cases = {
        {"s24.wav", "wav", "aiff", false, "pcm_s24be"},  {"s32.wav", "wav", "wav", false, "pcm_s24le"},
        {"s24.flac", "flac", "wav", false, "pcm_s24le"}, {"s24.m4a", "m4a", "aiff", false, "pcm_s24be"},
        {"s16.flac", "flac", "wav", false, "pcm_s16le"}, {"s24.flac", "flac", "aiff", true, "pcm_s24be"},
        {"s24.wav", "wav", "flac", true, "flac"},        {"s16.flac", "flac", "wav", true, "pcm_s16le"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source + " → " + c.to + (c.ffmpeg ? " (ffmpeg)" : " (in process)"));
        const fs::path out = dir / fmt::format("depth{}.{}", n++, c.to);
        if (c.ffmpeg)
            viaFFmpeg(dir / c.source, c.from, c.to, out);
        else
            inProcess(dir / c.source, c.from, c.to, out);
        const Json stream = audioStream(probe(out));
        EXPECT_EQ(stream.value("codec_name", ""), c.codec);
        const bool deep = c.source.find("16") == std::string::npos;
        const int bits = std::max(int(number(stream.value("bits_per_sample", Json(0)))), int(number(stream.value("bits_per_raw_sample", Json("0")))));
        EXPECT_EQ(bits, deep ? 24 : 16) << stream.dump();
        expectDecodesCleanly(out);
    }
}

TEST_F(AudioOutput, TrimmedAndSplitFlacStatesItsOwnLength) {
    makeAudio(dir / "s.flac", {"-c:a", "flac"});
    auto trim = ConversionOptions::defaults();
    trim.tool = "trim";
    trim.trimStart = 1.0;
    trim.trimEnd = 2.0;
    trim.allowPassthrough = true;
    viaFFmpeg(dir / "s.flac", "flac", "flac", dir / "cut.flac", trim);
    const Json cut = probe(dir / "cut.flac");
    EXPECT_NEAR(number(cut["format"]["duration"]), 1.0, 0.03);
    EXPECT_NEAR(number(audioStream(cut).value("start_time", Json("0"))), 0.0, 0.001);
    EXPECT_NEAR(double(flacTotalSamples(dir / "cut.flac")), 44100.0, 1200.0);
    expectDecodesCleanly(dir / "cut.flac");

    auto split = ConversionOptions::defaults();
    split.tool = "split";
    split.splitPoints = {1.5};
    split.allowPassthrough = true;
    const auto parts = viaFFmpeg(dir / "s.flac", "flac", "flac", dir / "s.flac", split);
    ASSERT_EQ(parts.size(), 2u);
    int64_t total = 0;
    for (const auto& part : parts) {
        const int64_t samples = flacTotalSamples(part);
        EXPECT_NEAR(double(samples), 1.5 * 44100, 1200.0) << part;
        EXPECT_NEAR(number(probe(part)["format"]["duration"]), 1.5, 0.03);
        total += samples;
        expectDecodesCleanly(part);
    }
    // The parts do not overlap: together they are the source.
    EXPECT_NEAR(double(total), 3.0 * 44100, 1200.0);
}

TEST_F(AudioOutput, ASourceCutShortNeverYieldsAHeaderClaimingMore) {
    makeAudio(dir / "whole.flac", {"-c:a", "flac"});
    const auto size = fs::file_size(dir / "whole.flac");
    fs::copy_file(dir / "whole.flac", dir / "cut.flac");
    fs::resize_file(dir / "cut.flac", size / 2);
    auto strip = ConversionOptions::defaults();
    strip.tool = "strip-metadata";
    strip.allowPassthrough = true;
    viaFFmpeg(dir / "cut.flac", "flac", "flac", dir / "out.flac", strip);
    // What a decoder gets out of the file is what its header says it holds.
    const auto decoded = ProcessRunner().run(testing::systemFFmpeg(),
                                             {"-v", "quiet", "-i", (dir / "out.flac").string(), "-f", "s16le", "-ac", "1", "-"},
                                             std::chrono::seconds(30), {}, {});
    const auto samples = int64_t(decoded.standardOutputData.size() / 2);
    EXPECT_LT(samples, 3 * 44100 * 3 / 4);
    EXPECT_NEAR(double(flacTotalSamples(dir / "out.flac")), double(samples), 1.0);
}

}  // namespace
}  // namespace kolvex
