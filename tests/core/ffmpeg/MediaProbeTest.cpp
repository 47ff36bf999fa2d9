#include "core/ffmpeg/MediaProbe.h"

#include <gtest/gtest.h>

#include "core/format/ConversionError.h"
#include "core/services/ProcessRunner.h"
#include "support/FakeFFmpeg.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

MediaProbe parse(const std::string& report) { return FFprobeProber::parseReport(report, "/x/in.mp4"); }

void expectCorrupted(const std::string& report) {
    try {
        parse(report);
        ADD_FAILURE() << "accepted: " << report;
    } catch (const ConversionError& error) {
        EXPECT_EQ(error, ConversionError::corruptedInput("/x/in.mp4")) << report;
    }
}

TEST(MediaProbe, RefusesReportsThatAreNotJsonObjects) {
    for (const char* report : {"", "   ", "not json", "[]", "[{\"streams\": []}]", "42", "\"text\"", "null", "{\"a\": ", "\xff\xfe"})
        expectCorrupted(report);
}

TEST(MediaProbe, ReadsEveryFieldWithItsFallbacks) {
    const auto full = parse(R"({
        "streams": [
          {"codec_type": "video", "codec_name": "png", "disposition": {"attached_pic": 1}},
          {"codec_type": "video", "codec_name": "h264", "width": 64, "height": 48, "pix_fmt": "yuv420p",
           "avg_frame_rate": "30000/1001", "r_frame_rate": "60000/2002", "duration": "9.5",
           "side_data_list": [{"side_data_type": "Display Matrix", "rotation": -90}]},
          {"codec_type": "attachment", "codec_name": "ttf"},
          {"codec_type": "data", "codec_name": "bin_data"},
          {"codec_type": "audio", "codec_name": "aac", "bit_rate": "128000", "sample_rate": "+44100", "channels": 2},
          {"codec_type": "audio", "codec_name": "mp3", "bit_rate": "1", "sample_rate": "1", "channels": 1},
          {"codec_type": "subtitle", "codec_name": "mov_text"},
          {"codec_name": "no type"},
          {"codec_type": "video", "codec_name": "mjpeg"}
        ],
        "format": {"duration": "12.25"}})");
    MediaProbe expected;
    expected.videoCodec = "h264";
    expected.audioCodec = "aac";
    expected.durationSeconds = 12.25;
    expected.width = 64;
    expected.height = 48;
    expected.audioTrackCount = 2;
    expected.subtitleTrackCount = 1;
    // The cover picture is not the video, and is counted on its own.
    expected.videoTrackCount = 2;
    expected.coverPictureCount = 1;
    expected.coverCodec = "png";
    expected.attachmentCount = 1;
    expected.dataTrackCount = 1;
    expected.pixelFormat = "yuv420p";
    expected.rotation = 270;
    expected.isVariableFrameRate = true;  // texts differ even though the rates are equal
    expected.audioBitrate = 128000;
    expected.audioSampleRate = 44100;
    expected.audioChannels = 2;
    EXPECT_EQ(full, expected);

    struct Case {
        const char* report;
        MediaProbe probe;
    };
    MediaProbe videoDuration;
    videoDuration.videoCodec = "vp9";
    videoDuration.durationSeconds = 3.5;
    videoDuration.isVariableFrameRate = true;  // 0/0 against 30/1
    videoDuration.videoTrackCount = 1;
    videoDuration.rotation = 180;  // an old-style tag
    MediaProbe audioOnly;
    audioOnly.audioCodec = "opus";
    audioOnly.audioTrackCount = 1;
    MediaProbe wrongTypes;
    wrongTypes.videoCodec = std::nullopt;
    wrongTypes.videoTrackCount = 1;
    wrongTypes.audioTrackCount = 1;
    MediaProbe sameRates;
    sameRates.videoCodec = "h264";
    sameRates.width = 2;
    sameRates.videoTrackCount = 1;
    const Case cases[] = {
        // The video stream's duration stands in for a missing container duration.
        {R"({"streams": [{"codec_type": "video", "codec_name": "vp9", "duration": "3.5", "tags": {"rotate": "-180"},
             "avg_frame_rate": "0/0", "r_frame_rate": "30/1"}], "format": {"duration": "N/A"}})", videoDuration},
        // Never the audio stream's.
        {R"({"streams": [{"codec_type": "audio", "codec_name": "opus", "duration": "7", "bit_rate": "N/A"}]})", audioOnly},
        // Numbers where texts are expected and the reverse read as absent.
        {R"({"streams": [{"codec_type": "video", "codec_name": 5, "width": "64", "height": 48.5,
             "avg_frame_rate": 30, "r_frame_rate": 30},
            {"codec_type": "audio", "bit_rate": 128000, "sample_rate": "44.1", "channels": "2"}],
            "format": {"duration": 12}})", wrongTypes},
        {R"({"streams": [{"codec_type": "video", "codec_name": "h264", "width": 2.0,
             "avg_frame_rate": "25/1", "r_frame_rate": "25/1"}]})", sameRates},
        // A stream list of the wrong shape counts as no streams at all.
        {R"({"streams": [{"codec_type": "video", "codec_name": "h264"}, 7]})", MediaProbe{}},
        {R"({"streams": {"codec_type": "video"}, "format": []})", MediaProbe{}},
        {R"({})", MediaProbe{}},
        {R"({"format": {"duration": "nan"}, "streams": [{"codec_type": "audio", "sample_rate": "99999999999999999999"}]})",
         [] {
             MediaProbe p;
             p.audioTrackCount = 1;
             return p;
         }()},
    };
    for (const auto& c : cases) EXPECT_EQ(parse(c.report), c.probe) << c.report;
    // The wrong-types case keeps the video stream's presence: frame rates of the wrong type are both absent.
    EXPECT_FALSE(parse(cases[2].report).isVariableFrameRate);
}

