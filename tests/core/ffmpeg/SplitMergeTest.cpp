// SPDX-License-Identifier: GPL-3.0-or-later
#include <latch>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "core/ffmpeg/FFmpegEngine.h"
#include "core/ffmpeg/MergePlan.h"
#include "core/services/Cancellation.h"
#include "core/services/Log.h"
#include "core/services/OutputNaming.h"
#include "support/FakeFFmpeg.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "FixedProber.h"
#include "MediaReport.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::mediaJob;
using Points = std::vector<double>;

using testing::FixedProber;

ConversionOptions tool(const char* name, auto change) {
    ConversionOptions o = ConversionOptions::defaults();
    o.tool = name;
    change(o);
    return o;
}

ConversionJob mergeJob(std::vector<fs::path> sources, const fs::path& destination, const std::string& to) {
    ConversionJob job = mediaJob(sources.front(), destination, "mp4", to, tool("merge", [](auto&) {}));
    job.additionalSources.assign(sources.begin() + 1, sources.end());
    return job;
}

MediaProbe av(const char* video, const char* audio, int64_t width, int64_t height, int64_t rate, int64_t channels,
              std::optional<double> duration = 1.0) {
    MediaProbe p;
    if (video) p.videoCodec = video;
    if (audio) p.audioCodec = audio;
    if (video) {
        p.width = width;
        p.height = height;
    }
    if (audio) {
        p.audioSampleRate = rate;
        p.audioChannels = channels;
        p.audioTrackCount = 1;
    }
    p.durationSeconds = duration;
    return p;
}

TEST(Split, AcceptsPointsInsideTheFileAndApart) {
    EXPECT_EQ(FFmpegEngine::splitPoints({}, 10), Points{5});
    EXPECT_EQ(FFmpegEngine::splitPoints({7, 3, 3.05, 0.05, 9.95}, 10), (Points{3, 7}));
    EXPECT_EQ(FFmpegEngine::splitPoints({1.0, 1.1}, 10), (Points{1.0, 1.1}));
    EXPECT_EQ(FFmpegEngine::splitPoints({1.0, 1.05}, 10), Points{1.0});
    EXPECT_EQ(FFmpegEngine::splitPoints({0.1, 10 + -0.1}, 10), Points{});
    EXPECT_EQ(FFmpegEngine::splitPoints({}, 0.21), Points{0.105});
    EXPECT_EQ(FFmpegEngine::splitPoints({4, 4, 4}, 10), Points{4});
}

