// SPDX-License-Identifier: GPL-3.0-or-later
// Media as cameras, phones and other tools write them — an edit list hiding a copied cut's
// lead-in, sound or pictures that start late, a start time that is not 0, AVI at 29.97 and 25
// pictures a second in its usual codecs, lossless sound inside video containers, a display matrix
// that is no rotation — merged and converted, judged by ffmpeg's decoders: every picture a
// player shows of the sources, in order and once, the click where it was against the flash, and
// lossless sound kept lossless.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <set>

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
using testing::JoinMarks;
using testing::MediaReport;
using Args = std::vector<std::string>;

constexpr double kSeconds = 1.2;
constexpr double kFlash = 0.7;  // the flash and the click, on the source's own clock
constexpr int kRate = 48000;

struct Source {
    std::string name;
    std::string extension;
    Args codecs;               // ffmpeg's output arguments
    std::string rate = "25";   // pictures a second
    std::string size = "64x48";
    Args copiedFrom = {};      // a copy of the made file with these input options (a copied cut)
    bool zeroMatrix = false;   // the picture track's display matrix zeroed afterwards
};

const Args kH264 = {"-c:v", "libx264", "-bf", "2", "-g", "50"};

Args operator+(Args a, const Args& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Every kind real files come in that the plain rows of the other matrices do not make.
const std::vector<Source>& sources() {
    static const std::vector<Source> all = {
        {"plain", "mp4", kH264 + Args{"-c:a", "aac"}},
        // Matroska states no encoder delay: the AAC priming plays from 0, and the pictures start
        // after it, between two of their own grid's places.
        {"plain", "mkv", kH264 + Args{"-c:a", "aac"}},
        // ffmpeg -ss 0.3 -i … -c copy: the edit list hides the pictures from the keyframe before.
        {"edit list", "mp4", kH264 + Args{"-c:a", "aac"}, "25", "64x48", {"-ss", "0.3"}},
        {"sound late", "mp4", kH264 + Args{"-c:a", "aac", "-af", "atrim=start=0.48"}},
        {"sound late", "mkv", kH264 + Args{"-c:a", "aac", "-af", "atrim=start=0.48"}},
        {"picture late", "mkv", kH264 + Args{"-c:a", "aac", "-vf", "trim=start=0.42"}},
        {"start at 2 s", "mkv", kH264 + Args{"-c:a", "aac", "-output_ts_offset", "2"}},
        {"DV 29.97", "avi", {"-c:v", "dvvideo", "-pix_fmt", "yuv411p", "-c:a", "pcm_s16le"}, "30000/1001", "720x480"},
        {"MJPEG", "avi", {"-c:v", "mjpeg", "-q:v", "3", "-c:a", "pcm_s16le"}},
        {"H.264 and AC-3", "avi", kH264 + Args{"-c:a", "ac3"}},
        {"MPEG-4 and MP3", "avi", {"-c:v", "mpeg4", "-q:v", "3", "-c:a", "libmp3lame"}},
        {"ALAC", "mov", kH264 + Args{"-c:a", "alac"}},
        {"ALAC", "mp4", kH264 + Args{"-c:a", "alac"}},
        {"ALAC", "mkv", kH264 + Args{"-c:a", "alac"}},
        {"PCM", "mov", kH264 + Args{"-c:a", "pcm_s16le"}},
        {"PCM", "mkv", kH264 + Args{"-c:a", "pcm_s16le"}},
        {"FLAC", "mkv", kH264 + Args{"-c:a", "flac"}},
        {"no-rotation matrix", "mp4", kH264 + Args{"-c:a", "aac"}, "25", "64x48", {}, true},
    };
    return all;
}

std::string fileName(const Source& source) { return source.name + "." + source.extension; }

// A track header's matrix (QuickTime's "tkhd", the first is the pictures'), zeroed in place.
void zeroFirstMatrix(const fs::path& file) {
    std::fstream io(file, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(io)), std::istreambuf_iterator<char>());
    const size_t at = bytes.find("tkhd");
    ASSERT_NE(at, std::string::npos);
    // After the version (1: 64-bit times), times, track, duration, layer, group and volume.
    const size_t matrix = at + 4 + (bytes[at + 4] == 1 ? 52 : 40);
    io.seekp(static_cast<std::streamoff>(matrix));
    io.write(std::string(36, '\0').data(), 36);
    ASSERT_TRUE(io.good());
}

