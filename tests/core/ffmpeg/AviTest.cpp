// SPDX-License-Identifier: GPL-3.0-or-later
// AVI states no presentation times and no encoder delay: every AVI written keeps its sound with
// its pictures, and AVI's pictures with B-frames copy into Matroska and MP4. Judged by ffmpeg's
// decoders: a white picture and a click, both at 1.0 s in the source. MPEG-4 pictures packed as
// DivX and Xvid pack them copy out of AVI with every picture once.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <sstream>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/ffmpeg/ContainerCompatibility.h"
#include "core/ffmpeg/FFmpegEngine.h"
#include "core/ffmpeg/LibavProber.h"
#include "core/services/Preferences.h"
#include "JoinMarks.h"
#include "MediaReport.h"
#include "FixedProber.h"
#include "PackedBFrames.h"
#include "support/FakeFFmpeg.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::JoinMarks;

constexpr double kPicture = 1.0 / 25;

// Flash and click at 1.0 s of a 2 s clip: a white picture among dark ones, a loud burst in soft tone.
std::vector<std::string> flashAndClick(std::vector<std::string> codecs) {
    std::vector<std::string> args = {
        "-f", "lavfi", "-i", "color=c=black:s=64x48:r=25:d=2,geq=lum='if(between(T\\,1.0\\,1.039)\\,235\\,16)':cb=128:cr=128",
        "-f", "lavfi", "-i",
        "aevalsrc='if(between(t\\,1.0\\,1.1)\\,0.9*sin(2*PI*3000*t)\\,0.3*sin(2*PI*1000*t))':s=44100:d=2"};
    args.insert(args.end(), codecs.begin(), codecs.end());
    return args;
}

struct Kind {
    std::string name;
    std::string from;
    std::vector<std::string> codecs;
};

const std::vector<Kind> kKinds = {
    {"H.264 with B-frames in MP4", "mp4", {"-c:v", "libx264", "-bf", "3", "-g", "50", "-c:a", "aac"}},
    {"H.264 with B-frames in AVI", "avi", {"-c:v", "libx264", "-bf", "2", "-g", "25", "-c:a", "aac"}},
    {"MPEG-4 with B-frames and MP3 in AVI", "avi", {"-c:v", "mpeg4", "-bf", "2", "-q:v", "3", "-c:a", "libmp3lame"}},
};

class Avi : public ::testing::Test {
protected:
    void SetUp() override { KOLVEX_REQUIRE_FFMPEG(); }

    ConversionOutcome convert(const fs::path& source, const std::string& from, const std::string& to,
                              const auto& change) {
        ConversionOptions options = Preferences{}.conversionOptions(FormatCategory::video);
        change(options);
        const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
        return engine.convertReporting(testing::mediaJob(source, m_out / ("out." + to), from, to, options), nullptr, {});
    }

    // The click against the flash, in the output: within one picture.
    static void expectInSync(const fs::path& out, double flashAt) {
        EXPECT_EQ(testing::MediaReport::of(out).decodeErrors, "");
        const JoinMarks marks = JoinMarks::of(out);
        ASSERT_EQ(marks.pictures.size(), 1u);
        ASSERT_EQ(marks.bursts.size(), 1u);
        EXPECT_NEAR(marks.pictures[0], flashAt, kPicture + 1e-3) << "the flash moved";
        EXPECT_NEAR(marks.bursts[0], marks.pictures[0], kPicture + 1e-3) << "sound against picture";
    }

    testing::TempDir m_dir, m_out;
};

// Converted into AVI, and trimmed from an AVI: the click stays with the flash.
TEST_F(Avi, EveryAviWrittenKeepsItsSoundWithItsPictures) {
    for (const auto& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        const fs::path source = testing::makeMedia(m_dir / ("source." + kind.from), flashAndClick(kind.codecs));
        const auto whole = convert(source, kind.from, "avi", [](ConversionOptions&) {});
        expectInSync(whole.outputs.at(0), 1.0);
        fs::remove(whole.outputs.at(0));
        if (kind.from != "avi") continue;
        const auto cut = convert(source, "avi", "avi", [](ConversionOptions& o) {
            o.tool = "trim";
            o.trimStart = 0.4;
            o.trimEnd = 1.8;
        });
        expectInSync(cut.outputs.at(0), 0.6);
        fs::remove(cut.outputs.at(0));
    }
}