TEST(MergePlan, DecidesBetweenCopyAndReencode) {
    const auto mp4 = testing::mediaFormat("mp4");
    const std::string dash = "\u2014";
    const MergePlan same({av("h264", "aac", 1280, 720, 44100, 2), av("h264", "aac", 1280, 720, 44100, 2, 2.5)}, mp4);
    EXPECT_TRUE(same.canStreamCopy);
    // Coded sound carries its encoder's delay and padding into every join: it is re-encoded.
    EXPECT_TRUE(same.reencodesSound);
    EXPECT_EQ(same.reason, "identical streams " + dash + " copying the pictures, re-encoding the sound to meet them at every join");
    const MergePlan pcm({av("h264", "pcm_s16le", 1280, 720, 44100, 2), av("h264", "pcm_s16le", 1280, 720, 44100, 2)}, testing::mediaFormat("mov"));
    EXPECT_TRUE(pcm.canStreamCopy);
    EXPECT_FALSE(pcm.reencodesSound);
    EXPECT_EQ(pcm.reason, "identical streams " + dash + " copying without re-encoding");
    const MergePlan songs({av(nullptr, "mp3", 0, 0, 44100, 2), av(nullptr, "mp3", 0, 0, 44100, 2)}, testing::mediaFormat("mp3"));
    EXPECT_FALSE(songs.canStreamCopy);
    EXPECT_EQ(songs.reason, "re-encoding: each file's encoder delay and padding would leave a gap at every join");
    EXPECT_EQ(same.totalDuration, 3.5);

    const MergePlan webm({av("h264", "aac", 1280, 720, 44100, 2), av("h264", "aac", 1280, 720, 44100, 2)}, testing::mediaFormat("webm"));
    EXPECT_FALSE(webm.canStreamCopy);
    EXPECT_EQ(webm.reason, "re-encoding: WebM cannot carry these codecs");
    EXPECT_EQ(std::tie(webm.width, webm.height, webm.frameRate, webm.sampleRate), std::tuple(1280, 720, std::string("30"), 44100));

    const MergePlan sizes({av("h264", "aac", 1920, 800, 44100, 2), av("h264", "aac", 1440, 1080, 44100, 2)}, mp4);
    EXPECT_EQ(sizes.reason, "re-encoding to 1920\u00D71080: inputs differ in resolution");

    const MergePlan audio({av(nullptr, "mp3", 0, 0, 44100, 2), av(nullptr, "mp3", 0, 0, 48000, 2, std::nullopt)},
                          testing::mediaFormat("mp3"));
    EXPECT_FALSE(audio.wantsVideo);
    EXPECT_EQ(audio.sampleRate, 48000);
    EXPECT_EQ(audio.reason, "re-encoding to 1920\u00D71080: inputs differ in sample rate");
    EXPECT_EQ(audio.totalDuration, std::nullopt);

    const MergePlan partly({av("h264", "aac", 64, 48, 8000, 1), av("h264", nullptr, 64, 48, 0, 0), av("h264", "aac", 64, 48, 8000, 1)}, mp4);
    // The file without sound is given silence; the others keep theirs.
    EXPECT_TRUE(partly.wantsAudio);
    EXPECT_EQ(partly.sounded, (std::vector<bool>{true, false, true}));
    EXPECT_TRUE(partly.wantsVideo);
    EXPECT_EQ(partly.reason, "re-encoding to 64\u00D748: inputs differ in some files have no audio");

    const MergePlan toAudio({av("h264", "aac", 64, 48, 8000, 1), av("h264", "aac", 64, 48, 8000, 1)}, testing::mediaFormat("m4a"));
    EXPECT_FALSE(toAudio.wantsVideo);
}

