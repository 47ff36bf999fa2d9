// SPDX-License-Identifier: GPL-3.0-or-later
// Sound files through the engines as the tray has them (its engine modules and the coordinator):
// compress, and every channel layout and sample rate ffmpeg lists into every sound target.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/conversion/ConversionCoordinator.h"
#include "core/conversion/SizeEstimator.h"
#include "core/ffmpeg/ContainerCompatibility.h"
#include "core/format/FormatRegistry.h"
#include "core/modules/EngineModules.h"
#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

// The tray's engines over the shipped manifest: the in-process ones and FFmpeg, as it wires them.
struct TrayEngines {
    FormatRegistry registry = FormatRegistry::loadBundled();
    ConversionCoordinator coordinator{registry, engines()};

    static ConversionCoordinator::Engines engines() {
        auto list = EngineModules::inProcessEngines();
        list.push_back(EngineModules::ffmpegEngine(BundledFFmpeg(systemFFmpeg()), std::set<std::string>{}, list.front()));
        return list;
    }
};

std::string run(const fs::path& program, const std::vector<std::string>& arguments) {
    const auto result = ProcessRunner().run(program, arguments, std::chrono::seconds(60), nullptr, nullptr);
    return result.standardOutput() + result.standardError();
}


// What an independent reader makes of a sound file: its channels and rate, and whether all of it
// decodes without a word from the decoder.
struct Heard {
    std::string codec;
    int channels = 0;
    int64_t sampleRate = 0;
    bool decodes = false;
};

Heard hear(const fs::path& file) {
    // ffprobe decodes every frame to count them, and says so when one does not decode.
    const auto probed = ProcessRunner().run(systemFFprobe(),
                                            {"-v", "error", "-count_frames", "-select_streams", "a:0", "-show_entries",
                                             "stream=codec_name,sample_rate,channels,nb_read_frames", "-of",
                                             "csv=p=0", file.string()},
                                            std::chrono::seconds(60), nullptr, nullptr);
    Heard heard;
    std::istringstream entries(probed.standardOutput());
    std::getline(entries, heard.codec, ',');
    std::string rate, channels, frames;
    std::getline(entries, rate, ',');
    std::getline(entries, channels, ',');
    std::getline(entries, frames);
    heard.sampleRate = std::atoll(rate.c_str());
    heard.channels = std::atoi(channels.c_str());
    heard.decodes = probed.succeeded() && probed.standardError().empty() && std::atoll(frames.c_str()) > 0;
    return heard;
}

// The standard layouts as `ffmpeg -layouts` lists them.
std::vector<std::string> listedLayouts() {
    std::istringstream text(run(systemFFmpeg(), {"-hide_banner", "-layouts"}));
    std::vector<std::string> layouts;
    std::string line;
    bool standard = false;
    while (std::getline(text, line)) {
        if (line.starts_with("Standard channel layouts")) {
            standard = true;
            std::getline(text, line);  // the column heads
            continue;
        }
        std::istringstream words(line);
        std::string name;
        if (standard && words >> name) layouts.push_back(name);
    }
    return layouts;
}

// The rates an encoder lists as the ones it takes; empty when it takes any.
std::vector<int64_t> listedRates(const std::string& encoder) {
    std::istringstream text(run(systemFFmpeg(), {"-hide_banner", "-h", "encoder=" + encoder}));
    std::vector<int64_t> rates;
    std::string line;
    while (std::getline(text, line)) {
        const auto at = line.find("Supported sample rates:");
        if (at == std::string::npos) continue;
        std::istringstream numbers(line.substr(at + 23));
        int64_t rate = 0;
        while (numbers >> rate) rates.push_back(rate);
    }
    return rates;
}

// The rates an encoder of a codec (as ffprobe names it) lists; empty for a codec of any rate.
const std::vector<int64_t>& ratesOf(const std::string& codec) {
    static const std::map<std::string, std::vector<int64_t>> lists{
        {"mp3", listedRates("libmp3lame")}, {"aac", listedRates("aac")}, {"opus", listedRates("libopus")}};
    static const std::vector<int64_t> any;
    const auto it = lists.find(codec);
    return it == lists.end() ? any : it->second;
}

