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
#include "CutMatrixRows.h"
#include "MediaReport.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::decodedStream;
using testing::numberSpan;
using testing::pictureNumbers;
using Source = testing::CutSource;

// Every format the manifest lets the user trim or split has rows, and a sound format a row for
// every codec it may hold: a format or codec added to the manifest without one fails here.
TEST(CutMatrixRows, CoverEveryFormatAndSoundTheManifestCuts) {
    std::set<std::pair<std::string, std::string>> rows;
    std::set<std::string> containers;
    for (const auto& source : testing::cutSources()) {
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
        // Only a row whose pictures start late has a span before them: no source is made for the rest.
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        if (test.starts_with("SpansBeforeTheFirstPicture") && !(s.video && s.pictureDelay > 0))
            GTEST_SKIP() << "the pictures start with the file";
        m_source = m_dir / ("source." + s.container);
        const std::string sound = fmt::format("sine=sample_rate={}:duration={}", s.sampleRate, s.seconds);
        std::vector<std::string> args;
        // A stream that starts late is read that much later.
        const auto delayed = [&](double delay) {
            if (delay > 0) args.insert(args.end(), {"-itsoffset", fmt::format("{}", delay)});
        };
        if (s.video) {
            const std::string pictures =
                s.variableRate ? fmt::format("testsrc2=size={}:rate=50:duration={},select='{}'", s.size, s.seconds, s.kept)
                               : fmt::format("testsrc2=size={}:rate={}:duration={}", s.size, s.rate, s.seconds);
            delayed(s.pictureDelay);
            args.insert(args.end(), {"-f", "lavfi", "-i", pictures + "," + testing::kNumbered});
        }
        delayed(s.soundDelay);
        args.insert(args.end(), {"-f", "lavfi", "-i", sound});
        args.insert(args.end(), s.encode.begin(), s.encode.end());
        testing::makeMedia(m_source, args);
        if (!s.video) return;
        // Where each numbered picture shows, counted from the file's start as a cut counts.
        const std::string stated = testing::probeEntry(m_source, "format=start_time");
        const double start = stated == "N/A" ? 0 : std::stod(stated);  // AVI states none
        m_start = start;
        // The keyframes after the first (about 1 s and 2 s in).
        const StreamCopyCuts cuts = testing::ffprobeCuts(m_source);
        for (const double time : cuts.keyframes.times()) {
            if (time > 0.5) m_keyframes.push_back(time);
        }
        ASSERT_EQ(pictureNumbers(m_source), numberSpan(0, s.pictures() - 1));
        const auto report = testing::MediaReport::of(m_source);
        ASSERT_EQ(report.decodeErrors, "");
        m_times = frameTimes(m_source, start, s.fps());
        ASSERT_EQ(m_times.size(), size_t(s.pictures()));
        if (s.container == "avi") {
            // AVI states no times but its index's: where B-frames are put in order, every player
            // shows its pictures one after another at the frame rate (else where the index puts
            // them: an empty entry repeats a picture), its keyframes where the index marks them.
            if (std::stoi(testing::probeEntry(m_source, "stream=has_b_frames", "V:0")) > 0)
                for (size_t i = 0; i < m_times.size(); ++i) m_times[i] = double(i) / s.fps();
            m_keyframes.clear();
            const auto flags = testing::probeEntry(m_source, "frame=key_frame", "V:0");
            std::istringstream lines(flags);
            size_t picture = 0;
            for (std::string line; std::getline(lines, line);) {
                if (line.empty()) continue;
                if (line.starts_with("1") && picture > 0) m_keyframes.push_back(m_times.at(picture));
                ++picture;
            }
        }
        ASSERT_GE(m_keyframes.size(), 2u);
        m_soundStart = decodedStream(m_source, "a:0").start - start;
        m_packets = testing::picturePacketHashes(m_source);
        if (s.name.ends_with("bframes")) {
            ASSERT_GT(cuts.decodeDelay, 0);
        }
    }

    static std::vector<double> frameTimes(const fs::path& file, double start, double fps) {
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
                times.push_back(times.empty() ? 0 : times.back() + 1.0 / fps);
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
        return numberSpan(first, last);
    }

    // A cut output decodes cleanly, and its sound lasts from where the cut starts (a copy's
    // keyframe, else the time asked, which may lie before the first picture) to the cut's end (the
    // source's sound's end when it has none): no sound lost, no silence added at either end. Its
    // first picture, shown at `firstPicture` in the source, keeps its place against the sound.
    void expectSound(const fs::path& out, double from, double firstPicture, std::optional<double> end,
                     bool copied = false) const {
        EXPECT_EQ(testing::MediaReport::of(out).decodeErrors, "");
        const double until = end ? *end : decodedStream(m_source, "a:0").end - m_start;
        // The span's sound: none before the source's own sound starts.
        const double soundFrom = std::max(from, m_soundStart);
        // Sound is kept in whole coded frames: a frame may reach past either end. Matroska keeps
        // the AAC encoder's priming (two frames) that MP4 states away.
        const int samples = copied && GetParam().copiedFrameSamples > 0 ? GetParam().copiedFrameSamples : GetParam().frameSamples;
        const double frame = double(samples) / GetParam().sampleRate;
        const double picture = 1.0 / GetParam().fps();
        const auto sound = decodedStream(out, "a:0");
        EXPECT_NEAR(sound.seconds(), until - soundFrom, (GetParam().container == "mkv" ? 4 : 2) * frame + 1e-3);
        // No silence the source did not have at the head: the sound starts with the pictures,
        // within one picture's time (or as late after them as in the source).
        const double pictureStart = decodedStream(out, "v:0").start;
        EXPECT_LE(sound.start, pictureStart + std::max(0.0, soundFrom - firstPicture) + picture + 1e-3)
            << "the sound starts late";
        // (A copied sound frame may reach back before the keyframe: the source's own sound.)
        EXPECT_NEAR(pictureStart - sound.start, firstPicture - soundFrom, std::max(picture, frame) + 1e-3)
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

    // The first keyframe at or after 0.9 s, and at or after 1.9 s: about 1 s and 2 s in, a
    // second apart in an all-intra stream too.
    double keyframe(size_t i) const {
        const auto found = std::find_if(m_keyframes.begin(), m_keyframes.end(),
                                        [&](double time) { return time >= 0.9 + double(i) - 1e-6; });
        if (found == m_keyframes.end()) throw std::out_of_range("no keyframe that late");
        return *found;
    }

    // A copy's pictures are the source's own packets, one after another.
    void expectCopiedPackets(const fs::path& out) const {
        const auto copied = testing::picturePacketHashes(out);
        ASSERT_FALSE(copied.empty());
        const auto at = std::search(m_packets.begin(), m_packets.end(), copied.begin(), copied.end());
        EXPECT_NE(at, m_packets.end()) << "the copy's " << copied.size() << " pictures are not the source's packets";
    }

    testing::TempDir m_dir, m_out;
    fs::path m_source;
    std::vector<double> m_keyframes;  // after the first, seconds from the file's start
    std::vector<double> m_times;      // of each numbered picture
    std::vector<std::string> m_packets;  // the MD5 of each picture packet, in the file's order
    double m_start = 0;       // the file's clock at its start
    double m_soundStart = 0;  // the first sound, seconds from the file's start
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
        {"one picture from a keyframe", k1, k1 + 1.0 / GetParam().fps()},
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
        const bool fromKeyframe = c.start == k1 || c.start == k2;
        if (GetParam().copiesAtKeyframes && fromKeyframe && (!c.end || *c.end == k2)) {
            EXPECT_TRUE(outcome.usedPassthrough) << "re-encoded from a keyframe";
        }
        if (outcome.usedPassthrough) expectCopiedPackets(out);
        const bool copiedFromKeyframe = outcome.usedPassthrough && c.start > TrimPlan::tolerance;
        expectSound(out, copiedFromKeyframe ? timeOf(expected.front()) : c.start, timeOf(expected.front()), c.end,
                    outcome.usedPassthrough);
        fs::remove(out);
    }
}