// Copied packets keep their own clocks and decoder setup: any difference in them re-encodes,
// FLAC always does (its header would state the first file's length), and portrait clips are
// planned as they are shown.
TEST(MergePlan, CopiesOnlyInputsAlikeInEveryRespect) {
    const auto phone = [] {
        MediaProbe p = av("h264", "aac", 64, 48, 44100, 2);
        p.demuxer = "mov";
        p.frameRate = "25/1";
        p.videoTimeBase = "1/12800";
        p.audioTimeBase = "1/44100";
        p.pixelFormat = "yuv420p";
        p.videoProfile = "High";
        p.videoLevel = 10;
        p.audioProfile = "LC";
        p.audioSampleFormat = "fltp";
        p.videoSetup = "CRC32:00000001";
        p.audioSetup = "CRC32:00000002";
        return p;
    };
    const auto mp4 = testing::mediaFormat("mp4");
    EXPECT_TRUE(MergePlan({phone(), phone()}, mp4).canStreamCopy);
    struct Case {
        const char* difference;
        void (*change)(MediaProbe&);
    };
    const Case cases[] = {
        {"container", [](MediaProbe& p) { p.demuxer = "matroska"; }},
        {"frame rate", [](MediaProbe& p) { p.frameRate = "30/1"; }},
        {"time base", [](MediaProbe& p) { p.videoTimeBase = "1/15360"; }},
        {"pixel format", [](MediaProbe& p) { p.pixelFormat = "yuv420p10le"; }},
        {"profile", [](MediaProbe& p) { p.videoLevel = 30; }},
        {"bit depth", [](MediaProbe& p) { p.audioBitsPerSample = 24; }},
        {"codec parameters", [](MediaProbe& p) { p.videoSetup = "CRC32:00000003"; }},
        {"rotation", [](MediaProbe& p) { p.rotation = 90; }},
    };
    for (const auto& c : cases) {
        MediaProbe other = phone();
        c.change(other);
        const MergePlan plan({phone(), other}, mp4);
        EXPECT_FALSE(plan.canStreamCopy) << c.difference;
        EXPECT_NE(plan.reason.find(c.difference), std::string::npos) << plan.reason;
    }

    MediaProbe flac = av(nullptr, "flac", 0, 0, 44100, 2);
    flac.audioBitsPerSample = 16;
    MediaProbe deep = flac;
    deep.audioBitsPerSample = 24;
    const MergePlan lossless({flac, flac}, testing::mediaFormat("flac"));
    EXPECT_FALSE(lossless.canStreamCopy);
    EXPECT_EQ(MergePlan({flac, deep}, testing::mediaFormat("flac")).audioBitsPerSample, 24);
    const auto job = mergeJob({"/m/a.flac", "/m/b.flac"}, "/out/all.flac", "flac");
    const MergePlan deeper({flac, deep}, testing::mediaFormat("flac"));
    const auto args = FFmpegEngine::normalisingArguments(job, {"/m/a.flac", "/m/b.flac"}, deeper, {"flac", "flac"});
    EXPECT_EQ(std::vector<std::string>(args.begin() + 9, args.begin() + 19),
              (std::vector<std::string>{"-max_pixels", "67108864", "-f", "flac", "-i", "/m/a.flac", "-max_pixels",
                                        "67108864", "-f", "flac"}));
    EXPECT_NE(args.at(22).find("aformat=sample_fmts=s32:"), std::string::npos) << args.at(22);

    MediaProbe portrait = phone();
    portrait.rotation = 270;
    const MergePlan upright({portrait, portrait}, testing::mediaFormat("mkv"));
    EXPECT_FALSE(upright.canStreamCopy);
    const std::pair<int64_t, int64_t> shown(48, 64);
    EXPECT_EQ(std::pair(upright.width, upright.height), shown);
}