// A 2-second noise-like sound in `format` at 192 kb/s where the format is lossy.
fs::path soundFile(const fs::path& dir, const std::string& format) {
    const fs::path file = dir / ("song." + format);
    std::vector<std::string> args = {"-f", "lavfi", "-i", "anoisesrc=d=2:c=pink:r=44100:a=0.3", "-ac", "2"};
    static const std::map<std::string, std::vector<std::string>> encoding{
        {"mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}},  {"m4a", {"-c:a", "aac", "-b:a", "192k"}},
        {"aac", {"-c:a", "aac", "-b:a", "192k"}},         {"opus", {"-c:a", "libopus", "-b:a", "192k"}},
        {"ogg", {"-c:a", "libvorbis", "-b:a", "192k"}},   {"wav", {"-c:a", "pcm_s16le"}},
        {"aiff", {"-c:a", "pcm_s16be"}},                  {"flac", {"-c:a", "flac"}}};
    const auto it = encoding.find(format);
    if (it != encoding.end()) args.insert(args.end(), it->second.begin(), it->second.end());
    return makeMedia(file, args);
}

TEST(SoundThroughTheTray, CompressMakesEverySoundFileSmallerOrLeavesItAsTheSheetSaid) {
    KOLVEX_REQUIRE_FFMPEG();
    TrayEngines tray;
    const auto compress = tray.registry.tool("compress");
    ASSERT_TRUE(compress);
    ASSERT_TRUE(compress->categories.contains(FormatCategory::audio));
    const auto facts = EngineModules::mediaFacts();
    constexpr double kQuality = 0.6;  // the sheet's own start

    int rows = 0;
    for (const Format& format : tray.registry.allFormats()) {
        if (format.category != FormatCategory::audio) continue;
        ++rows;
        SCOPED_TRACE(format.id.rawValue);
        TempDir dir;
        const fs::path source = soundFile(dir.path(), format.id.rawValue);
        const int64_t sourceBytes = static_cast<int64_t>(fs::file_size(source));
        const std::string original = readFile(source);

        // What the sheet shows, read as the sheet reads it.
        const MediaProbe probe = facts->probe(source, {});
        const auto estimate = SizeEstimator::estimatedCompressedSize(source, probe, kQuality, format,
                                                                      &ContainerCompatibility::accepts);
        ASSERT_TRUE(estimate);
        const bool promisedSmaller = *estimate < sourceBytes;
        // A lossy file at 192 kb/s has room to shrink; a lossless one is said to stay.
        EXPECT_EQ(promisedSmaller, format.has(FormatCapability::lossy)) << "estimate " << *estimate << " of " << sourceBytes;

        ConversionOptions options;
        options.quality = kQuality;
        const auto results = tray.coordinator.submit(ToolIntent{{source}, "compress", options});
        ASSERT_EQ(results.size(), 1u);
        const ConversionResult& result = results.front();
        ASSERT_FALSE(result.error) << result.error->shortDescription() << " " << result.error->diagnosticDetail().value_or("");

        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(dir.path())) files.push_back(entry.path());
        if (!promisedSmaller) {
            // Nothing written, and the note says why.
            EXPECT_TRUE(result.outputs.empty());
            EXPECT_EQ(files, std::vector<fs::path>{source});
            ASSERT_TRUE(result.note);
            EXPECT_TRUE(result.note->starts_with("Left as it is")) << *result.note;
            continue;
        }
        ASSERT_EQ(result.outputs.size(), 1u);
        const fs::path output = result.outputs.front();
        EXPECT_EQ(files.size(), 2u);
        const int64_t outputBytes = static_cast<int64_t>(fs::file_size(output));
        EXPECT_LT(outputBytes, sourceBytes);
        EXPECT_NE(readFile(output), original) << "a copy of the source";
        // Near what the sheet said: within a third.
        EXPECT_NEAR(static_cast<double>(outputBytes), static_cast<double>(*estimate), *estimate / 3.0);
        EXPECT_TRUE(hear(output).decodes);
    }
    EXPECT_GE(rows, 1);
}

// The sound targets a source of `from` can become, as the manifest offers them.
std::vector<Format> soundTargets(const FormatRegistry& registry, const std::string& from) {
    std::vector<Format> targets;
    for (const Format& format : registry.allFormats())
        if (format.category == FormatCategory::audio && !registry.capabilities(FormatID(from), format.id).empty())
            targets.push_back(format);
    return targets;
}

