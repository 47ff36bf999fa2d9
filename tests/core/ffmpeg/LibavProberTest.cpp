#include "core/ffmpeg/LibavProber.h"

#include <fstream>

#include <gtest/gtest.h>

#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"
#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

void ffmpeg(const std::vector<std::string>& arguments) {
    std::vector<std::string> args = {"-v", "error", "-y"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    const auto result = ProcessRunner().run(testing::systemFFmpeg(), args, std::chrono::seconds(60), {}, {});
    ASSERT_EQ(result.exitCode, 0) << result.standardError();
}

const std::vector<std::string> kPicture = {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:duration=1"};
const std::vector<std::string> kTone = {"-f", "lavfi", "-i", "sine=frequency=440:duration=1"};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The in-process probe reads every file exactly as ffprobe's report does.
TEST(LibavProber, AgreesWithFFprobeOnEveryKindOfSource) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const std::vector<std::pair<std::string, std::vector<std::string>>> sources = {
        {"plain.mp4", kPicture + kTone + std::vector<std::string>{"-c:v", "libx264", "-c:a", "aac"}},
        {"rotated.mp4", kPicture + std::vector<std::string>{"-c:v", "libx264", "-metadata:s:v", "rotate=90"}},
        {"tracks.mkv", kPicture + kTone + kTone +
                           std::vector<std::string>{"-map", "0:v", "-map", "1:a", "-map", "2:a", "-c:v", "libx264",
                                                    "-c:a", "libopus", "-pix_fmt", "yuv444p"}},
        {"cover.mp3", kTone + kPicture + std::vector<std::string>{"-map", "0:a", "-map", "1:v", "-frames:v", "1", "-c:v",
                                                                  "mjpeg", "-disposition:v", "attached_pic"}},
        {"deep.flac", kTone + std::vector<std::string>{"-c:a", "flac", "-sample_fmt", "s32"}},
        {"pcm.wav", kTone + std::vector<std::string>{"-c:a", "pcm_s24le"}},
        {"voice.opus", kTone},
        {"moving.gif", kPicture},
        {"clip.webm", kPicture + kTone + std::vector<std::string>{"-c:v", "libvpx-vp9", "-c:a", "libopus"}},
    };
    const FFprobeProber reference(BundledFFmpeg::inBundle());
    for (const auto& [name, args] : sources) {
        SCOPED_TRACE(name);
        ffmpeg(args + std::vector<std::string>{(dir / name).string()});
        const MediaProbe ours = LibavProber().probe(dir / name);
        EXPECT_EQ(ours, reference.probe(dir / name));
        EXPECT_TRUE(ours.audioCodec || ours.videoCodec);
    }
}

TEST(LibavProber, RefusesWhatIsNotMediaAndStopsWhenAsked) {
    testing::TempDir dir;
    std::ofstream(dir / "notes.mp4") << "just some text, not a movie";
    for (const fs::path& file : {dir / "notes.mp4"}) {
        try {
            LibavProber().probe(file);
            ADD_FAILURE() << "accepted " << file;
        } catch (const ConversionError& error) {
            EXPECT_EQ(error, ConversionError::corruptedInput(file));
        }
    }
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(LibavProber().probe(dir / "notes.mp4", stop.get_token()), OperationCancelled);
}

}  // namespace
}  // namespace kolvex