TEST(MergePlan, ArgumentsAndPlaylist) {
    EXPECT_EQ(FFmpegEngine::playlist({"/m/It's.mp4", "/m/b.mp4"}), "file '/m/It'\\''s.mp4'\nfile '/m/b.mp4'\n");
    EXPECT_EQ(FFmpegEngine::playlist({"/m/a.mp4", "/m/b.mp4"}, {1.0, 1.36}),
              "file '/m/a.mp4'\nduration 1.000000\nfile '/m/b.mp4'\nduration 1.360000\n");

    const auto job = mergeJob({"/m/a.mov", "/m/b.mov"}, "/out/all.mp4", "mp4");
    MergePlan plan({av("h264", "aac", 1920, 1080, 48000, 2), av("hevc", "aac", 1920, 1080, 48000, 2)}, testing::mediaFormat("mp4"));
    auto args = FFmpegEngine::normalisingArguments(job, {"/m/a.mov", "/m/b.mov"}, plan);
    const std::vector<std::string> tail(args.begin() + 9, args.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "-max_pixels", "67108864", "-i", "/m/a.mov", "-max_pixels", "67108864", "-i", "/m/b.mov",
                        "-filter_complex",
                        "[0:V:0]setpts=PTS-STARTPTS,scale=1920:1080:force_original_aspect_ratio=decrease,pad=1920:1080:-1:-1,setsar=1[v0];"
                        "[0:a:0]asetpts=PTS-STARTPTS,atrim=end=1.000000,aresample=48000,aformat=sample_fmts=fltp:channel_layouts=stereo[a0];"
                        "[1:V:0]setpts=PTS-STARTPTS,scale=1920:1080:force_original_aspect_ratio=decrease,pad=1920:1080:-1:-1,setsar=1[v1];"
                        "[1:a:0]asetpts=PTS-STARTPTS,atrim=end=1.000000,aresample=48000,aformat=sample_fmts=fltp:channel_layouts=stereo[a1];"
                        "[v0][a0][v1][a1]concat=n=2:v=1:a=1[joined][outa];[joined]fps=30[outv]",
                        "-map", "[outv]", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-profile:v", "high", "-map", "[outa]",
                        "-c:a", "aac", "-b:a", "192k", "-movflags",
                        "+faststart", "/out/all.mp4"}));
    // Where the pictures and sound lie: each sound is cut from its pictures' start on the file's
    // clock, over its pictures' length; a file without sound is as long in silence.
    MergePlan partly({av("h264", "aac", 64, 48, 48000, 2), av("h264", nullptr, 64, 48, 0, 0), av("h264", "opus", 64, 48, 48000, 2)},
                     testing::mediaFormat("mp4"));
    const std::vector<std::optional<ClipSpan>> spans = {ClipSpan{0, 0.023, 1.023, 0, 1.045}, ClipSpan{0, 0, 1.2, {}, {}},
                                                        ClipSpan{-0.007, 0.007, 1.007, 0, 1.0}};
    args = FFmpegEngine::normalisingArguments(job, {"/m/a.mkv", "/m/b.mp4", "/m/c.webm"}, partly, {}, spans);
    const std::string graph = *(std::find(args.begin(), args.end(), "-filter_complex") + 1);
    for (const char* chain : {"[0:a:0]asetpts=PTS-(0.023000)/TB,aresample=first_pts=0,apad=whole_dur=1.000000,atrim=end=1.000000,",
                              "anullsrc=r=48000:cl=stereo,atrim=end=1.200000,",
                              "[2:a:0]asetpts=PTS-(0.007000)/TB,aresample=first_pts=0,apad=whole_dur=1.000000,atrim=end=1.000000,"})
        EXPECT_NE(graph.find(chain), std::string::npos) << chain << " in " << graph;

    args = FFmpegEngine::streamCopyArguments(job, {});
    EXPECT_EQ(std::vector<std::string>(args.begin() + 9, args.end()),
              (std::vector<std::string>{"-f", "concat", "-safe", "0", "-i", "@KOLVEX_PLAYLIST@", "-map", "0:V:0?", "-map",
                                        "0:a:0?", "-sn", "-dn", "-c", "copy", "-movflags",
                                        "+faststart", "/out/all.mp4"}));
}