// A span before pictures that start late shows no picture: its cut holds the span's sound and no
// picture track, and says so. A cut from before the first picture into the pictures keeps its
// sound from where it was asked, in step with them.
TEST_P(CutMatrix, SpansBeforeTheFirstPictureKeepTheirSound) {
    ASSERT_GE(timeOf(0), 0.4) << "the pictures start with the file";
    const double frame = double(GetParam().frameSamples) / GetParam().sampleRate;
    for (const auto& [start, end] : {std::pair(0.0, 0.3), std::pair(0.05, 0.35)}) {
        SCOPED_TRACE(fmt::format("{}-{}", start, end));
        const auto outcome = cut("trim", [&](ConversionOptions& o) {
            o.trimStart = start;
            o.trimEnd = end;
        });
        const fs::path out = outcome.outputs.at(0);
        EXPECT_EQ(testing::MediaReport::of(out).decodeErrors, "");
        EXPECT_EQ(testing::probeEntry(out, "stream=codec_type").find("video"), std::string::npos)
            << "a picture track with no picture in it";
        EXPECT_NEAR(decodedStream(out, "a:0").seconds(), end - start, 4 * frame + 1e-3);
        ASSERT_TRUE(outcome.note.has_value());
        EXPECT_NE(outcome.note->find("sound alone"), std::string::npos) << *outcome.note;
        fs::remove(out);
    }
    const double end = keyframe(1);
    const auto outcome = cut("trim", [&](ConversionOptions& o) {
        o.trimStart = 0.2;
        o.trimEnd = end;
    });
    const fs::path out = outcome.outputs.at(0);
    EXPECT_EQ(pictureNumbers(out), expectedPictures(0.2, end, false));
    expectSound(out, 0.2, timeOf(0), end);
}

// A split at the keyframes the split sheet snaps to and between them: the parts hold every
// picture once, in order, and every sample of the sound within a frame per cut.
TEST_P(CutMatrix, SplitsHoldEveryMomentOnce) {
    const Source& s = GetParam();
    std::vector<std::vector<double>> splits = {s.video ? std::vector<double>{keyframe(0), (keyframe(0) + keyframe(1)) / 2,
                                                                            keyframe(1)}
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
            EXPECT_EQ(pictures, numberSpan(0, s.pictures() - 1));
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

// A range wholly past the end of an intact clip says so, and leaves nothing behind. (Matroska
// states the length of a clip whose clock starts late up to its last time on that clock.)
TEST_P(CutMatrix, RangesPastTheEndSaySo) {
    const double end = std::max(GetParam().seconds, std::stod(testing::probeEntry(m_source, "format=duration")));
    try {
        cut("trim", [&](ConversionOptions& o) {
            o.trimStart = end + 1;
            o.trimEnd = end + 2;
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

INSTANTIATE_TEST_SUITE_P(Containers, CutMatrix, ::testing::ValuesIn(testing::cutSources()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kolvex
