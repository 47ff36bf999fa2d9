// SPDX-License-Identifier: GPL-3.0-or-later
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AudioFixtures.h"
#include "core/engines/audio/AacBitrates.h"
#include "core/engines/audio/AudioEngine.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::AudioFixtures;
using testing::TempDir;
using Encoding = AudioOutputSettings::Encoding;

ConversionOptions withTool(std::optional<std::string> tool) {
    ConversionOptions o = ConversionOptions::defaults();
    o.tool = std::move(tool);
    return o;
}

double number(const nlohmann::json& value) {
    return value.is_string() ? std::stod(value.get<std::string>()) : value.get<double>();
}

// Runs a conversion and returns the error it threw, if any.
std::optional<ConversionError> convertCatching(const ConversionJob& job) {
    try {
        AudioEngine().convert(job, [](double) {}, {});
    } catch (const ConversionError& e) {
        return e;
    }
    return std::nullopt;
}

class AudioEngineFiles : public ::testing::Test {
protected:
    void SetUp() override { KOLVEX_REQUIRE_FFMPEG(); }
    // A 440 Hz tone made with ffmpeg, `extra` arguments placed before the file name.
    fs::path sine(const std::string& name, std::vector<std::string> extra = {}, double seconds = 0.5) {
        std::vector<std::string> arguments{"-f", "lavfi", "-i",
                                           "sine=frequency=440:duration=" + std::to_string(seconds) + ":sample_rate=44100"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return testing::makeMedia(dir / name, arguments);
    }
    TempDir dir;
};

TEST(AudioEngine, CanHandleChecksToolsTrimsFormatsAndTargets) {
    const auto job = [](const std::string& from, const std::string& to, ConversionOptions o) {
        return AudioFixtures::job("/in/a." + from, from, "/out/b." + to, to, std::move(o));
    };
    AudioEngine engine;
    EXPECT_EQ(engine.id(), EngineID("audio"));
    for (const char* from : {"mp3", "m4a", "wav", "aiff", "flac", "aac"}) {
        for (const char* to : {"m4a", "wav", "aiff"}) {
            EXPECT_TRUE(engine.canHandle(job(from, to, ConversionOptions::defaults()))) << from << "→" << to;
        }
    }
    for (const char* to : {"mp3", "aac", "flac", "ogg"}) EXPECT_FALSE(engine.canHandle(job("wav", to, {})));
    EXPECT_FALSE(engine.canHandle(job("ogg", "wav", {})));
    EXPECT_TRUE(engine.canHandle(job("m4a", "m4a", withTool("compress"))));
    EXPECT_TRUE(engine.canHandle(job("mp3", "m4a", withTool("strip-metadata"))));
    EXPECT_FALSE(engine.canHandle(job("wav", "m4a", withTool("trim"))));
    EXPECT_FALSE(engine.canHandle(job("wav", "m4a", withTool("resize"))));
    auto trimmed = ConversionOptions::defaults();
    trimmed.trimStart = 1;
    EXPECT_FALSE(engine.canHandle(job("wav", "m4a", trimmed)));
    trimmed = ConversionOptions::defaults();
    trimmed.trimEnd = 2;
    EXPECT_FALSE(engine.canHandle(job("wav", "m4a", trimmed)));
    auto video = job("wav", "m4a", {});
    video.to.category = FormatCategory::video;
    EXPECT_FALSE(engine.canHandle(video));
}

TEST(AudioEngine, SettingsForASourceWithoutChannelsAndATargetItCannotWrite) {
    EXPECT_FALSE(AudioEngine::settings(AudioFixtures::job("/a.wav", "wav", "/b.mp3", "mp3"), {44100, 2}, std::nullopt));
    // A source that reports no channels is written with one; a requested rate wins.
    auto options = ConversionOptions::defaults();
    options.sampleRate = 48000;
    auto mono = AudioEngine::settings(AudioFixtures::job("/a.wav", "wav", "/b.wav", "wav", options), {22050, 0},
                                      std::nullopt);
    ASSERT_TRUE(mono);
    EXPECT_EQ(mono->channels, 1);
    EXPECT_EQ(mono->sampleRate, 48000);
}

TEST(AudioEngine, AacBitrateRules) {
    struct Row {
        const char* name;
        std::optional<std::string> tool;
        std::optional<double> quality;
        std::optional<int64_t> audioBitrate;
        std::optional<int64_t> sourceBitrate;
        int64_t expected;
    };
    const Row rows[] = {
        {"no quality asks for 192k", std::nullopt, std::nullopt, std::nullopt, 256000, 192000},
        {"quality 0 gives 64k", std::nullopt, 0.0, std::nullopt, std::nullopt, 64000},
        {"quality 0.5 gives 192k", std::nullopt, 0.5, std::nullopt, std::nullopt, 192000},
        {"quality 1 gives 320k", std::nullopt, 1.0, std::nullopt, std::nullopt, 320000},
        // compress with a known source rate: 256000 × (0.35 + 0.45 × 0.5) = 147200 → nearest 144000
        {"compress follows the source", "compress", 0.5, std::nullopt, 256000, 144000},
        {"compress without source rate", "compress", 0.5, std::nullopt, std::nullopt, 192000},
        {"explicit rate wins", "compress", 0.5, 96000, 256000, 96000},
        {"explicit rate snaps", std::nullopt, std::nullopt, 100000, std::nullopt, 96000},
    };
    for (const auto& row : rows) {
        auto options = withTool(row.tool);
        options.quality = row.quality;
        options.audioBitrate = row.audioBitrate;
        auto s = AudioEngine::settings(AudioFixtures::job("/a.m4a", "m4a", "/b.m4a", "m4a", options), {44100, 2},
                                       row.sourceBitrate);
        ASSERT_TRUE(s) << row.name;
        EXPECT_EQ(s->format, Encoding::mpeg4AAC) << row.name;
        EXPECT_EQ(s->bitRate, row.expected) << row.name;
    }
    // A sample rate AAC cannot carry is written at the nearest one it can, with its bit rate;
    // PCM has no rate list.
    auto options = ConversionOptions::defaults();
    options.sampleRate = 37000;
    auto odd = AudioEngine::settings(AudioFixtures::job("/a.wav", "wav", "/b.m4a", "m4a", options), {44100, 2},
                                     std::nullopt);
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->sampleRate, 32000);
    EXPECT_TRUE(odd->bitRate);
    EXPECT_FALSE(AudioEngine::nearestSupportedBitrate(128000, Encoding::linearPCM, 44100, 2));
}