TEST(MediaProbe, ProbesRealFilesWithAwkwardNames) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const auto clip = testing::makeClip(dir / "-i ünï 'q\" clip.mp4", {.seconds = 1.0, .codecArguments = {"-c:v", "libx264", "-c:a", "aac"}});
    const FFprobeProber prober(BundledFFmpeg::inBundle());
    const auto probe = prober.probe(clip);
    EXPECT_EQ(probe.videoCodec, "h264");
    EXPECT_EQ(probe.audioCodec, "aac");
    EXPECT_EQ(probe.width, 64);
    EXPECT_EQ(probe.height, 48);
    ASSERT_TRUE(probe.durationSeconds);
    EXPECT_NEAR(*probe.durationSeconds, 1.0, 0.1);
    EXPECT_EQ(probe.audioTrackCount, 1);
    EXPECT_EQ(probe.audioSampleRate, 8000);
    EXPECT_EQ(probe.audioChannels, 1);

    const auto wav = testing::makeClip(dir / "tone.wav", {.video = false});
    const auto audio = prober.probe(wav);
    EXPECT_FALSE(audio.videoCodec);
    EXPECT_FALSE(audio.width);
    EXPECT_FALSE(audio.isVariableFrameRate);
    EXPECT_EQ(audio.audioCodec, "pcm_s16le");
    EXPECT_TRUE(audio.durationSeconds);

    // Text named like media, and a missing file: unreadable input.
    const auto text = dir.write("notes.mp4", "just some text\n");
    EXPECT_THROW(prober.probe(text), ConversionError);
    EXPECT_THROW(prober.probe(dir / "missing.mp4"), ConversionError);
}

TEST(MediaProbe, TrustsOnlyASuccessfulExit) {
    testing::TempDir dir;
    testing::FakeFFmpeg fake(dir / "fake");
    const FFprobeProber prober(BundledFFmpeg(fake.ffmpeg(), fake.ffprobe()));
    fake.setStandardOutput("ffprobe", R"({"streams": [], "format": {"duration": "1"}})");
    EXPECT_EQ(prober.probe("relative.mp4").durationSeconds, 1.0);
    // Relative names reach ffprobe as absolute paths, after the fixed options.
    const auto args = fake.lastArguments("ffprobe");
    ASSERT_EQ(args.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(args.begin(), args.begin() + 6),
              (std::vector<std::string>{"-v", "quiet", "-print_format", "json", "-show_format", "-show_streams"}));
    EXPECT_EQ(args[6], (fs::current_path() / "relative.mp4").string());

    fake.setExitCode("ffprobe", 1);
    EXPECT_THROW(prober.probe("/x/in.mp4"), ConversionError);

    // Runner failures pass through unchanged.
    const FFprobeProber missing(BundledFFmpeg(dir / "absent", dir / "absent"));
    EXPECT_THROW(missing.probe("/x/in.mp4"), ProcessRunnerError);
}

}  // namespace
}  // namespace kolvex
