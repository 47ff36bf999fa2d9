// SPDX-License-Identifier: GPL-3.0-or-later
// Trims and splits across containers, codecs and cut kinds, judged by an independent reader:
// every picture carries its own number (two grey patches), read back from a full decode with
// ffmpeg, so an output is checked picture by picture against the span that was asked for,
// whether it was copied or re-encoded; sound by ffprobe's decoded sample counts.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>
#include <sstream>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include "core/ffmpeg/FFmpegEngine.h"
#include "core/services/Preferences.h"
#include "core/services/ProcessRunner.h"
#include "MediaReport.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::decodedStream;

constexpr int kRate = 25;
constexpr double kSeconds = 3;

// The picture's number, in three patches at the top left: tens, hundreds, then units, 20 levels
// apart.
const char* const kNumbered =
    "geq=lum='if(lt(Y,16)*lt(X,16),16+20*mod(floor(N/10),10),if(lt(Y,16)*between(X,16,31),16+20*floor(N/100),"
    "if(lt(Y,16)*between(X,32,47),16+20*mod(N,10),lum(X,Y))))'"
    ":cb='cb(X,Y)':cr='cr(X,Y)'";

// The numbers of the pictures of a file, in the order a full decode shows them.
std::vector<int> pictureNumbers(const fs::path& file) {
    const auto decoded = ProcessRunner().run(
        testing::systemFFmpeg(),
        {"-nostdin", "-v", "error", "-i", file.string(), "-map", "0:V:0", "-vsync", "passthrough", "-vf", "crop=48:16:0:0,scale=6:2:flags=area",
         "-f", "rawvideo", "-pix_fmt", "gray", "-"},
        std::chrono::seconds(60), nullptr, nullptr);
    if (!decoded.succeeded()) throw std::runtime_error("ffmpeg cannot decode " + file.string());
    const std::string& bytes = decoded.standardOutputData;
    const double step = 20 * 255.0 / 219;  // gray is full range
    std::vector<int> numbers;
    for (size_t at = 0; at + 12 <= bytes.size(); at += 12) {
        const auto level = [&](size_t i) {
            return (static_cast<unsigned char>(bytes[at + i]) + static_cast<unsigned char>(bytes[at + i + 1])) / 2.0;
        };
        numbers.push_back(static_cast<int>(std::lround(level(2) / step) * 100 + std::lround(level(0) / step) * 10 +
                                           std::lround(level(4) / step)));
    }
    return numbers;
}

std::vector<int> span(int first, int last) {
    std::vector<int> numbers(static_cast<size_t>(std::max(0, last - first + 1)));
    std::iota(numbers.begin(), numbers.end(), first);
    return numbers;
}

struct Source {
    std::string name;  // also the test's name
    std::string container;  // the format's id, also the file's extension
    std::vector<std::string> encode;  // ffmpeg's codec arguments
    std::string sound;      // the sound's codec, as ffprobe names it
    bool video = true;
    int sampleRate = 44100;
    // One coded sound frame, in samples: what a cut may keep or lose at each end. 1 for sound
    // cut to the sample (PCM, FLAC, ALAC, and what is decoded and encoded again at the cut).
    int frameSamples = 1;
    // Pictures at a varying rate: of a 50 fps clip, 4 of every 10 (the first 4: 20 ms apart, then
    // a gap of 140 ms), as a phone or a screen recorder writes them.
    bool variableRate = false;
    // Which of every 10 pictures of the 50 fps clip a variable-rate row keeps (ffmpeg's select).
    std::string kept = "lt(mod(n\\,10)\\,4)";
    // How long the clip lasts, and cuts of its own besides every row's: where it is split, and
    // the spans it is trimmed to.
    double seconds = kSeconds;
    std::vector<double> splitAt;
    std::vector<std::pair<double, double>> trims;

    bool ownCuts() const { return !splitAt.empty() || !trims.empty(); }
    int pictures() const { return !video ? 0 : variableRate ? int(seconds * 50 * 4 / 10) : int(seconds * kRate); }
};

void PrintTo(const Source& source, std::ostream* out) { *out << source.name; }