// Copied pictures follow one another; each file's sound is cut to run from join to join on its
// own clock, so it stays with its pictures whatever delay or padding it carries.
TEST(MergePlan, CutsEachFilesSoundToItsPictures) {
    using Clips = std::vector<FFmpegEngine::MergedClip>;
    const auto near = [](const Clips& got, const Clips& want) {
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i].listedDuration, want[i].listedDuration, 1e-9) << i;
            EXPECT_NEAR(got[i].soundFrom, want[i].soundFrom, 1e-9) << i;
            EXPECT_NEAR(got[i].soundLength, want[i].soundLength, 1e-9) << i;
        }
    };
    // MP4: pictures and sound from 0; the sound's padding runs past the pictures and is cut.
    const ClipSpan mp4{0, 0, 1.0, 0, 1.02}, mp4Long{0, 0, 1.36, 0, 1.37};
    near(*FFmpegEngine::mergedClips({mp4, mp4Long, mp4}), Clips{{1.0, 0, 1.0}, {1.36, 0, 1.36}, {1.0, 0, 1.0}});
    // Matroska with AAC: the encoder's delay is played, the pictures start after it; the next
    // file's delay is left out.
    const ClipSpan mkv{0, 0.023, 1.023, 0, 1.045};
    near(*FFmpegEngine::mergedClips({mkv, mkv}), Clips{{1.0, 0, 1.023}, {1.023, 0.023, 1.0}});
    // WebM with Opus: the sound starts 7 ms before the pictures and ends 7 ms before them; the
    // join follows the sound, so no silence falls between the files.
    const ClipSpan webm{-0.007, 0.007, 1.007, 0, 1.0};
    near(*FFmpegEngine::mergedClips({webm, webm}), Clips{{1.0, -0.007, 1.007}, {1.014, 0, 1.007}});
    // Sound that stops short of a join that the next file's does not reach either: silence.
    const ClipSpan shortSound{0, 0, 1.0, 0, 0.5}, lateSound{0, 0, 1.0, 0.2, 1.0};
    near(*FFmpegEngine::mergedClips({shortSound, lateSound}), Clips{{1.0, 0, 1.0}, {1.0, 0, 1.0}});
    // Unknown or empty pictures: no plan.
    EXPECT_FALSE(FFmpegEngine::mergedClips({mp4, std::nullopt}));
    EXPECT_FALSE(FFmpegEngine::mergedClips({mp4, ClipSpan{0, 1, 1, 0, 1}}));

    const auto job = mergeJob({"/m/a.mp4", "/m/b.mp4"}, "/out/all.mp4", "mp4");
    MediaProbe rich = av("h264", "aac", 64, 48, 44100, 2);
    rich.audioBitrate = 256000;
    const MergePlan plan({av("h264", "aac", 64, 48, 44100, 2), rich}, testing::mediaFormat("mp4"));
    const auto args = FFmpegEngine::pictureCopyArguments(job, {"/m/a.mp4", "/m/b.mp4"}, plan, {{1.0, 0, 1.0}, {1.36, 0.023, 1.36}});
    EXPECT_EQ(std::vector<std::string>(args.begin() + 9, args.end()),
              (std::vector<std::string>{
                  "-copyts", "-f", "concat", "-safe", "0", "-i", "@KOLVEX_PLAYLIST@", "-max_pixels", "67108864", "-i",
                  "/m/a.mp4", "-max_pixels", "67108864", "-i", "/m/b.mp4", "-filter_complex",
                  "[1:a:0]asetpts=PTS-(0.000000)/TB,aresample=first_pts=0,apad=whole_dur=1.000000,atrim=end=1.000000,"
                  "asetpts=PTS-STARTPTS[a0];"
                  "[2:a:0]asetpts=PTS-(0.023000)/TB,aresample=first_pts=0,apad=whole_dur=1.360000,atrim=end=1.360000,"
                  "asetpts=PTS-STARTPTS[a1];[a0][a1]concat=n=2:v=0:a=1[outa]",
                  "-map", "0:V:0", "-map", "[outa]", "-sn", "-dn", "-c:v", "copy", "-c:a", "aac", "-b:a", "256k",
                  "-movflags", "+faststart", "/out/all.mp4"}));
}

// --- Real runs ---------------------------------------------------------------------------------

class SplitMergeRun : public ::testing::Test {
protected:
    void SetUp() override { KOLVEX_REQUIRE_FFMPEG(); }
    fs::path clip(const std::string& name, testing::ClipSpec clipSpec) { return testing::makeClip(m_dir / name, clipSpec); }
    static testing::ClipSpec gop(double seconds, bool audio = true) {
        return {.seconds = seconds, .audio = audio,
                .codecArguments = {"-c:v", "libx264", "-g", "5", "-keyint_min", "5", "-sc_threshold", "0", "-c:a", "aac"}};
    }
    FFmpegEngine engine() const { return FFmpegEngine(BundledFFmpeg::inBundle(), nullptr, {}); }
    // The first video stream's length when there is one (a stream copy cut ends on whole frames
    // of the decoding order, and audio encoders add priming), else the file's.
    double duration(const fs::path& file) const {
        const auto video = testing::probeEntry(file, "stream=duration", "v:0");
        return std::stod(video.empty() || video == "N/A" ? testing::probeEntry(file, "format=duration") : video);
    }

    testing::TempDir m_dir;
};