TEST(AudioEngine, NearestBitrateKeepsTheEarlierOnATieAndFitsTheChannels) {
    // 68000 is as far from 64000 as from 72000.
    EXPECT_EQ(AudioEngine::nearestSupportedBitrate(68000, Encoding::mpeg4AAC, 44100, 2), 64000);
    EXPECT_EQ(AudioEngine::nearestSupportedBitrate(1000000, Encoding::mpeg4AAC, 44100, 2), 320000);
    EXPECT_EQ(AudioEngine::nearestSupportedBitrate(1000000, Encoding::mpeg4AAC, 44100, 1), 160000);
    EXPECT_EQ(AudioEngine::nearestSupportedBitrate(1000, Encoding::mpeg4AAC, 44100, 2), 32000);
    // An 8 kHz frame cannot hold more than 48 kbit/s per channel.
    EXPECT_EQ(AudioEngine::nearestSupportedBitrate(320000, Encoding::mpeg4AAC, 8000, 1), 48000);
    EXPECT_TRUE(AacBitrates::applicable(44100, 9).empty());
}

TEST_F(AudioEngineFiles, ConvertsEveryReadableSourceToEveryTarget) {
    struct Source {
        std::string id;
        std::string file;
        std::vector<std::string> args;
    };
    const std::vector<Source> sources{
        {"wav", "s.wav", {"-ac", "2"}},
        {"mp3", "s.mp3", {"-ac", "2", "-metadata", "title=Private"}},
        {"m4a", "s.m4a", {"-ac", "2", "-metadata", "title=Private"}},
        {"flac", "s.flac", {"-metadata", "title=Private"}},
        {"aiff", "s.aiff", {}},
        {"aac", "s.aac", {"-ac", "2"}},
    };
    struct Target {
        std::string id;
        std::string codec;
        std::string container;
    };
    const std::vector<Target> targets{{"m4a", "aac", "mov,mp4,m4a,3gp,3g2,mj2"},
                                      {"wav", "pcm_s16le", "wav"},
                                      {"aiff", "pcm_s16be", "aiff"}};
    for (const auto& source : sources) {
        auto input = sine(source.file, source.args);
        const int channels = AudioFixtures::probe(input)["streams"][0]["channels"].get<int>();
        for (const auto& target : targets) {
            SCOPED_TRACE(source.id + " → " + target.id);
            auto out = dir / ("out-" + source.id + "." + target.id);
            auto outputs = AudioEngine().convert(AudioFixtures::job(input, source.id, out, target.id),
                                                 [](double) {}, {});
            ASSERT_EQ(outputs, std::vector<fs::path>{out});
            auto report = AudioFixtures::probe(out);
            ASSERT_FALSE(report.is_null());
            const auto& stream = report["streams"][0];
            EXPECT_EQ(stream["codec_name"], target.codec);
            EXPECT_EQ(report["format"]["format_name"], target.container);
            EXPECT_EQ(stream["sample_rate"], "44100");
            EXPECT_EQ(stream["channels"], channels);
            EXPECT_NEAR(number(report["format"]["duration"]), 0.5, 0.06);
            // The source's tags are carried (WAV's INFO list included); no encoder name is written.
            const auto tags = report["format"].value("tags", nlohmann::json::object());
            if (source.id == "mp3" || source.id == "m4a" || source.id == "flac") {
                EXPECT_EQ(tags.value("title", ""), "Private") << tags.dump();
            }
            EXPECT_FALSE(tags.contains("encoder")) << tags.dump();
            EXPECT_FALSE(stream.value("tags", nlohmann::json::object()).contains("encoder"));
        }
    }
}