// One row per container and codec the manifest's trim and split take: every sound codec a sound
// container may hold, and the usual codecs of each video container (AVI's MPEG-4 Part 2 with MP3
// and H.264 with AAC, both with B-frames).
const std::vector<Source>& sources() {
    const std::vector<std::string> h264 = {"-c:v", "libx264", "-preset", "veryfast", "-g", "25", "-keyint_min", "25",
                                           "-sc_threshold", "0", "-c:a", "aac"};
    const auto with = [&](std::vector<std::string> more) {
        auto args = h264;
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    const auto sound = [](std::string name, std::string container, std::string codec, std::string encoder, int frame,
                          int rate = 44100) {
        return Source{std::move(name), std::move(container), {"-c:a", std::move(encoder)}, std::move(codec), false, rate, frame};
    };
    // A longer clip of the same row, cut where a user's cuts fell.
    const auto longer = [](Source source, std::string name, std::vector<double> splitAt,
                           std::vector<std::pair<double, double>> trims) {
        source.name = std::move(name);
        source.seconds = 10;
        source.sampleRate = 48000;
        source.splitAt = std::move(splitAt);
        source.trims = std::move(trims);
        return source;
    };
    static const std::vector<Source> rows = {
        {"mp4_bframes", "mp4", with({"-bf", "2"}), "aac", true, 44100, 1024},
        {"mp4", "mp4", with({"-bf", "0"}), "aac", true, 44100, 1024},
        {"mp4_variable_rate", "mp4", {"-c:v", "libx264", "-preset", "veryfast", "-g", "25", "-keyint_min", "25",
                                      "-sc_threshold", "0", "-bf", "2", "-fps_mode", "vfr", "-c:a", "aac"},
         "aac", true, 44100, 1024, true},
        {"m4v_bframes", "m4v", with({"-bf", "2", "-f", "mp4"}), "aac", true, 44100, 1024},
        {"mov_bframes", "mov", with({"-bf", "2"}), "aac", true, 44100, 1024},
        {"mov", "mov", with({"-bf", "0"}), "aac", true, 44100, 1024},
        {"mkv_bframes", "mkv", with({"-bf", "3"}), "aac", true, 44100, 1024},
        {"mkv", "mkv", with({"-bf", "0"}), "aac", true, 44100, 1024},
        {"mkv_flac", "mkv", with({"-bf", "0", "-c:a", "flac"}), "flac", true, 44100, 4608},
        {"webm", "webm",
         {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-g", "25", "-keyint_min", "25", "-c:a",
          "libopus"},
         "opus", true, 48000, 960},
        {"avi_h264", "avi", with({"-bf", "2"}), "aac", true, 44100, 1024},
        {"avi_mpeg4", "avi",
         {"-c:v", "mpeg4", "-bf", "2", "-q:v", "3", "-g", "25", "-keyint_min", "25", "-sc_threshold", "0", "-c:a",
          "libmp3lame"},
         "mp3", true, 44100, 1152},
        sound("mp3", "mp3", "mp3", "libmp3lame", 1152),
        sound("m4a", "m4a", "aac", "aac", 1024),
        sound("m4a_alac", "m4a", "alac", "alac", 1),
        sound("aac", "aac", "aac", "aac", 1024),
        sound("wav", "wav", "pcm_s16le", "pcm_s16le", 1),
        sound("wav_s24", "wav", "pcm_s24le", "pcm_s24le", 1),
        sound("wav_s32", "wav", "pcm_s32le", "pcm_s32le", 1),
        sound("wav_f32", "wav", "pcm_f32le", "pcm_f32le", 1),
        sound("wav_u8", "wav", "pcm_u8", "pcm_u8", 1),
        sound("aiff", "aiff", "pcm_s16be", "pcm_s16be", 1),
        sound("aiff_s24", "aiff", "pcm_s24be", "pcm_s24be", 1),
        sound("aiff_s16le", "aiff", "pcm_s16le", "pcm_s16le", 1),
        sound("flac", "flac", "flac", "flac", 1),
        sound("ogg_vorbis", "ogg", "vorbis", "libvorbis", 256),
        sound("ogg_opus", "ogg", "opus", "libopus", 960, 48000),
        sound("ogg_flac", "ogg", "flac", "flac", 1),
        sound("opus", "opus", "opus", "libopus", 960, 48000),
    };
    static const std::vector<Source> all = [&] {
        auto each = rows;
        const auto row = [&](const char* name) {
            return *std::find_if(rows.begin(), rows.end(), [&](const Source& r) { return r.name == name; });
        };
        // Pictures 0, 1, 2 and 6 of every 10, keyframes every 50 pictures (2.44 s, 5 s in).
        auto vfr = longer(row("mp4_variable_rate"), "mp4_variable_rate_long", {2.44, 3.387, 5.0}, {});
        vfr.encode = {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-bf", "3", "-g", "50", "-fps_mode", "vfr",
                      "-c:a", "aac"};
        vfr.kept = "lt(mod(n\\,10)\\,3)+eq(mod(n\\,10)\\,6)";
        each.push_back(vfr);
        // As the usual tools write them: H.264 with 3 B-frames and a keyframe every 2 s; MPEG-4 ASP
        // with 2 B-frames and ffmpeg's keyframe every 12 pictures.
        auto h264 = longer(row("avi_h264"), "avi_h264_long", {4.0, 4.74, 6.0}, {});
        h264.encode = {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-bf", "3", "-g", "50", "-c:a", "aac"};
        each.push_back(h264);
        auto mpeg4 = longer(row("avi_mpeg4"), "avi_mpeg4_long", {}, {{1.98, 3.88}});
        mpeg4.encode = {"-c:v", "mpeg4", "-bf", "2", "-c:a", "libmp3lame"};
        each.push_back(mpeg4);
        return each;
    }();
    return all;
}

// Every format the manifest lets the user trim or split has rows, and a sound format a row for
// every codec it may hold: a format or codec added to the manifest without one fails here.
TEST(CutMatrixRows, CoverEveryFormatAndSoundTheManifestCuts) {
    std::set<std::pair<std::string, std::string>> rows;
    std::set<std::string> containers;
    for (const auto& source : sources()) {
        rows.emplace(source.container, source.sound);
        containers.insert(source.container);
    }
    for (const char* tool : {"trim", "split"}) {
        for (const auto& format : testing::mediaSourcesOf(tool)) {
            EXPECT_TRUE(containers.contains(format)) << tool << " takes " << format << ", which has no row";
            for (const auto& codec : testing::soundCodecsOf(format))
                EXPECT_TRUE(rows.contains({format, codec})) << tool << " takes " << codec << " in " << format << ", which has no row";
        }
    }
}

class CutMatrix : public ::testing::TestWithParam<Source> {
protected:
    void SetUp() override {
        KOLVEX_REQUIRE_FFMPEG();
        const Source& s = GetParam();
        m_source = m_dir / ("source." + s.container);
        const std::string sound = fmt::format("sine=sample_rate={}:duration={}", s.sampleRate, s.seconds);
        std::vector<std::string> args;
        if (s.video) {
            const std::string pictures =
                s.variableRate ? fmt::format("testsrc2=size=96x64:rate=50:duration={},select='{}'", s.seconds, s.kept)
                               : fmt::format("testsrc2=size=96x64:rate={}:duration={}", kRate, s.seconds);
            args = {"-f", "lavfi", "-i", pictures + "," + kNumbered};
        }
        args.insert(args.end(), {"-f", "lavfi", "-i", sound});
        args.insert(args.end(), s.encode.begin(), s.encode.end());
        testing::makeMedia(m_source, args);
        if (!s.video) return;
        // Where each numbered picture shows, counted from the file's start as a cut counts.
        const std::string stated = testing::probeEntry(m_source, "format=start_time");
        const double start = stated == "N/A" ? 0 : std::stod(stated);  // AVI states none
        // The keyframes after the first (about 1 s and 2 s in).
        const StreamCopyCuts cuts = testing::ffprobeCuts(m_source);
        for (const double time : cuts.keyframes.times()) {
            if (time > 0.5) m_keyframes.push_back(time);
        }
        ASSERT_EQ(pictureNumbers(m_source), span(0, s.pictures() - 1));
        const auto report = testing::MediaReport::of(m_source);
        ASSERT_EQ(report.decodeErrors, "");
        m_times = frameTimes(m_source, start);
        ASSERT_EQ(m_times.size(), size_t(s.pictures()));
        if (s.container == "avi") {
            // AVI states no times: every player shows its pictures one after another at the frame
            // rate, its keyframes where the index marks them.
            for (size_t i = 0; i < m_times.size(); ++i) m_times[i] = double(i) / kRate;
            m_keyframes.clear();
            const auto flags = testing::probeEntry(m_source, "frame=key_frame", "V:0");
            std::istringstream lines(flags);
            size_t picture = 0;
            for (std::string line; std::getline(lines, line);) {
                if (line.empty()) continue;
                if (line.starts_with("1") && picture > 0) m_keyframes.push_back(double(picture) / kRate);
                ++picture;
            }
        }
        ASSERT_GE(m_keyframes.size(), 2u);
        if (s.name.ends_with("bframes")) {
            ASSERT_GT(cuts.decodeDelay, 0);
        }
    }

    static std::vector<double> frameTimes(const fs::path& file, double start) {
        const auto listed = ProcessRunner().run(testing::systemFFprobe(),
                                                {"-v", "error", "-select_streams", "V:0", "-show_entries",
                                                 "frame=best_effort_timestamp_time", "-of", "csv=p=0", file.string()},
                                                std::chrono::seconds(60), nullptr, nullptr);
        std::vector<double> times;
        std::istringstream lines(listed.standardOutput());
        for (std::string line; std::getline(lines, line);) {
            if (line.empty()) continue;
            // AVI states no presentation times: a decoder gives its last pictures none. AVI's
            // pictures follow each other at the frame rate.
            if (line.starts_with("N/A"))
                times.push_back(times.empty() ? 0 : times.back() + 1.0 / kRate);
            else
                times.push_back(std::stod(line) - start);
        }
        return times;
    }

    ConversionOutcome cut(const char* tool, const auto& change) {
        const Source& s = GetParam();
        ConversionOptions options = Preferences{}.conversionOptions(FormatCategory::video);
        options.tool = tool;
        change(options);
        const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
        return engine.convertReporting(testing::mediaJob(m_source, m_out / ("out." + s.container), s.container,
                                                         s.container, options),
                                       nullptr, {});
    }

    // The pictures a cut of [start, end) must hold: from the keyframe it snapped to when copied
    // (within the tolerance), else from the asked start.
    std::vector<int> expectedPictures(double start, std::optional<double> end, bool copied) const {
        double from = start;
        if (copied && start > TrimPlan::tolerance) {
            double nearest = 0;
            for (const double k : m_keyframes)
                if (std::abs(k - start) < std::abs(nearest - start)) nearest = k;
            EXPECT_LE(std::abs(nearest - start), TrimPlan::tolerance + 1e-9) << "copied away from a keyframe";
            from = nearest;
        }
        int first = -1, last = -1;
        for (size_t i = 0; i < m_times.size(); ++i) {
            if (m_times[i] < from - 1e-3 || (end && m_times[i] >= *end - 1e-3)) continue;
            if (first < 0) first = int(i);
            last = int(i);
        }
        return span(first, last);
    }

    // A cut output decodes cleanly, and its sound lasts from where the cut starts (a copy's
    // keyframe, else the time asked, which may lie before the first picture) to the cut's end (the
    // source's sound's end when it has none): no sound lost, no silence added at either end. Its
    // first picture, shown at `firstPicture` in the source, keeps its place against the sound.
    void expectSound(const fs::path& out, double from, double firstPicture, std::optional<double> end) const {
        EXPECT_EQ(testing::MediaReport::of(out).decodeErrors, "");
        const double until = end ? *end : decodedStream(m_source, "a:0").end;
        // Sound is kept in whole coded frames: a frame may reach past either end. Matroska keeps
        // the AAC encoder's priming (two frames) that MP4 states away.
        const double frame = double(GetParam().frameSamples) / GetParam().sampleRate;
        const auto sound = decodedStream(out, "a:0");
        EXPECT_NEAR(sound.seconds(), until - from, (GetParam().container == "mkv" ? 4 : 2) * frame + 1e-3);
        // No silence the source did not have at the head: the sound starts with the pictures,
        // within one picture's time.
        const double pictureStart = decodedStream(out, "v:0").start;
        EXPECT_LE(sound.start, pictureStart + 1.0 / kRate + 1e-3) << "the sound starts late";
        // (A copied sound frame may reach back before the keyframe: the source's own sound.)
        EXPECT_NEAR(pictureStart - sound.start, firstPicture - from, std::max(1.0 / kRate, frame) + 1e-3)
            << "the first picture moved";
    }

    // A sound-only cut opens in the codec's own reference player (Ogg's are strict about
    // granule positions and pre-skip), and starts no earlier than the file's own start: no sound
    // from before the cut.
    void expectOpensEverywhere(const fs::path& out) const {
        const Source& s = GetParam();
        if (s.video) return;
        EXPECT_EQ(testing::MediaReport::of(out).decodeErrors, "");
        const std::string start = testing::probeEntry(out, "stream=start_time", "a:0");
        if (start != "N/A") {
            EXPECT_GE(std::stod(start), -1e-6) << "starts before its own start";
        }
        std::vector<std::string> player;
        const fs::path decoded = m_out / "decoded.wav";
        if (s.container == "ogg" || s.container == "opus") {
            if (s.sound == "opus") player = {"/usr/bin/opusdec", "--quiet", out.string(), decoded.string()};
            if (s.sound == "vorbis") player = {"/usr/bin/oggdec", "--quiet", "-o", decoded.string(), out.string()};
        }
        if (player.empty()) return;
        const auto played = ProcessRunner().run(player.front(), {player.begin() + 1, player.end()}, std::chrono::seconds(60),
                                                nullptr, nullptr);
        EXPECT_TRUE(played.succeeded()) << player.front() << " refuses " << out.filename() << ": " << played.standardError();
        fs::remove(decoded);
    }
    double timeOf(int picture) const { return m_times.at(size_t(picture)); }

    double keyframe(size_t i) const { return m_keyframes.at(i); }

    testing::TempDir m_dir, m_out;
    fs::path m_source;
    std::vector<double> m_keyframes;  // after the first, seconds from the file's start
    std::vector<double> m_times;      // of each numbered picture
};

// Trims at a keyframe, 20 ms either side of one, between keyframes, and ending between
// keyframes at each place in a group of B-frames: every output holds exactly the pictures of
// the span asked (from the keyframe a copy snapped to), each once.
TEST_P(CutMatrix, TrimsHoldExactlyTheirSpan) {
    if (!GetParam().video) GTEST_SKIP() << "sound only";
    const double k1 = keyframe(0), k2 = keyframe(1);
    struct Case {
        std::string name;
        double start;
        std::optional<double> end;
    };
    std::vector<Case> cases = {
        {"keyframe to keyframe", k1, k2},
        {"keyframe to the end", k2, std::nullopt},
        {"20 ms after a keyframe", k1 + 0.02, k2},
        {"20 ms before a keyframe", k1 - 0.02, std::nullopt},
        {"between keyframes", 1.5, 2.5},
        {"ends between keyframes", k1, 1.5},
        {"ends a picture later", k1, 1.54},
        {"ends two pictures later", k1, 1.58},
        {"from the start, ends between keyframes", 0, 2.3},
        {"one picture from a keyframe", k1, k1 + 1.0 / kRate},
    };
    // A row cut where a user's cuts fell is cut there alone: its keyframes lie elsewhere.
    if (GetParam().ownCuts()) cases.clear();
    for (const auto& [start, end] : GetParam().trims) cases.push_back({fmt::format("{}-{}", start, end), start, end});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto outcome = cut("trim", [&](ConversionOptions& o) {
            o.trimStart = c.start;
            o.trimEnd = c.end;
        });
        const fs::path out = outcome.outputs.at(0);
        const auto expected = expectedPictures(c.start, c.end, outcome.usedPassthrough);
        EXPECT_EQ(pictureNumbers(out), expected) << (outcome.usedPassthrough ? "copied" : "re-encoded");
        expectSound(out, outcome.usedPassthrough ? timeOf(expected.front()) : c.start, timeOf(expected.front()), c.end);
        fs::remove(out);
    }
}

// A split at the keyframes the split sheet snaps to and between them: the parts hold every
// picture once, in order, and every sample of the sound within a frame per cut.
TEST_P(CutMatrix, SplitsHoldEveryMomentOnce) {
    const Source& s = GetParam();
    std::vector<std::vector<double>> splits = {s.video ? std::vector<double>{keyframe(0), 1.5, keyframe(1)}
                                                       : std::vector<double>{1.5}};
    if (s.ownCuts()) splits = {s.splitAt};
    for (const auto& points : splits) {
        if (points.empty()) continue;
        SCOPED_TRACE(fmt::format("split at {}", fmt::join(points, ", ")));
        const auto parts = cut("split", [&](ConversionOptions& o) { o.splitPoints = points; });
        ASSERT_EQ(parts.outputs.size(), points.size() + 1);
        std::vector<int> pictures;
        int64_t samples = 0;
        for (size_t i = 0; i < parts.outputs.size(); ++i) {
            const fs::path& part = parts.outputs[i];
            SCOPED_TRACE(part.filename().string());
            EXPECT_EQ(testing::MediaReport::of(part).decodeErrors, "");
            if (s.video) {
                const auto numbers = pictureNumbers(part);
                pictures.insert(pictures.end(), numbers.begin(), numbers.end());
                // The split sheet's points are keyframes or far from one: each part starts at its point.
                if (!numbers.empty())
                    expectSound(part, i == 0 ? 0 : points[i - 1], timeOf(numbers.front()),
                                i < points.size() ? std::optional(points[i]) : std::nullopt);
            }
            samples += decodedStream(part, "a:0").samples;
            expectOpensEverywhere(part);
        }
        if (s.video) {
            EXPECT_EQ(pictures, span(0, s.pictures() - 1));
        }
        // At most one coded frame of sound is heard twice (or not at all) at each cut; a part
        // re-encoded into Matroska also starts with the AAC encoder's priming, which Matroska does
        // not state away.
        const double frame = s.frameSamples;
        EXPECT_NEAR(double(samples), double(decodedStream(m_source, "a:0").samples),
                    frame * double(points.size()) * (s.container == "mkv" ? 2 : 1));
        for (const auto& part : parts.outputs) fs::remove(part);
    }
}

// Sound trimmed from inside the file, a single frame's length included: as many samples as the
// span holds, each end within a coded frame; none of it from before its own start.
TEST_P(CutMatrix, SoundTrimsHoldTheirSpan) {
    const Source& s = GetParam();
    if (s.video) GTEST_SKIP() << "pictures are judged picture by picture";
    const int rate = s.sampleRate;
    const double frame = s.frameSamples;
    for (const auto& [start, end] : {std::pair(1.5, 3.0), std::pair(0.7, 2.2), std::pair(2.0, 2.021)}) {
        SCOPED_TRACE(fmt::format("{}-{}", start, end));
        const auto outcome = cut("trim", [&](ConversionOptions& o) {
            o.trimStart = start;
            o.trimEnd = end;
        });
        const fs::path out = outcome.outputs.at(0);
        EXPECT_EQ(testing::MediaReport::of(out).decodeErrors, "");
        // Each end within one coded frame of where it was asked.
        EXPECT_NEAR(double(decodedStream(out, "a:0").samples), (end - start) * rate, frame == 1 ? 1 : 2 * frame);
        expectOpensEverywhere(out);
        // A lossless source is cut losslessly.
        if (s.frameSamples == 1) {
            EXPECT_EQ(testing::probeEntry(out, "stream=codec_name", "a:0"), s.sound);
        }
        fs::remove(out);
    }
}

// A range wholly past the end of an intact clip says so, and leaves nothing behind.
TEST_P(CutMatrix, RangesPastTheEndSaySo) {
    try {
        cut("trim", [](ConversionOptions& o) {
            o.trimStart = GetParam().seconds + 1;
            o.trimEnd = GetParam().seconds + 2;
        });
        ADD_FAILURE() << "reported success";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::unsupportedCombination) << error.shortDescription();
        EXPECT_NE(error.shortDescription().find("beyond the clip's end"), std::string::npos) << error.shortDescription();
    }
    for (const auto& entry : fs::directory_iterator(m_out.path())) {
        ADD_FAILURE() << "left behind: " << entry.path();
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, CutMatrix, ::testing::ValuesIn(sources()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kolvex