// AVI's pictures, B-frames and all, copied into containers that state presentation times: every
// picture once, in order, decoded without complaint, the first not held longer than the others.
TEST_F(Avi, BFramesCopyIntoMatroskaAndMp4) {
    for (const auto& kind : kKinds) {
        if (kind.from != "avi") continue;
        const fs::path source = testing::makeMedia(m_dir / "source.avi", flashAndClick(kind.codecs));
        for (const std::string to : {"mkv", "mp4"}) {
            SCOPED_TRACE(kind.name + " into " + to);
            const auto outcome = convert(source, "avi", to, [](ConversionOptions&) {});
            const fs::path out = outcome.outputs.at(0);
            EXPECT_EQ(testing::MediaReport::of(out).decodeErrors, "");
            const auto pictures = testing::decodedStream(out, "v:0");
            EXPECT_EQ(pictures.frames, 50);
            EXPECT_NEAR(pictures.seconds(), 2.0, kPicture + 1e-3);
            expectInSync(out, 1.0);
            fs::remove(out);
        }
        fs::remove(source);
    }
}

// An Xvid AVI whose B-frames are packed (ffmpeg decodes it as it should: every picture once, in
// order) copied into every other container that takes its pictures: every picture once, in
// order, at its time, decoded without complaint, and still a copy.
TEST_F(Avi, PackedBFramesCopyOutEveryPictureOnce) {
    auto args = JoinMarks::numberedPictures(1.2, "25", "64x48", 2.0);  // numbers only, no flash
    // B-frames between P-frames: no picture taken for a new scene (each number changes it all).
    args.insert(args.end(), {"-c:v", "mpeg4", "-bf", "1", "-g", "12", "-sc_threshold", "1000000000", "-q:v", "3", "-vtag", "XVID"});
    const fs::path made = testing::makeMedia(m_dir / "made.avi", args);
    const fs::path source = m_dir / "packed.avi";
    testing::packBFrames(made, source, 5);  // 25 pictures a second: a 5-bit time field
    std::vector<int> numbers(30);
    std::iota(numbers.begin(), numbers.end(), 0);
    ASSERT_EQ(JoinMarks::pictureNumbers(source), numbers) << "ffmpeg's own reading of the source";
    ASSERT_EQ(testing::MediaReport::of(source).decodeErrors, "");
    EXPECT_EQ(LibavProber().probe(source).packedBFrames, true);
    EXPECT_EQ(LibavProber().probe(made).packedBFrames, false);
    for (const std::string to : {"mp4", "m4v", "mov", "mkv", "webm"}) {
        if (!ContainerCompatibility::accepts("mpeg4", FormatID(to))) continue;
        SCOPED_TRACE("into " + to);
        const auto outcome = convert(source, "avi", to, [](ConversionOptions&) {});
        const fs::path out = outcome.outputs.at(0);
        EXPECT_TRUE(outcome.usedPassthrough);
        EXPECT_EQ(testing::MediaReport::of(out).decodeErrors, "");
        EXPECT_EQ(JoinMarks::pictureNumbers(out), numbers);
        // Each picture shown for its own time: one picture's after the one before.
        std::istringstream shown(testing::probeEntry(out, "frame=pts_time", "v:0"));
        std::vector<double> times;
        for (std::string line; std::getline(shown, line);) times.push_back(std::stod(line));
        ASSERT_EQ(times.size(), 30u);
        for (size_t i = 1; i < times.size(); ++i) EXPECT_NEAR(times[i] - times[i - 1], kPicture, 1e-3) << "picture " << i;
        fs::remove(out);
    }
}

// A copy the muxer refuses is made again by re-encoding, in any container; a failure a re-encode
// would meet as well (a folder that cannot be written) is not tried twice.
TEST(PlannedCopies, AFailedCopyIsReEncoded) {
    testing::TempDir dir;
    testing::FakeFFmpeg fake{dir / "bin"};
    const fs::path source = dir.write("in.mkv", std::string(1000, 'v'));
    MediaProbe probe;
    probe.videoCodec = "h264";
    probe.audioCodec = "aac";
    probe.durationSeconds = 1.0;
    const FFmpegEngine engine(BundledFFmpeg(fake.ffmpeg()), std::make_shared<testing::FixedProber>(probe), {});
    const auto job = testing::mediaJob(source, dir / "out.mp4", "mkv", "mp4");
    const auto runs = [&](const std::string& error) {
        const int before = fake.runCount("ffmpeg");
        fake.setStandardError("ffmpeg", error);
        fake.setExitCode("ffmpeg", 1);
        EXPECT_THROW(engine.convert(job, nullptr, {}), ConversionError);
        return fake.runCount("ffmpeg") - before;
    };
    EXPECT_EQ(runs("[matroska @ 0x1] Can't write packet with unknown timestamp\n"), 2);
    const auto last = fake.lastArguments("ffmpeg");
    EXPECT_NE(std::find(last.begin(), last.end(), "-c:v"), last.end()) << "the second run re-encodes";
    EXPECT_EQ(runs("/out/out.mp4: Permission denied\n"), 1);
    EXPECT_FALSE(fs::exists(dir / "out.mp4"));
}

}  // namespace
}  // namespace kolvex
