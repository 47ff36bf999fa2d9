// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/FFmpegArguments.h"

#include <clocale>
#include <cmath>

#include <gtest/gtest.h>

#include "TestFormats.h"

namespace kolvex {
namespace {

using Args = FFmpegArguments::Arguments;
using Decision = PassthroughPlanner::Decision;

Args concat(std::initializer_list<Args> parts) {
    Args all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Args kStrip = {"-map_metadata", "-1", "-map_chapters", "-1"};
const std::string kEven = "crop=trunc(iw/2)*2:trunc(ih/2)*2";
const Args kH264 = {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-profile:v", "high"};
// A re-encoded picture keeps its own time, on the source's clock.
const Args kOwnTimes = {"-fps_mode", "passthrough", "-enc_time_base:v", "-1"};
// Every source is read with its decoders held to 8192 × 8192 pixels a picture.
const Args kPixelLimit = {"-max_pixels", "67108864"};

ConversionOptions options(auto change) {
    ConversionOptions o = ConversionOptions::defaults();
    change(o);
    return o;
}

// The arguments after the input (or after "-t"), up to but without the destination.
Args mapping(const Args& args) {
    auto it = std::find(args.begin(), args.end(), "-i");
    it += 2;
    if (it != args.end() && *it == "-t") it += 2;
    return Args(it, args.end() - 1);
}

TEST(FFmpegArguments, TimestampsRoundToMillisecondsBeforeSplitting) {
    const std::vector<std::pair<double, std::string>> rows = {
        {3725.5, "01:02:05.500"}, {0.25, "00:00:00.250"},   {59.9996, "00:01:00.000"}, {3599.9999, "01:00:00.000"},
        {0, "00:00:00.000"},      {-3, "00:00:00.000"},     {360000, "100:00:00.000"}, {59.75, "00:00:59.750"},
        {0.0004, "00:00:00.000"}, {std::nan(""), "00:00:00.000"},
    };
    for (const auto& [seconds, text] : rows) EXPECT_EQ(FFmpegArguments::timestamp(seconds), text) << seconds;
}

TEST(FFmpegArguments, WorkedExamples) {
    // A re-encode of mp4 to webm at quality 0.7, metadata not kept.
    auto job = testing::mediaJob("/in/a.mp4", "/out/a.webm", "mp4", "webm", options([](auto& o) {
                                     o.quality = 0.7;
                                     o.preserveMetadata = false;
                                 }));
    EXPECT_EQ(FFmpegArguments::build(job, Decision::reencode("r"), std::nullopt),
              concat({FFmpegArguments::common(), kPixelLimit,
                      {"-i", "/in/a.mp4", "-map", "0:V:0", "-map", "0:a:0?", "-sn", "-dn", "-c:v", "libvpx-vp9", "-pix_fmt",
                       "yuv420p", "-row-mt", "1", "-b:v", "8700k", "-maxrate", "9570k", "-bufsize", "17400k", "-vf", kEven, "-af",
                       "asetpts=PTS+312/48000/TB", "-c:a", "libopus", "-b:a", "192k"},
                      kStrip, kOwnTimes,
                      {"/out/a.webm"}}));

    // A stream copy of a trimmed span into mov.
    job = testing::mediaJob("/in/-i.mp4", "/out/b.mov", "mp4", "mov", options([](auto& o) {
                                o.trimStart = 5.25;
                                o.trimEnd = 65;
                                o.preserveMetadata = false;
                            }));
    EXPECT_EQ(FFmpegArguments::build(job, Decision::passthrough(false, "r"), std::nullopt),
              concat({FFmpegArguments::common(),
                      {"-ss", "00:00:05.250", "-t", "00:00:59.750"},
                      kPixelLimit,
                      {"-i", "/in/-i.mp4", "-map", "0:V:0", "-map", "0:a:0?", "-c", "copy", "-sn", "-dn"},
                      kStrip,
                      {"-f", "mov", "-movflags", "+faststart", "/out/b.mov"}}));
}

TEST(FFmpegArguments, Vp9SpreadsOverTheProcessorsWithoutTouchingQuality) {
    const Format webm = testing::mediaFormat("webm");
    struct Case {
        int64_t width;
        const char* columns;  // log2 of the tile columns
    };
    for (const auto& c : {Case{64, "0"}, Case{511, "0"}, Case{512, "1"}, Case{1280, "2"}, Case{1920, "2"},
                          Case{3840, "3"}, Case{16384, "6"}, Case{100000, "6"}}) {
        EXPECT_EQ(FFmpegArguments::encoderThreading(webm, c.width), (Args{"-row-mt", "1", "-tile-columns", c.columns}))
            << c.width;
    }
    EXPECT_EQ(FFmpegArguments::encoderThreading(webm, std::nullopt), (Args{"-row-mt", "1"}));
    EXPECT_TRUE(FFmpegArguments::encoderThreading(testing::mediaFormat("mp4"), 1920).empty());

    // The width written: upright, cropped, then scaled.
    MediaProbe probe;
    probe.width = 1920;
    probe.height = 1080;
    auto job = testing::mediaJob("/in/a.mp4", "/out/a.webm", "mp4", "webm", options([](auto& o) {
        o.quality = 0.5;
        o.preserveMetadata = false;
    }));
    EXPECT_EQ(FFmpegArguments::outputWidth(job, probe), 1920);
    EXPECT_EQ(FFmpegArguments::outputWidth(job, std::nullopt), std::nullopt);
    probe.rotation = 90;
    EXPECT_EQ(FFmpegArguments::outputWidth(job, probe), 1080);
    probe.rotation = 0;
    job.options.cropRect = UnitRect{0, 0, 0.5, 1};
    EXPECT_EQ(FFmpegArguments::outputWidth(job, probe), 960);
    job.options.cropRect.reset();
    job.options.maxDimension = 640;
    EXPECT_EQ(FFmpegArguments::outputWidth(job, probe), 640);

    // Everything else on the line, rate control included, is what it was without them.
    job.options.maxDimension.reset();
    const Args line = FFmpegArguments::build(job, Decision::reencode("r"), probe);
    const auto at = std::find(line.begin(), line.end(), "-row-mt");
    ASSERT_NE(at, line.end());
    EXPECT_EQ(Args(at, at + 4), (Args{"-row-mt", "1", "-tile-columns", "2"}));
    Args without(line.begin(), at);
    without.insert(without.end(), at + 4, line.end());
    EXPECT_EQ(mapping(without), concat({{"-map", "0:V:0", "-map", "0:a:0?", "-sn", "-dn", "-c:v", "libvpx-vp9", "-pix_fmt",
                                         "yuv420p", "-b:v", "6500k", "-maxrate", "7150k", "-bufsize", "13000k", "-vf", kEven,
                                         "-af", "asetpts=PTS+312/48000/TB", "-c:a", "libopus", "-b:a", "192k"},
                                        kStrip, kOwnTimes}));
}

// A copied trim is sought just before its keyframe and drops what the seek read before it; one
// whose pictures end early (B-frames) reads the file once, its sound running to the asked end
// and its pictures stopped at the planned count; the input is read with the demuxer the probe
// found.
TEST(FFmpegArguments, CopiedTrimsKeepTheirSoundToTheEnd) {
    const auto job = testing::mediaJob("/in/a.mp4", "/out/b.mp4", "mp4", "mp4", options([](auto& o) {
                                           o.tool = "trim";
                                           o.trimStart = 2;
                                           o.trimEnd = 5;
                                       }));
    MediaProbe probe;
    probe.demuxer = "mov";
    // B-frames across the end: the pictures are ended by their count, the sound by the read.
    CopyCut cut{1.999, 2, 4.92, 73};
    cut.countsPictures = true;
    EXPECT_EQ(FFmpegArguments::build(job, Decision::passthrough(false, "r"), probe, cut),
              concat({FFmpegArguments::common(),
                      {"-ss", "00:00:01.999", "-t", "00:00:03.001", "-max_pixels", "67108864", "-f", "mov", "-i", "/in/a.mp4",
                       "-map", "0:V:0", "-map", "0:a:0?", "-c", "copy", "-sn", "-dn", "-bsf:v", "noise=drop=gte(n\\,73)",
                       "-copypriorss", "0", "-output_ts_offset", "-0.001000", "-movflags", "+faststart", "/out/b.mp4"}}));
    // Nothing to keep apart when the sound is dropped or the stream is re-encoded.
    auto silent = job;
    silent.options.tool = "remove-audio";
    const Args one = FFmpegArguments::build(silent, Decision::passthrough(false, "r"), probe, cut);
    EXPECT_EQ(std::count(one.begin(), one.end(), "-i"), 1);
    // A cut from the very start seeks nowhere and drops nothing.
    const Args fromStart = FFmpegArguments::build(job, Decision::passthrough(false, "r"), probe, CopyCut{std::nullopt, 0, 5, 125});
    EXPECT_EQ(std::count(fromStart.begin(), fromStart.end(), "-ss"), 0);
    EXPECT_EQ(std::count(fromStart.begin(), fromStart.end(), "-copypriorss"), 0);
    EXPECT_EQ(FFmpegArguments::inputFormat("image2"), kPixelLimit);
    EXPECT_EQ(FFmpegArguments::inputFormat(std::nullopt), kPixelLimit);
    EXPECT_EQ(FFmpegArguments::inputFormat("matroska"), concat({kPixelLimit, {"-f", "matroska"}}));
}

// A re-encoded cut of pictures is sought on the input but ends on the output's clock, each
// picture keeping its own time; sound alone still ends on the input.
TEST(FFmpegArguments, ReencodedCutsEndOnTheOutput) {
    const auto trim = options([](auto& o) {
        o.tool = "trim";
        o.trimStart = 1.5;
        o.trimEnd = 2.5;
    });
    const Args video = FFmpegArguments::build(testing::mediaJob("/in/a.mp4", "/out/b.mp4", "mp4", "mp4", trim),
                                              Decision::reencode("r"), std::nullopt);
    const auto input = std::find(video.begin(), video.end(), "-i");
    ASSERT_NE(input, video.end());
    EXPECT_EQ(std::count(video.begin(), input, "-t"), 0);
    EXPECT_EQ(std::count(video.begin(), input, "-ss"), 1);
    const auto end = std::find(input, video.end(), "-t");
    ASSERT_NE(end, video.end());
    EXPECT_EQ(*(end + 1), "00:00:01.000");
    EXPECT_NE(std::find(input, video.end(), "-fps_mode"), video.end());
    const Args sound = FFmpegArguments::build(testing::mediaJob("/in/a.mp3", "/out/b.mp3", "mp3", "mp3", trim),
                                              Decision::reencode("r"), std::nullopt);
    const auto soundInput = std::find(sound.begin(), sound.end(), "-i");
    EXPECT_EQ(std::count(sound.begin(), soundInput, "-t"), 1);
    EXPECT_EQ(std::count(sound.begin(), sound.end(), "-fps_mode"), 0);
}

// Ogg sound whose pages say their times (Opus, Vorbis) is sought before it is opened, as fast
// as any seek; the rest (FLAC), whose pages do not, is read from its start and cut on the samples.
TEST(FFmpegArguments, OggSoundIsSoughtWhereItsPagesSayTheirTimes) {
    for (const auto& codec : testing::soundCodecsOf("ogg")) {
        SCOPED_TRACE(codec);
        const auto job = testing::mediaJob("/in/a.ogg", "/out/b.ogg", "ogg", "ogg", options([](auto& o) {
                                               o.tool = "trim";
                                               o.trimStart = 560;
                                               o.trimEnd = 590;
                                           }));
        MediaProbe probe;
        probe.demuxer = "ogg";
        probe.audioCodec = codec;
        probe.audioSampleRate = 48000;
        probe.durationSeconds = 1800;
        const auto args = FFmpegArguments::build(job, Decision::reencode("r"), probe);
        const auto seek = std::find(args.begin(), args.end(), "-ss");
        ASSERT_NE(seek, args.end());
        EXPECT_EQ(seek < std::find(args.begin(), args.end(), "-i"), codec == "opus" || codec == "vorbis");
    }
}

TEST(FFmpegArguments, MappingsPerTargetAndTool) {
    MediaProbe probe;
    probe.videoCodec = "hevc";
    probe.audioCodec = "aac";
    probe.audioSampleRate = 44100;
    struct Case {
        const char* name;
        std::string from, to;
        ConversionOptions options;
        Decision decision;
        Args expected;
    };
    const auto keep = ConversionOptions::defaults();
    const Case cases[] = {
        {"trim start 0 gives no seek", "mp4", "mp4", options([](auto& o) { o.trimStart = 0; o.trimEnd = 10; }),
         Decision::passthrough(false, ""),
         {"-map", "0:V:0", "-map", "0:a:0?", "-c", "copy", "-sn", "-dn", "-tag:v", "hvc1", "-movflags", "+faststart"}},
        {"hevc copied into an Apple container is tagged hvc1, an M4V is written as MP4", "mkv", "m4v", keep,
         Decision::passthrough(false, ""),
         {"-map", "0:V:0", "-map", "0:a:0?", "-c", "copy", "-sn", "-dn", "-tag:v", "hvc1", "-f", "mp4", "-movflags", "+faststart"}},
        {"audio copied out", "mp4", "m4a", keep, Decision::passthrough(true, ""), {"-vn", "-map", "0:a:0", "-c:a", "copy", "-movflags", "+faststart"}},
        {"remove-audio copy", "mp4", "mkv", options([](auto& o) { o.tool = "remove-audio"; }), Decision::passthrough(false, ""),
         {"-map", "0:V:0", "-an", "-c", "copy", "-sn", "-dn"}},
        {"remove-audio re-encode", "mp4", "mkv", options([](auto& o) { o.tool = "remove-audio"; o.preserveMetadata = false; }),
         Decision::reencode(""), concat({{"-map", "0:V:0", "-an", "-sn", "-dn"}, kH264, {"-vf", kEven}, kStrip, kOwnTimes})},
        {"compress copies audio the container takes", "mp4", "mp4", options([](auto& o) { o.tool = "compress"; }), Decision::reencode(""),
         concat({{"-map", "0:V:0", "-map", "0:a:0?", "-sn", "-dn"}, kH264, {"-vf", kEven, "-c:a", "copy"}, kOwnTimes,
                 {"-movflags", "+faststart"}})},
        {"lossless audio has no bit rate", "mp4", "flac", options([](auto& o) { o.sampleRate = 48000.7; }), Decision::reencode(""),
         {"-vn", "-map", "0:a:0", "-c:a", "flac", "-ar", "48000"}},
        {"lossy audio bit rate", "wav", "mp3", options([](auto& o) { o.audioBitrate = 320000; }), Decision::reencode(""),
         {"-vn", "-map", "0:a:0", "-id3v2_version", "3", "-c:a", "libmp3lame", "-b:a", "320k"}},
        {"normalize audio", "mp3", "mp3", options([](auto& o) { o.tool = "normalize"; }), Decision::reencode(""),
         {"-vn", "-map", "0:a:0", "-id3v2_version", "3", "-af", "loudnorm=I=-16:TP=-1.5:LRA=11,aformat=sample_fmts=fltp,aresample=44100", "-c:a",
          "libmp3lame", "-b:a", "192k"}},
        {"normalize video", "mp4", "mov", options([](auto& o) { o.tool = "normalize"; }), Decision::reencode(""),
         concat({{"-map", "0:V:0", "-map", "0:a:0?", "-sn", "-dn"}, kH264,
                 {"-vf", kEven, "-af", "loudnorm=I=-16:TP=-1.5:LRA=11,aformat=sample_fmts=fltp,aresample=44100", "-c:a", "aac",
                  "-b:a", "192k"},
                 kOwnTimes, {"-f", "mov", "-movflags", "+faststart"}})},
        {"webp still", "mp4", "webp", options([](auto& o) { o.quality = 0.5; o.preserveMetadata = false; }), Decision::reencode(""),
         {"-an", "-frames:v", "1", "-c:v", "libwebp", "-quality", "50", "-pix_fmt", "yuva420p"}},
        {"png still is written as one named file", "mp4", "png", options([](auto& o) { o.maxDimension = 32; }), Decision::reencode(""),
         {"-an", "-frames:v", "1", "-c:v", "png", "-vf", "scale='trunc(min(1,32/max(iw,ih))*iw/2)*2':'trunc(min(1,32/max(iw,ih))*ih/2)*2'",
          "-update", "1"}},
        {"crop and scale", "mp4", "mkv", options([](auto& o) {
             o.tool = "crop";
             o.cropRect = UnitRect{0.25, 0.5, 0.5, 0.5};
             o.maxDimension = 1280;
         }),
         Decision::reencode(""),
         concat({{"-map", "0:V:0", "-map", "0:a:0?", "-sn", "-dn"}, kH264,
                 {"-vf",
                  "crop=trunc(iw*0.500000/2)*2:trunc(ih*0.500000/2)*2:trunc(iw*0.250000/2)*2:trunc(ih*0.000000/2)*2,"
                  "scale='trunc(min(1,1280/max(iw,ih))*iw/2)*2':'trunc(min(1,1280/max(iw,ih))*ih/2)*2'",
                  "-c:a", "aac", "-b:a", "192k"},
                 kOwnTimes})},
    };
    for (const auto& c : cases) {
        const auto job = testing::mediaJob("/in/x." + c.from, "/out/y." + c.to, c.from, c.to, c.options);
        EXPECT_EQ(mapping(FFmpegArguments::build(job, c.decision, probe)), c.expected) << c.name;
    }
}

// A GIF is made in two runs, neither of which holds more than a frame or two: no graph splits
// the frames between the palette and its use.
TEST(FFmpegArguments, GifsTakeTwoBoundedPasses) {
    const auto clip = testing::mediaJob("/in/x.mp4", "/out/y.gif", "mp4", "gif", options([](auto& o) {
                                            o.trimStart = 2;
                                            o.trimEnd = 4;
                                            o.quality = 0.5;
                                        }));
    const Args trimmed = concat({{"-ss", "00:00:02.000", "-t", "00:00:02.000"}, kPixelLimit, {"-i", "/in/x.mp4"}});
    EXPECT_EQ(FFmpegArguments::gifPalette(clip, "/tmp/s/palette.png"),
              concat({FFmpegArguments::common(), trimmed,
                      {"-an", "-vf", "fps=12,scale=480:-1:flags=lanczos,palettegen=stats_mode=diff", "-update", "1",
                       "/tmp/s/palette.png"}}));
    EXPECT_EQ(FFmpegArguments::gifFrames(clip, "/tmp/s/palette.png"),
              concat({FFmpegArguments::common(), trimmed,
                      {"-i", "/tmp/s/palette.png", "-an", "-filter_complex",
                       "[0:v]fps=12,scale=480:-1:flags=lanczos[x];[x][1:v]paletteuse=dither=bayer:bayer_scale=3", "-loop", "0",
                       "/out/y.gif"}}));
    // A still keeps its only frame (no rate filter to drop it).
    const auto still = testing::mediaJob("/in/x.png", "/out/y.gif", "png", "gif", options([](auto& o) { o.maxDimension = 64; }));
    EXPECT_EQ(FFmpegArguments::gifPalette(still, "/p.png")[FFmpegArguments::common().size() + 6],
              "scale=64:-1:flags=lanczos,palettegen=stats_mode=diff");
    EXPECT_THROW(FFmpegArguments::build(clip, Decision::reencode(""), std::nullopt), std::logic_error);
}

TEST(FFmpegArguments, BitRatesAndCaps) {
    const auto job = [](double quality) {
        return testing::mediaJob("/in/x.mp4", "/out/y.mp4", "mp4", "mp4", options([&](auto& o) { o.quality = quality; }));
    };
    EXPECT_EQ(FFmpegArguments::videoBitrate(job(0), std::nullopt), "1000k");
    EXPECT_EQ(FFmpegArguments::videoBitrate(job(0.7), std::nullopt), "8700k");
    EXPECT_EQ(FFmpegArguments::videoBitrate(job(1), std::nullopt), "12000k");
    EXPECT_EQ(FFmpegArguments::videoBitrate(testing::mediaJob("/a.mp4", "/b.mp4", "mp4", "mp4"), std::nullopt), std::nullopt);

    // Resize without a readable source: the estimate from the output's pixels (never below the floor).
    MediaProbe probe;
    probe.width = 1920;
    probe.height = 1080;
    const auto resize = testing::mediaJob("/missing/x.mp4", "/out/y.mp4", "mp4", "mp4", options([](auto& o) {
                                              o.quality = 1;
                                              o.maxDimension = 1280;
                                          }));
    EXPECT_EQ(FFmpegArguments::videoBitrate(resize, probe), "11059k");  // 921600 px × 0.4 × 30

    EXPECT_EQ(FFmpegArguments::rateCap("8700k"), (Args{"-maxrate", "9570k", "-bufsize", "17400k"}));
    for (const char* bad : {"", "k", "abck", "12.5k", "--1k"}) EXPECT_TRUE(FFmpegArguments::rateCap(bad).empty()) << bad;
}

TEST(FFmpegArguments, NumbersIgnoreTheLocale) {
    const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
    if (!german) GTEST_SKIP() << "no German locale installed";
    auto job = testing::mediaJob("/in/x.mp4", "/out/y.mp4", "mp4", "mp4", options([](auto& o) {
                                     o.cropRect = UnitRect{0.1, 0.1, 0.5, 0.5};
                                     o.trimStart = 1.5;
                                 }));
    const auto args = FFmpegArguments::build(job, Decision::reencode(""), std::nullopt);
    std::setlocale(LC_ALL, "C");
    const auto filter = std::find(args.begin(), args.end(), "-vf");
    ASSERT_NE(filter, args.end());
    EXPECT_NE(filter[1].find("iw*0.500000"), std::string::npos) << filter[1];
    EXPECT_NE(std::find(args.begin(), args.end(), "00:00:01.500"), args.end());
}

}  // namespace
}  // namespace kolvex
