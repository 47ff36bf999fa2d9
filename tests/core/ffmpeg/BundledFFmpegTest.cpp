// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/BundledFFmpeg.h"

#include <fstream>

#include <gtest/gtest.h>

#include "core/ffmpeg/FFmpegEncoders.h"
#include "core/services/Log.h"
#include "support/FakeFFmpeg.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

void makeProgram(const fs::path& path, bool executable) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\nexit 0\n";
    fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
}

TEST(BundledFFmpeg, FindsTheProgramInTheFirstFolderThatHasIt) {
    testing::TempDir dir;
    const fs::path empty = dir / "empty", stale = dir / "stale", full = dir / "full";
    fs::create_directories(empty);
    makeProgram(stale / "ffmpeg", false);  // not executable: the folder does not count
    makeProgram(full / "ffmpeg", true);    // alone: ffprobe is not needed

    EXPECT_EQ(BundledFFmpeg::inBundle({empty, stale, full}), BundledFFmpeg(full / "ffmpeg"));
    EXPECT_THROW(BundledFFmpeg::inBundle({empty, stale}), BundledFFmpeg::NotBundled);

    // A link to an executable program counts, a dangling one does not.
    const fs::path linked = dir / "linked", dangling = dir / "dangling";
    fs::create_directories(linked);
    fs::create_directories(dangling);
    fs::create_symlink(full / "ffmpeg", linked / "ffmpeg");
    fs::create_symlink(dir / "nowhere", dangling / "ffmpeg");
    EXPECT_EQ(BundledFFmpeg::inBundle({linked}), BundledFFmpeg(linked / "ffmpeg"));
    EXPECT_THROW(BundledFFmpeg::inBundle({dangling}), BundledFFmpeg::NotBundled);
}

TEST(BundledFFmpeg, OverrideWinsWhenItIsAnExecutableFile) {
    testing::TempDir dir;
    makeProgram(dir / "custom" / "ffmpeg", true);  // with no ffprobe beside it
    makeProgram(dir / "plain" / "ffmpeg", false);
    EXPECT_EQ(BundledFFmpeg::locate(dir / "custom" / "ffmpeg"), BundledFFmpeg(dir / "custom" / "ffmpeg"));

    if (!testing::haveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    // Not executable, missing or a folder: the programs that ship with the application.
    for (const fs::path& bad : {dir / "plain" / "ffmpeg", dir / "missing", dir.path()}) {
        const auto located = BundledFFmpeg::locate(bad);
        EXPECT_EQ(located.ffmpeg.filename(), "ffmpeg") << bad;
        EXPECT_NE(located.ffmpeg, bad);
    }
}

TEST(BundledFFmpeg, TheBuildLaysOutLinksToTheSystemPrograms) {
    KOLVEX_REQUIRE_FFMPEG();
    const auto tools = BundledFFmpeg::inBundle();
    EXPECT_EQ(tools.ffmpeg.parent_path().filename(), "kolvex");
    EXPECT_EQ(tools.ffmpeg.parent_path().parent_path().filename(), "libexec");
    EXPECT_EQ(fs::canonical(tools.ffmpeg), fs::canonical(testing::systemFFmpeg()));
}

TEST(BundledFFmpeg, ParsesTheEncoderListing) {
    const std::string listing =
        "Encoders:\n"
        " V..... = Video\n"
        " A..... = Audio\n"
        " ------\n"
        " V....D h264_videotoolbox    VideoToolbox H.264 Encoder (codec h264)\n"
        " V....D libvpx-vp9           libvpx VP9 (codec vp9)\n"
        " A....D pcm_s16le            PCM signed 16-bit little-endian\n"
        " A....D a                    too short\n"
        " A....D x.y                  dotted\n"
        " A....D x/y                  slashed\n"
        " A....D x:y                  colon\n"
        " A....D\ttabbed              tab is no separator\n"
        " V..... libx264\n"
        " V..... libx264  duplicate\n"
        " V.S libwrongflags  description\n"
        " A....D ünïcode_ok  letters in the Unicode sense\n";
    const std::set<std::string> expected = {"h264_videotoolbox", "libvpx-vp9", "pcm_s16le", "libx264", "ünïcode_ok"};
    EXPECT_EQ(BundledFFmpeg::parseEncoderListing(listing), expected);
    EXPECT_TRUE(BundledFFmpeg::parseEncoderListing("").empty());
}

TEST(BundledFFmpeg, ListsEncodersOfTheRealProgramAndSurvivesFailures) {
    testing::TempDir dir;
    testing::FakeFFmpeg fake(dir / "fake");
    fake.setStandardOutput("ffmpeg", " V....D libx264  H.264\n");
    fake.setExitCode("ffmpeg", 1);  // a failing exit status does not hide what was listed
    // Asked afresh: a remembered list would hide what the program says.
    EXPECT_EQ(BundledFFmpeg(fake.ffmpeg()).listEncoders(), std::set<std::string>{"libx264"});
    EXPECT_EQ(fake.lastArguments("ffmpeg"), (std::vector<std::string>{"-hide_banner", "-loglevel", "quiet", "-encoders"}));

    LogCapture log;
    EXPECT_TRUE(BundledFFmpeg(dir / "absent").listEncoders().empty());
    EXPECT_TRUE(log.contains("engine", "Could not enumerate FFmpeg encoders"));

    if (!testing::haveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const auto encoders = BundledFFmpeg::inBundle().listEncoders();
    // Every encoder the command lines ask for exists in Debian's build: nothing the registry
    // filters on may be missing here.
    for (const char* id : {"mp4", "mov", "mkv", "webm", "mp3", "m4a", "wav", "flac", "aiff", "ogg", "opus", "gif", "webp", "png", "jpg"}) {
        const auto required = FFmpegEncoders::requiredEncoder(testing::mediaFormat(id));
        ASSERT_TRUE(required) << id;
        EXPECT_TRUE(encoders.contains(*required)) << id << " needs " << *required;
    }
}

TEST(FFmpegEncoders, UsesThisPlatformsEncoderNames) {
    EXPECT_EQ(FFmpegEncoders::platformName("h264_videotoolbox"), "libx264");
    EXPECT_EQ(FFmpegEncoders::platformName("hevc_videotoolbox"), "libx265");
    EXPECT_EQ(FFmpegEncoders::platformName("aac_at"), "aac");
    EXPECT_EQ(FFmpegEncoders::platformName("libopus"), "libopus");

    const std::vector<std::pair<std::string, std::string>> required = {
        {"mp4", "libx264"}, {"mov", "libx264"},  {"webm", "libvpx-vp9"}, {"m4a", "aac"},   {"aac", "aac"},
        {"mp3", "libmp3lame"}, {"flac", "flac"}, {"wav", "pcm_s16le"},  {"aiff", "pcm_s16be"}, {"ogg", "libopus"},
        {"opus", "libopus"}, {"gif", "gif"},     {"webp", "libwebp"},   {"jpg", "mjpeg"},  {"png", "png"},
        {"avif", "png"},
    };
    for (const auto& [id, encoder] : required) EXPECT_EQ(FFmpegEncoders::requiredEncoder(testing::mediaFormat(id)), encoder) << id;
    EXPECT_EQ(FFmpegEncoders::audioEncoder(testing::mediaFormat("webm")), "libopus");
    EXPECT_EQ(FFmpegEncoders::audioEncoder(testing::mediaFormat("mkv")), "aac");
    EXPECT_FALSE(FFmpegEncoders::requiredEncoder(testing::mediaFormat("pdf")));
}

}  // namespace
}  // namespace kolvex
