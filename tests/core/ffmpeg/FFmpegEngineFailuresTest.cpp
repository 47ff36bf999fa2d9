// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's failure paths, cancellation and progress, on a fake ffmpeg.
#include "core/ffmpeg/FFmpegEngine.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <latch>
#include <thread>

#include <gtest/gtest.h>

#include "core/services/Cancellation.h"
#include "core/services/ProcessRunner.h"
#include "support/FakeFFmpeg.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "FFmpegEngineTestSupport.h"
#include "FixedProber.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::mediaJob;
using testing::FixedProber;
using testing::conversionError;
using testing::options;
using testing::Progress;

struct FakeRun {
    testing::TempDir dir;
    testing::FakeFFmpeg fake{dir / "bin"};
    fs::path source = dir.write("in.mkv", std::string(1000, 'v'));
    fs::path destination = dir / "out.mp4";

    FFmpegEngine engine(MediaProbe probe) const {
        return FFmpegEngine(BundledFFmpeg(fake.ffmpeg()), std::make_shared<FixedProber>(std::move(probe)), {});
    }
    // What a fake run writes when it succeeds: a real (if tiny) media file, since the engine reads
    // every output back — half a second of silent 8 kHz mono WAV.
    static std::string media() {
        const auto le = [](uint32_t value, int bytes) {
            std::string out;
            for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i) & 0xff);
            return out;
        };
        const uint32_t data = 8000;
        return "RIFF" + le(36 + data, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) + le(16000, 4) +
               le(2, 2) + le(16, 2) + "data" + le(data, 4) + std::string(data, '\0');
    }
    static MediaProbe video(std::optional<double> duration = 1.0) {
        MediaProbe probe;
        probe.videoCodec = "h264";
        probe.audioCodec = "ac3";  // not for mp4: a re-encode, so no watcher
        probe.durationSeconds = duration;
        return probe;
    }
};

TEST(FFmpegEngineFailures, MapsErrorsAndRemovesWhatFFmpegLeft) {
    FakeRun run;
    run.fake.setStandardError("ffmpeg", "/out/out.mp4: Permission denied\n");
    run.fake.setWritesOutput("ffmpeg", "partial");
    run.fake.setExitCode("ffmpeg", 1);
    const auto job = mediaJob(run.source, run.destination, "mkv", "mp4");
    EXPECT_EQ(conversionError([&] { run.engine(FakeRun::video()).convert(job, nullptr, {}); }),
              ConversionError::insufficientPermissions(run.destination));
    EXPECT_FALSE(fs::exists(run.destination));

    // Success claimed, nothing written: a failure, and the empty file goes.
    run.fake.setStandardError("ffmpeg", "odd\n");
    run.fake.setWritesOutput("ffmpeg", "");
    run.fake.setExitCode("ffmpeg", 0);
    EXPECT_EQ(conversionError([&] { run.engine(FakeRun::video()).convert(job, nullptr, {}); }),
              ConversionError::backendFailure("ffmpeg", 0, "ffmpeg reported success but wrote no output\nodd\n"));
    EXPECT_FALSE(fs::exists(run.destination));

    // A missing program is the runner's error, unchanged.
    const FFmpegEngine missing(BundledFFmpeg(run.dir / "none"), std::make_shared<FixedProber>(FakeRun::video()), {});
    EXPECT_THROW(missing.convert(job, nullptr, {}), ProcessRunnerError);
}

// ffmpeg exiting 0 after writing a file with nothing in it (a cut past the data of a partly
// downloaded source) is the source's fault, and nothing is left behind.
TEST(FFmpegEngineFailures, AnOutputWithNothingInItIsAFailure) {
    FakeRun run;
    run.fake.setWritesOutput("ffmpeg", "not media at all");
    const auto job = mediaJob(run.source, run.destination, "mkv", "mp4");
    EXPECT_EQ(conversionError([&] { run.engine(FakeRun::video()).convert(job, nullptr, {}); }),
              ConversionError::corruptedInput(run.source));
    for (const auto& entry : fs::directory_iterator(run.dir.path()))
        EXPECT_TRUE(entry.path() == run.source || entry.path().filename() == "bin") << "left behind: " << entry.path();
}