// Numbers shown before the first picture changes are one picture held (a late picture shown from
// the output's start): counted once.
std::vector<int> heldOnce(std::vector<int> numbers) {
    while (numbers.size() > 1 && numbers[1] == numbers[0]) numbers.erase(numbers.begin());
    return numbers;
}

class RealFileMatrix : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testing::haveFFmpeg()) return;
        s_dir = new testing::TempDir;
        for (const auto& source : sources()) {
            const fs::path file = *s_dir / fileName(source);
            const fs::path made = source.copiedFrom.empty() ? file : *s_dir / ("made " + fileName(source));
            Args args = JoinMarks::numberedPictures(kSeconds, source.rate, source.size, kFlash);
            args = args + Args{"-f", "lavfi", "-i",
                               fmt::format("aevalsrc='if(between(t\\,{0}\\,{1})\\,0.9*sin(2*PI*3000*t)\\,"
                                           "0.3*sin(2*PI*1000*t))':s={2}:d={3}",
                                           kFlash, kFlash + 0.1, kRate, kSeconds)};
            testing::makeMedia(made, args + source.codecs);
            if (!source.copiedFrom.empty())
                testing::makeMedia(file, source.copiedFrom + Args{"-i", made.string(), "-c", "copy"});
            if (source.zeroMatrix) zeroFirstMatrix(file);
        }
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override { KOLVEX_REQUIRE_FFMPEG(); }

    static fs::path path(const std::string& name) { return *s_dir / name; }

    ConversionOutcome run(const std::vector<std::string>& names, const std::string& to, const std::optional<std::string>& tool) {
        ConversionOptions options = Preferences{}.conversionOptions(FormatCategory::video);
        options.tool = tool;
        const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
        const std::string from = fs::path(names.front()).extension().string().substr(1);
        auto job = testing::mediaJob(path(names.front()), m_out / ("out." + to), from, to, options);
        for (size_t i = 1; i < names.size(); ++i) job.additionalSources.push_back(path(names[i]));
        return engine.convertReporting(job, nullptr, {});
    }

    // How far the click lies after the flash in a file, and where each lies.
    static std::vector<double> clickAfterFlash(const fs::path& file) {
        const JoinMarks marks = JoinMarks::of(file);
        EXPECT_EQ(marks.pictures.size(), marks.bursts.size()) << file.filename();
        std::vector<double> lags;
        for (size_t i = 0; i < std::min(marks.pictures.size(), marks.bursts.size()); ++i)
            lags.push_back(marks.bursts[i] - marks.pictures[i]);
        return lags;
    }

    static inline testing::TempDir* s_dir = nullptr;
    testing::TempDir m_out;
};

// The click against the flash, made together: within one picture. (ffmpeg's own reading of an
// AVI with B-frames shows its pictures late, so a source is no measure of itself.)
constexpr double kSync = 1.0 / 25 + 1e-3;

// Each kind merged with itself, and a clip with a display matrix that is no rotation after a
// plain one: every picture of each once, in order, at the sources' rate; the click with its flash.
TEST_F(RealFileMatrix, MergesKeepEveryPictureAndTheSound) {
    std::vector<std::vector<std::string>> merges;
    for (const auto& source : sources()) merges.push_back({fileName(source), fileName(source)});
    merges.push_back({"plain.mp4", "no-rotation matrix.mp4"});
    for (const auto& names : merges) {
        SCOPED_TRACE(names[0] + " + " + names[1]);
        const std::string to = fs::path(names[0]).extension().string().substr(1);
        const auto outcome = run(names, to, "merge");
        const fs::path out = outcome.outputs.at(0);
        const MediaReport report = MediaReport::of(out);
        EXPECT_EQ(report.decodeErrors, "");
        std::vector<int> expected;
        for (const auto& name : names) {
            const auto numbers = JoinMarks::pictureNumbers(path(name));
            expected.insert(expected.end(), numbers.begin(), numbers.end());
        }
        EXPECT_EQ(JoinMarks::pictureNumbers(out), expected);
        const MediaReport first = MediaReport::of(path(names[0]));
        EXPECT_EQ(std::pair(report.video().width, report.video().height), std::pair(first.video().width, first.video().height))
            << "the picture's size";
        const std::string sound = testing::probeEntry(path(names[0]), "stream=codec_name", "a:0");
        if (sound == "alac" || sound == "flac" || sound.starts_with("pcm_")) {
            EXPECT_EQ(testing::probeEntry(out, "stream=codec_name", "a:0"), sound) << "lossless sound stays lossless";
        }
        const auto lags = clickAfterFlash(out);
        ASSERT_EQ(lags.size(), names.size());
        for (size_t i = 0; i < names.size(); ++i) EXPECT_NEAR(lags[i], 0, kSync) << "clip " << i + 1;
        fs::remove(out);
    }
}