TEST_F(SplitMergeRun, SplitsAtKeyframesWithoutReplacingExistingFiles) {
    const auto source = clip("clip.mp4", gop(2));
    const auto existing = m_dir.write("clip part 1.mp4", "the user's own file");
    std::mutex mutex;
    std::vector<double> fractions;
    const auto outputs = engine().convert(mediaJob(source, m_dir / "clip.mp4", "mp4", "mp4", tool("split", [](auto& o) {
                                                       o.splitPoints = {1.0};
                                                   })),
                                          [&](double f) {
                                              std::lock_guard lock(mutex);
                                              fractions.push_back(f);
                                          },
                                          {});
    // The parts take one number together: none of them falls in among an earlier split's parts.
    ASSERT_EQ(outputs, (std::vector<fs::path>{m_dir / "clip part 1 2.mp4", m_dir / "clip part 2 2.mp4"}));
    EXPECT_EQ(testing::readFile(existing), "the user's own file");
    EXPECT_NEAR(duration(outputs[0]), 1.0, 0.25);
    EXPECT_NEAR(duration(outputs[1]), 1.0, 0.25);
    // Both parts are copies, written together by one run: its start, then its progress, then the
    // end of the whole split.
    EXPECT_EQ(fractions.front(), 0.02);
    EXPECT_EQ(fractions.back(), 1.0);
    EXPECT_LE(*std::max_element(fractions.begin(), fractions.end()), 1.0);
}

// The file-name limit shortens the stem, never the part label (whole characters only).
TEST_F(SplitMergeRun, LongNamesKeepThePartLabel) {
    std::string stem;
    while (stem.size() < 240) stem += "\u00e9t\u00e9 ";  // two-byte letters: a cut must not split one
    const auto source = clip(stem + ".mp4", gop(1, false));
    const auto existing = m_dir.write(OutputNaming::filename(stem, " part 1", std::nullopt, "mp4"), "taken");
    const auto outputs = engine().convert(mediaJob(source, m_dir / (stem + ".mp4"), "mp4", "mp4", tool("split", [](auto&) {})),
                                          nullptr, {});
    ASSERT_EQ(outputs.size(), 2u);
    const std::string first = outputs[0].filename().string();
    const std::string second = outputs[1].filename().string();
    EXPECT_TRUE(first.ends_with(" part 1 2.mp4")) << first;
    EXPECT_TRUE(second.ends_with(" part 2 2.mp4")) << second;
    for (const auto& name : {first, second}) {
        EXPECT_LE(name.size(), OutputNaming::maxFilenameBytes);
        const std::string kept = name.substr(0, name.rfind(" part "));
        EXPECT_GT(kept.size(), 200u);
        EXPECT_TRUE(stem.starts_with(kept));
        const auto next = static_cast<unsigned char>(stem[kept.size()]);
        EXPECT_FALSE(next >= 0x80 && next < 0xC0) << "cut inside a character";
    }
    EXPECT_EQ(testing::readFile(existing), "taken");
}

TEST_F(SplitMergeRun, AFailedSplitRemovesThePartsItWrote) {
    const auto source = clip("clip.mp4", gop(2));
    std::stop_source stop;
    const auto job = mediaJob(source, m_dir / "cut.mp4", "mp4", "mp4", tool("split", [](auto&) {}));
    EXPECT_THROW(engine().convert(job, [&](double f) { if (f >= 0.5) stop.request_stop(); }, stop.get_token()), OperationCancelled);
    EXPECT_FALSE(fs::exists(m_dir / "cut part 1.mp4"));
    EXPECT_FALSE(fs::exists(m_dir / "cut part 2.mp4"));

    const FFmpegEngine tooShort(BundledFFmpeg::inBundle(), std::make_shared<FixedProber>(av("h264", nullptr, 64, 48, 0, 0, 0.2)), {});
    try {
        tooShort.convert(job, nullptr, {});
        ADD_FAILURE();
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.shortDescription(), "Can't convert MP4 this short to several parts");
    }
}