// A picture track with no picture in it opens nowhere ("cannot determine format"): such an
// output is a failure, not a conversion that went well.
TEST(FFmpegEngineFailures, APictureTrackWithNoPictureIsAFailure) {
    KOLVEX_REQUIRE_FFMPEG();
    FakeRun run;
    const fs::path empty = run.dir / "empty.mkv";
    // Half a second of sound beside a picture track whose pictures would start at 5 s.
    testing::makeMedia(empty, {"-f", "lavfi", "-i", "sine=d=1", "-itsoffset", "5", "-f", "lavfi", "-i",
                               "testsrc2=size=64x48:d=1", "-map", "1:v", "-map", "0:a", "-t", "0.5", "-c:v", "libx264",
                               "-c:a", "aac"});
    ASSERT_EQ(testing::probeEntry(empty, "stream=codec_type", "v:0"), "video");
    run.fake.setWritesOutput("ffmpeg", testing::readFile(empty));
    fs::remove(empty);
    const auto job = mediaJob(run.source, run.dir / "out.mkv", "mkv", "mkv");
    EXPECT_EQ(conversionError([&] { run.engine(FakeRun::video()).convert(job, nullptr, {}); }),
              ConversionError::corruptedInput(run.source));
    EXPECT_FALSE(fs::exists(run.dir / "out.mkv"));
}

// A photo renamed ".mp4" is no film: it is refused by name, and nothing is written.
TEST(FFmpegEngineFailures, AStillPictureNamedLikeAFilmIsRefused) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const fs::path photo = testing::makeMedia(dir / "photo.jpg", {"-f", "lavfi", "-i", "color=c=red:s=64x48", "-frames:v", "1"});
    fs::rename(photo, dir / "photo.mp4");
    const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
    EXPECT_EQ(conversionError([&] { engine.convert(mediaJob(dir / "photo.mp4", dir / "photo.mkv", "mp4", "mkv"), nullptr, {}); }),
              ConversionError::unsupportedCombination(testing::mediaFormat("mp4").label + " holding a single still picture",
                                                      testing::mediaFormat("mkv").label));
    EXPECT_FALSE(fs::exists(dir / "photo.mkv"));
}

// ffmpeg 5 ends with 0 when only the MP4's index could not be written: the file is cut short,
// and the volume, not the source, is at fault.
TEST(FFmpegEngineFailures, ATrailerThatDidNotFitIsAFullDisk) {
    FakeRun run;
    run.fake.setWritesOutput("ffmpeg", std::string(64 << 10, 'm'));
    run.fake.setStandardError("ffmpeg", "Error writing trailer of /x/.out.mp4: No space left on device\n"
                                        "Error closing file /x/.out.mp4: No space left on device\n");
    const auto job = mediaJob(run.source, run.destination, "mkv", "mp4");
    const auto error = conversionError([&] { run.engine(FakeRun::video()).convert(job, nullptr, {}); });
    EXPECT_EQ(error.kind(), ConversionError::Kind::insufficientDiskSpace) << error.shortDescription();
    EXPECT_FALSE(fs::exists(run.destination));
}