TEST(SoundThroughTheTray, EveryLayoutAndRateBecomesEverySoundTarget) {
    KOLVEX_REQUIRE_FFMPEG();
    TrayEngines tray;
    TempDir dir;
    struct Source {
        fs::path file;
        int channels;
        int64_t rate;
    };
    // Every layout ffmpeg lists (as WAV, which holds any), and every rate an encoder of ours
    // lists or a master is made at (as FLAC), each 0.2 s long.
    std::vector<Source> sources;
    for (const std::string& layout : listedLayouts()) {
        const fs::path file = dir / fmt::format("layout {}.wav", layout);
        makeMedia(file, {"-f", "lavfi", "-i", "sine=f=440:r=48000:d=0.2", "-af", "aformat=channel_layouts=" + layout,
                         "-c:a", "pcm_s16le"});
        sources.push_back({file, std::stoi(probeEntry(file, "stream=channels", "a:0")), 48000});
    }
    std::set<int64_t> rates = {176400, 192000};
    for (const char* encoder : {"aac", "libopus", "libmp3lame"})
        for (int64_t rate : listedRates(encoder)) rates.insert(rate);
    for (int64_t rate : rates) {
        const fs::path file = dir / fmt::format("rate {}.flac", rate);
        makeMedia(file, {"-f", "lavfi", "-i", fmt::format("sine=f=440:r={}:d=0.2", rate), "-ac", "2", "-c:a", "flac"});
        sources.push_back({file, 2, rate});
    }
    ASSERT_GE(sources.size(), 29u + 13u);

    int conversions = 0;
    for (const char* from : {"wav", "flac"}) {
        for (const Format& target : soundTargets(tray.registry, from)) {
            std::vector<fs::path> urls;
            std::map<fs::path, Source> byFile;
            for (const Source& source : sources) {
                if (source.file.extension() != fmt::format(".{}", from)) continue;
                urls.push_back(source.file);
                byFile.emplace(source.file, source);
            }
            ConversionIntent intent{urls, target.id, {}, dir / target.id.rawValue};
            fs::create_directories(*intent.outputDirectory);
            for (const ConversionResult& result : tray.coordinator.submit(intent)) {
                const Source& source = byFile.at(result.source);
                SCOPED_TRACE(fmt::format("{} \u2192 {}", result.source.filename().string(), target.id.rawValue));
                ++conversions;
                if (result.error) {
                    // Refused, then with the reason, never a bare failure.
                    EXPECT_NE(result.error->kind(), ConversionError::Kind::backendFailure)
                        << result.error->diagnosticDetail().value_or("");
                    continue;
                }
                ASSERT_EQ(result.outputs.size(), 1u);
                const Heard heard = hear(result.outputs.front());
                EXPECT_TRUE(heard.decodes);
                // No channel lost but to a stereo-only format, none made up beyond a 5.1's room.
                const bool stereoAtMost = heard.codec == "mp3";
                const int most = stereoAtMost ? 2 : std::max(source.channels, 6);
                EXPECT_GE(heard.channels, std::min(source.channels, stereoAtMost ? 2 : 8));
                EXPECT_LE(heard.channels, std::min(most, target.has(FormatCapability::lossless) ? 24 : 8));
                // The source's rate, or the nearest its codec's encoder lists (Ogg Opus always
                // tells 48 kHz, the rate it decodes at).
                const auto& listed = ratesOf(heard.codec);
                if (heard.codec == "opus") {
                    EXPECT_EQ(heard.sampleRate, 48000);
                } else if (listed.empty()) {
                    EXPECT_EQ(heard.sampleRate, source.rate);
                } else {
                    const auto nearest = *std::min_element(listed.begin(), listed.end(), [&](int64_t a, int64_t b) {
                        return std::llabs(a - source.rate) < std::llabs(b - source.rate) ||
                               (std::llabs(a - source.rate) == std::llabs(b - source.rate) && a > b);
                    });
                    EXPECT_EQ(heard.sampleRate, nearest);
                }
            }
        }
    }
    EXPECT_GE(conversions, 100);
}

TEST(SoundThroughTheTray, AFilmsSurroundSoundBecomesEveryVideoTargetsSound) {
    KOLVEX_REQUIRE_FFMPEG();
    TrayEngines tray;
    TempDir dir;
    // A broadcast recording: MPEG-2 pictures, AC-3 sound in 5.1(side).
    const fs::path source = dir / "recording.mkv";
    makeMedia(source, {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:duration=0.3", "-f", "lavfi", "-i",
                       "sine=f=440:r=48000:d=0.3", "-af", "aformat=channel_layouts=5.1(side)", "-c:v", "mpeg2video",
                       "-c:a", "ac3"});
    int rows = 0;
    for (const Format& target : tray.registry.allFormats()) {
        if (target.category != FormatCategory::video || target.id.rawValue == "gif" ||
            tray.registry.capabilities(FormatID("mkv"), target.id).empty())
            continue;
        ++rows;
        SCOPED_TRACE(target.id.rawValue);
        ConversionIntent intent{{source}, target.id, {}, dir / target.id.rawValue};
        fs::create_directories(*intent.outputDirectory);
        const auto results = tray.coordinator.submit(intent);
        ASSERT_EQ(results.size(), 1u);
        ASSERT_FALSE(results.front().error) << results.front().error->shortDescription() << " "
                                            << results.front().error->diagnosticDetail().value_or("");
        const Heard heard = hear(results.front().outputs.front());
        EXPECT_TRUE(heard.decodes);
        EXPECT_EQ(heard.channels, 6) << heard.codec;
    }
    EXPECT_GE(rows, 1);
}

}  // namespace
}  // namespace kolvex::testing