TEST_F(SplitMergeRun, MergesByCopyOrReencode) {
    const auto a = clip("a.mp4", gop(0.5));
    const auto b = clip("b.mp4", gop(1.0));
    const auto small = clip("small ü.mkv", {.seconds = 0.5, .width = 32, .height = 24, .codecArguments = {"-c:v", "mjpeg", "-c:a", "mp3"}});
    const auto silent = clip("silent.mp4", gop(0.5, false));
    const auto newline = clip("line\nbreak.mp4", gop(0.5));
    struct Case {
        const char* name;
        std::vector<fs::path> sources;
        std::string to;
        const char* logged;
        std::optional<std::string> videoCodec, audioCodec;
        std::optional<int64_t> width, height;
        double duration;
    };
    const std::nullopt_t none = std::nullopt;
    const Case cases[] = {
        {"same codecs", {a, b}, "mp4", "identical streams", "h264", "aac", 64, 48, 1.5},
        {"mixed codecs and sizes", {a, small}, "mkv", "inputs differ in video codec, audio codec, resolution", "h264", "aac", 64, 48, 1.0},
        {"one without audio", {a, silent, b}, "mp4", "some files have no audio", "h264", "aac", 64, 48, 2.0},
        {"a name with a line break", {a, newline}, "mp4", "a file name holds a line break", "h264", "aac", 64, 48, 1.0},
        {"audio out of videos", {a, b}, "m4a", "re-encoding", none, "aac", none, none, 1.5},
    };
    const auto ffmpeg = engine();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        const fs::path out = m_dir / (std::string(c.name) + "." + c.to);
        EXPECT_EQ(ffmpeg.convert(mergeJob(c.sources, out, c.to), nullptr, {}), std::vector<fs::path>{out});
        EXPECT_TRUE(log.contains("engine", c.logged));
        const auto probe = testing::ffprobeFacts(out);
        EXPECT_EQ(probe.videoCodec, c.videoCodec);
        EXPECT_EQ(probe.audioCodec, c.audioCodec);
        EXPECT_EQ(probe.width, c.width);
        EXPECT_EQ(probe.height, c.height);
        ASSERT_TRUE(probe.durationSeconds);
        EXPECT_NEAR(*probe.durationSeconds, c.duration, 0.3);  // audio priming of the re-encodes
    }
    EXPECT_THROW(ffmpeg.convert(mergeJob({a}, m_dir / "one.mp4", "mp4"), nullptr, {}), ConversionError);
}

TEST(MergeFailures, AFailedOrCancelledMergeLeavesNoOutput) {
    testing::TempDir dir;
    testing::FakeFFmpeg fake(dir / "bin");
    const auto a = dir.write("a.mp4", "a"), b = dir.write("b.mp4", "b");
    const FFmpegEngine engine(BundledFFmpeg(fake.ffmpeg()),
                              std::make_shared<FixedProber>(av("h264", "aac", 64, 48, 8000, 1)), {});
    const auto job = mergeJob({a, b}, dir / "all.mp4", "mp4");
    fake.setWritesOutput("ffmpeg", "partial");
    fake.setStandardError("ffmpeg", "Invalid data found when processing input\n");
    fake.setExitCode("ffmpeg", 1);
    EXPECT_THROW(engine.convert(job, nullptr, {}), ConversionError);
    EXPECT_FALSE(fs::exists(dir / "all.mp4"));
    // The playlist named both inputs and lived only during the run.
    const auto args = fake.lastArguments("ffmpeg");
    const auto list = std::find(args.begin(), args.end(), "-i");
    ASSERT_NE(list, args.end());
    EXPECT_EQ(fs::path(list[1]).filename(), "inputs.txt");
    EXPECT_FALSE(fs::exists(list[1]));

    fake.setStandardOutput("ffmpeg", "out_time_us=100000\n");
    fake.setHangs("ffmpeg");
    std::stop_source stop;
    std::latch started(1);
    std::jthread canceller([&] {
        started.wait();
        stop.request_stop();
    });
    EXPECT_THROW(engine.convert(job, [&](double) { started.count_down(); }, stop.get_token()), OperationCancelled);
    EXPECT_FALSE(fs::exists(dir / "all.mp4"));
}

}  // namespace
}  // namespace kolvex