TEST(FFmpegEngineFailures, TrimProgressIsMeasuredAgainstTheTrimmedSpan) {
    FakeRun run;
    run.fake.setStandardOutput("ffmpeg", "out_time_us=1000000\nprogress=continue\n");
    run.fake.setWritesOutput("ffmpeg", FakeRun::media());
    Progress progress;
    const auto job = mediaJob(run.source, run.destination, "mkv", "mp4", options([](auto& o) {
                                  o.tool = "trim";
                                  o.trimStart = 4;
                                  o.trimEnd = 6;
                              }));
    run.engine(FakeRun::video(10.0)).convert(job, progress.callback(), {});
    EXPECT_EQ(progress.fractions, (std::vector<double>{0.02, 0.5, 1.0}));
    // ffmpeg writes a hidden name beside the destination and is told never to overwrite; the
    // finished file then takes the final name.
    const auto args = run.fake.lastArguments("ffmpeg");
    const fs::path written = args.back();
    EXPECT_EQ(written.parent_path(), run.destination.parent_path());
    EXPECT_EQ(written.filename().string().front(), '.');
    EXPECT_EQ(written.extension(), ".mp4");
    EXPECT_NE(std::find(args.begin(), args.end(), "-n"), args.end());
    EXPECT_EQ(std::find(args.begin(), args.end(), "-y"), args.end());
    EXPECT_FALSE(fs::exists(written));
    EXPECT_EQ(testing::readFile(run.destination), FakeRun::media());
}

TEST(FFmpegEngineFailures, CancellingKillsFFmpegAndRemovesThePartialOutput) {
    FakeRun run;
    run.fake.setStandardOutput("ffmpeg", "out_time_us=500000\n");
    run.fake.setWritesOutput("ffmpeg", "partial");
    run.fake.setHangs("ffmpeg");
    std::stop_source stop;
    std::latch running(1);
    std::jthread canceller([&] {
        running.wait();
        stop.request_stop();
    });
    const auto start = std::chrono::steady_clock::now();
    const auto job = mediaJob(run.source, run.destination, "mkv", "mp4");
    EXPECT_THROW(run.engine(FakeRun::video()).convert(job, [&](double f) { if (f == 0.5) running.count_down(); }, stop.get_token()),
                 OperationCancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(fs::exists(run.destination));
}

TEST(FFmpegEngineFailures, ImageSourcesAreDecodedFirstInAScratchFolder) {
    FakeRun run;
    const TemporaryFileManager scratch(run.dir / "scratch");
    run.fake.setWritesOutput("ffmpeg", FakeRun::media());
    MediaProbe still;
    still.videoCodec = "png";
    std::vector<std::pair<fs::path, fs::path>> calls;
    const auto decoder = [&](const fs::path& source, const Format&, const fs::path& png) {
        calls.emplace_back(source, png);
        std::ofstream(png) << "png";
    };
    const auto avif = run.dir.write("photo.avif", "avif bytes");
    const FFmpegEngine engine(BundledFFmpeg(run.fake.ffmpeg()), std::make_shared<FixedProber>(still), {},
                              decoder, FileManagerService::shared(), scratch);
    const fs::path gif = run.dir / "photo.gif";
    EXPECT_EQ(engine.convert(mediaJob(avif, gif, "avif", "gif"), nullptr, {}), std::vector<fs::path>{gif});
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].first, avif);
    EXPECT_EQ(calls[0].second.filename(), "decoded.png");
    const auto args = run.fake.lastArguments("ffmpeg");
    EXPECT_NE(std::find(args.begin(), args.end(), calls[0].second.string()), args.end());
    EXPECT_TRUE(fs::is_empty(scratch.root()));

    // An image the decoder cannot read: the user's file is named and ffmpeg never starts.
    const auto ico = run.dir.write("broken.ico", "nope");
    const FFmpegEngine failing(BundledFFmpeg(run.fake.ffmpeg()), std::make_shared<FixedProber>(still), {},
                               [](const fs::path&, const Format&, const fs::path&) { throw std::runtime_error("bad ico"); },
                               FileManagerService::shared(), scratch);
    const int runsBefore = run.fake.runCount("ffmpeg");
    EXPECT_EQ(conversionError([&] { failing.convert(mediaJob(ico, run.dir / "x.png", "ico", "png"), nullptr, {}); }),
              ConversionError::corruptedInput(ico));
    EXPECT_EQ(run.fake.runCount("ffmpeg"), runsBefore);
    EXPECT_TRUE(fs::is_empty(scratch.root()));
}

}  // namespace
}  // namespace kolvex