TEST_F(AudioEngineFiles, ResamplesToARequestedRateAndReportsProgress) {
    auto input = sine("in.wav", {}, 2.0);
    auto options = ConversionOptions::defaults();
    options.sampleRate = 48000;
    options.audioBitrate = 96000;
    std::vector<double> seen;
    std::mutex lock;
    auto out = dir / "out.m4a";
    AudioEngine().convert(AudioFixtures::job(input, "wav", out, "m4a", options),
                          [&](double f) {
                              std::lock_guard guard(lock);
                              seen.push_back(f);
                          },
                          {});
    auto report = AudioFixtures::probe(out);
    EXPECT_EQ(report["streams"][0]["sample_rate"], "48000");
    EXPECT_NEAR(number(report["format"]["duration"]), 2.0, 0.06);
    EXPECT_NEAR(number(report["streams"][0]["bit_rate"]), 96000, 20000);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_DOUBLE_EQ(seen.front(), 0.02);
    EXPECT_DOUBLE_EQ(seen.back(), 1.0);
    for (size_t i = 1; i + 1 < seen.size(); ++i) {
        EXPECT_GE(seen[i], seen[i - 1]);
        EXPECT_LE(seen[i], 0.98);
    }
}

TEST_F(AudioEngineFiles, BadInputFailsCleanlyAndWritesNothing) {
    auto wav = sine("good.wav", {"-ac", "2"});
    auto flac = sine("good.flac");
    auto mp3 = sine("good.mp3");
    const std::string wavBytes = testing::readFile(wav);
    const std::string flacBytes = testing::readFile(flac);
    const std::string mp3Bytes = testing::readFile(mp3);
    struct Row {
        std::string name;
        std::string from;
        std::string bytes;
    };
    const std::vector<Row> rows{
        {"text.mp3", "mp3", "This is a shopping list, not a song.\nMilk\nEggs\n"},
        {"empty.wav", "wav", ""},
        // A playlist posing as a song must not make the reader open what it lists.
        {"playlist.mp3", "mp3", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n" + mp3.string() + "\n#EXT-X-ENDLIST\n"},
        {"concat.mp3", "mp3", "ffconcat version 1.0\nfile '" + wav.string() + "'\n"},
        {"cut.wav", "wav", wavBytes.substr(0, wavBytes.size() / 3)},
        {"cut.flac", "flac", flacBytes.substr(0, flacBytes.size() / 2)},
        {"cut.mp3", "mp3", mp3Bytes.substr(0, mp3Bytes.size() / 2)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto input = dir.write(row.name, row.bytes);
        for (const char* target : {"wav", "m4a"}) {
            auto out = dir / (row.name + "-out." + target);
            auto error = convertCatching(AudioFixtures::job(input, row.from, out, target));
            ASSERT_TRUE(error) << target;
            EXPECT_EQ(error->kind(), ConversionError::Kind::corruptedInput) << error->what();
            EXPECT_EQ(error->url(), input);
            EXPECT_FALSE(fs::exists(out));
        }
    }
}

TEST_F(AudioEngineFiles, WavHeaderWithZeroFramesWritesAnEmptyButValidFile) {
    const std::string wav = testing::readFile(sine("good.wav"));
    const auto data = wav.find("data");
    ASSERT_NE(data, std::string::npos);
    std::string header = wav.substr(0, data + 8);
    header.replace(data + 4, 4, std::string(4, '\0'));
    auto input = dir.write("zero.wav", header);
    for (const char* target : {"wav", "aiff", "m4a"}) {
        auto out = dir / (std::string("zero-out.") + target);
        AudioEngine().convert(AudioFixtures::job(input, "wav", out, target), [](double) {}, {});
        EXPECT_GT(fs::file_size(out), 0u);
        EXPECT_FALSE(AudioFixtures::probe(out).is_null()) << target;
    }
}

TEST_F(AudioEngineFiles, ARateTheEncoderDoesNotTakeIsWrittenAtTheNearestItDoes) {
    auto input = sine("in.wav");
    auto options = ConversionOptions::defaults();
    options.sampleRate = 37000;
    auto out = dir / "odd.m4a";
    ASSERT_FALSE(convertCatching(AudioFixtures::job(input, "wav", out, "m4a", options)));
    EXPECT_EQ(number(AudioFixtures::probe(out)["streams"][0]["sample_rate"]), 32000);
}

TEST_F(AudioEngineFiles, CompressThatWouldNotShrinkLeavesTheFileAndWritesNothing) {
    // Below the lowest rate a compress goes to.
    auto input = sine("small.m4a", {"-b:a", "24k", "-ac", "1"}, 1.0);
    auto options = withTool("compress");
    options.quality = 0.6;
    auto out = dir / "small-compressed.m4a";
    const auto outcome =
        AudioEngine().convertReporting(AudioFixtures::job(input, "m4a", out, "m4a", options), [](double) {}, {});
    EXPECT_TRUE(outcome.leftAsItIs);
    EXPECT_TRUE(outcome.outputs.empty());
    ASSERT_TRUE(outcome.note);
    EXPECT_TRUE(outcome.note->starts_with("Left as it is")) << *outcome.note;
    EXPECT_FALSE(fs::exists(out));

    // A compress that pays off keeps its own output.
    auto big = sine("big.m4a", {"-b:a", "256k", "-ac", "2"}, 1.0);
    auto smaller = dir / "big-compressed.m4a";
    const auto shrunk =
        AudioEngine().convertReporting(AudioFixtures::job(big, "m4a", smaller, "m4a", options), [](double) {}, {});
    ASSERT_FALSE(shrunk.leftAsItIs) << shrunk.note.value_or("");
    EXPECT_LT(fs::file_size(smaller), fs::file_size(big));
}

}  // namespace
}  // namespace kolvex