// Where the click was made against the flash: the click at kFlash, the flash on the first picture
// from then on.
double madeClickAfterFlash(const Source& source) {
    const auto slash = source.rate.find('/');
    const double perSecond = slash == std::string::npos
                                 ? std::stod(source.rate)
                                 : std::stod(source.rate.substr(0, slash)) / std::stod(source.rate.substr(slash + 1));
    return kFlash - std::ceil((kFlash - 1e-4) * perSecond) / perSecond;
}

// A conversion keeps each picture's time and each sample's: the click against the flash as it was
// made, to a few milliseconds (the containers' clocks count milliseconds).
constexpr double kKeptSync = 0.003;

// Where that holds. Still off by less than a picture, and judged to the picture: an AVI made from
// pictures that start between two places of its grid (it has no other times); AVI sources whose
// sound's encoder delay an AVI cannot state (AC-3, MP3); re-encodes of what an edit list shows.
bool keepsSyncAsMade(const Source& source, const std::string& to) {
    if (source.extension == "avi") return source.name == "DV 29.97" || source.name == "MJPEG";
    if (source.name == "edit list") return to == "mp4" || to == "mov";
    const bool aac = std::find(source.codecs.begin(), source.codecs.end(), "aac") != source.codecs.end();
    return !(to == "avi" && source.extension == "mkv" && aac);
}

// Each kind into Matroska, AVI, MP4 and WebM (those it is not in), and AAC sound out: what a player shows of the
// source is what the output holds, the click where it was against the flash. A row per target,
// so that each runs (and is timed) on its own.
class RealFileConversions : public RealFileMatrix, public ::testing::WithParamInterface<std::string> {};

TEST_P(RealFileConversions, HoldWhatThePlayerShows) {
    const std::string target = GetParam();
    for (const auto& source : sources()) {
        const std::string name = fileName(source);
        if (target != "aac") {
            const std::string& to = target;
            if (to == source.extension) continue;
            const auto numbers = heldOnce(JoinMarks::pictureNumbers(path(name)));
            SCOPED_TRACE(name + " into " + to);
            const fs::path out = run({name}, to, std::nullopt).outputs.at(0);
            EXPECT_EQ(MediaReport::of(out).decodeErrors, "");
            EXPECT_EQ(heldOnce(JoinMarks::pictureNumbers(out)), numbers);
            const auto lags = clickAfterFlash(out);
            ASSERT_EQ(lags.size(), 1u);
            EXPECT_NEAR(lags[0], 0, kSync) << "sound against picture";
            if (keepsSyncAsMade(source, to)) {
                EXPECT_NEAR(lags[0], madeClickAfterFlash(source), kKeptSync) << "sound against picture, as made";
            }
            fs::remove(out);
            continue;
        }
        if (testing::probeEntry(path(name), "stream=codec_name", "a:0") != "aac") continue;
        SCOPED_TRACE(name + " into AAC");
        const fs::path out = run({name}, "aac", std::nullopt).outputs.at(0);
        EXPECT_EQ(MediaReport::of(out).decodeErrors, "");
        // A bare AAC file plays its encoder's delay too; no more.
        const double shown = testing::decodedStream(path(name), "a:0").seconds();
        EXPECT_NEAR(testing::decodedStream(out, "a:0").seconds(), shown, 2 * 1024.0 / kRate + 1e-3);
        fs::remove(out);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, RealFileConversions, ::testing::Values("mkv", "avi", "mp4", "webm", "aac"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace kolvex
