// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/LibavProber.h"

#include "core/ffmpeg/LibavInput.h"
#include "core/ffmpeg/LibavKeyframeReader.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <functional>

#include <gtest/gtest.h>

#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"
#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "MediaReport.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

void ffmpeg(const std::vector<std::string>& arguments) {
    std::vector<std::string> args = {"-v", "error", "-y"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    const auto result = ProcessRunner().run(testing::systemFFmpeg(), args, std::chrono::seconds(60), {}, {});
    ASSERT_EQ(result.exitCode, 0) << result.standardError();
}

const std::vector<std::string> kPicture = {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:duration=3"};
const std::vector<std::string> kTone = {"-f", "lavfi", "-i", "sine=frequency=440:duration=3"};
// A keyframe every 4 pictures, B-frames between them.
const std::vector<std::string> kGop = {"-g", "4", "-keyint_min", "4", "-sc_threshold", "0"};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The facts a stream copy and a look at a file's contents rely on; the rest only decoding tells.
MediaProbe copyFacts(MediaProbe probe) {
    probe.pixelFormat.reset();
    probe.isVariableFrameRate = false;
    probe.videoTimeBase.reset();
    probe.frameRate.reset();
    probe.videoProfile.reset();
    probe.videoLevel.reset();
    probe.videoSetup.reset();
    probe.audioBitrate.reset();
    probe.audioChannelLayout.reset();  // an MP4 header may state only the count
    probe.audioBitsPerSample.reset();
    probe.audioTimeBase.reset();
    probe.audioSampleFormat.reset();
    probe.audioProfile.reset();
    probe.audioSetup.reset();
    return probe;
}

// The in-process probe and keyframe reader read every file exactly as ffprobe does. (Decoding
// only keyframes is no way to find them: GIF and VP9 decoders ignore the request and return
// every frame.)
TEST(LibavProber, AgreesWithFFprobeOnEveryKindOfSource) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    using Args = std::vector<std::string>;
    const std::vector<std::pair<std::string, Args>> sources = {
        {"plain.mp4", kPicture + kTone + Args{"-c:v", "libx264", "-c:a", "aac"} + kGop},
        {"rotated.mp4", kPicture + Args{"-c:v", "libx264", "-metadata:s:v", "rotate=90"} + kGop},
        {"tracks.mkv", kPicture + kTone + kTone +
                           Args{"-map", "0:v", "-map", "1:a", "-map", "2:a", "-c:v", "libx264", "-c:a", "libopus", "-pix_fmt",
                                "yuv444p", "-g", "7", "-sc_threshold", "0"}},
        {"cover.mp3", kTone + kPicture + Args{"-map", "0:a", "-map", "1:v", "-frames:v", "1", "-c:v", "mjpeg", "-disposition:v",
                                              "attached_pic"}},
        {"cover.m4a", kTone + kPicture + Args{"-map", "0:a", "-map", "1:v", "-frames:v", "1", "-c:a", "aac", "-c:v", "png",
                                              "-disposition:v", "attached_pic"}},
        {"deep.flac", kTone + Args{"-c:a", "flac", "-sample_fmt", "s32"}},
        {"pcm.wav", kTone + Args{"-c:a", "pcm_s24le"}},
        {"voice.opus", kTone},
        {"moving.gif", kPicture},
        {"clip.webm", kPicture + kTone + Args{"-c:v", "libvpx-vp9", "-c:a", "libopus", "-g", "5"}},
        // MPEG-TS starts its clock later than 0; AVI states no presentation times of its own.
        {"broadcast.ts", kPicture + kTone + Args{"-c:v", "libx264", "-c:a", "mp2"} + kGop},
        {"old.avi", kPicture + kTone + Args{"-c:v", "mpeg4", "-bf", "2", "-g", "6", "-c:a", "pcm_s16le"}},
        {"intra.mkv", kPicture + Args{"-c:v", "mjpeg"}},
        {"intra.mov", kPicture + Args{"-c:v", "prores_ks"}},
    };
    const LibavKeyframeReader keyframes;
    for (const auto& [name, args] : sources) {
        SCOPED_TRACE(name);
        const fs::path file = dir / name;
        ffmpeg(args + Args{file.string()});
        const MediaProbe ours = LibavProber().probe(file);
        EXPECT_EQ(ours, testing::ffprobeFacts(file));
        EXPECT_TRUE(ours.audioCodec || ours.videoCodec);
        // From the header alone: what a copy needs, the same; a file of another kind is read in full.
        const MediaProbe headers = LibavProber().probeHeaders(file);
        // An MP4 cover picture's size is only known from decoding it.
        const bool statedByHeader = name.ends_with(".mp4") || name.ends_with(".mkv") || name.ends_with(".mov") ||
                                    name.ends_with(".webm");
        EXPECT_EQ(LibavInput(file, {}, std::chrono::seconds(30), LibavInput::Reading::headersWhenComplete).streamsRead(),
                  !statedByHeader);
        if (statedByHeader)
            EXPECT_EQ(copyFacts(headers), copyFacts(ours));
        else
            EXPECT_EQ(headers, ours);

        // An AVI's MPEG-4 pictures with B-frames state no presentation time in their packets: they
        // are where ffmpeg's decoder shows them.
        const bool shownByDecoding = name == "old.avi";
        const KeyframeIndex index = keyframes.index(file);
        const StreamCopyCuts shown = shownByDecoding ? testing::ffprobeShownCuts(file) : StreamCopyCuts();
        EXPECT_EQ(index.times(), (shownByDecoding ? shown : testing::ffprobeCuts(file)).keyframes.times());
        EXPECT_EQ(index.count() > 1, ours.videoCodec && name != "moving.gif") << index.count();
        for (const auto& window : {std::optional<std::pair<double, double>>(), std::optional(std::pair(0.0, 1.0)),
                                   std::optional(std::pair(0.3, 2.3)), std::optional(std::pair(1.6, 3.6))}) {
            if (window && !ours.videoCodec) continue;
            const StreamCopyCuts cuts = keyframes.cuts(file, {}, window);
            const StreamCopyCuts expected = !shownByDecoding ? testing::ffprobeCuts(file, window)
                                            : window        ? shown.within(*window)
                                                            : shown;
            if (shownByDecoding) {
                // Every picture, each once, keyframes where the decoder found them.
                auto times = [](const StreamCopyCuts& read) {
                    std::vector<std::pair<double, bool>> all;
                    for (const auto& picture : read.pictures) all.emplace_back(picture.time, picture.keyframe);
                    std::sort(all.begin(), all.end());
                    return all;
                };
                if (!window) {
                    EXPECT_EQ(times(cuts), times(expected));
                }
            }
            // Sought by when they are decoded, such pictures' read may begin a keyframe later than
            // one shown before the window: from the window's start on, the keyframes are the same.
            const auto from = [&](const StreamCopyCuts& read) {
                std::vector<double> times = read.keyframes.times();
                if (shownByDecoding && window) std::erase_if(times, [&](double t) { return t < window->first; });
                return times;
            };
            EXPECT_EQ(from(cuts), from(expected)) << (window ? window->first : -1);
            if (!shownByDecoding || !window) {
                EXPECT_EQ(cuts.decodeDelay, expected.decodeDelay) << (window ? window->first : -1);
            }
            if (!window) continue;
            // Read in the probe's own opening of the file, for a trim: the same.
            const auto [probe, near] = LibavProber().probeWithCuts(file, *window);
            EXPECT_EQ(probe, ours);
            ASSERT_TRUE(near);
            EXPECT_EQ(from(*near), from(expected));
            if (!shownByDecoding) {
                EXPECT_EQ(near->decodeDelay, expected.decodeDelay);
            }
        }
        // For a split: the facts and every cut in one opening, as the probe and the whole read give them.
        const auto [probe, every] = LibavProber().probeWithEveryCut(file);
        EXPECT_EQ(probe, ours);
        ASSERT_TRUE(every);
        const StreamCopyCuts whole = keyframes.cuts(file);
        EXPECT_EQ(every->pictures, whole.pictures);
        EXPECT_EQ(every->keyframes, whole.keyframes);
        EXPECT_EQ(every->decodeDelay, whole.decodeDelay);
    }
}

// A copied cut's edit list hides its lead-in from the keyframe, pictures and sound alike, as
// ffprobe flags those packets; an encoder's delay alone hides nothing that counts.
TEST(LibavProber, TellsWhatAnEditListHides) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const fs::path plain = dir / "plain.mp4", cut = dir / "cut.mp4";
    ffmpeg(kPicture + kTone + std::vector<std::string>{"-c:v", "libx264", "-c:a", "aac", "-g", "30", plain.string()});
    ffmpeg({"-ss", "0.45", "-i", plain.string(), "-c", "copy", cut.string()});
    const MediaProbe whole = LibavProber().probe(plain), part = LibavProber().probe(cut);
    EXPECT_FALSE(whole.editHidesPictures || whole.editHidesSound);
    EXPECT_TRUE(part.editHidesPictures && part.editHidesSound);
    EXPECT_EQ(whole, testing::ffprobeFacts(plain));
    EXPECT_EQ(part, testing::ffprobeFacts(cut));
}

// A display matrix of zeros turns nothing (it once read as NaN degrees).
TEST(LibavProber, AMatrixThatTurnsNothingIsNoRotation) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const fs::path file = dir / "zero.mp4";
    ffmpeg(kPicture + std::vector<std::string>{"-c:v", "libx264", "-metadata:s:v", "rotate=90", file.string()});
    std::fstream io(file, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(io)), std::istreambuf_iterator<char>());
    const size_t header = bytes.find("tkhd");
    ASSERT_NE(header, std::string::npos);
    ASSERT_EQ(bytes[header + 4], 0) << "a version 0 track header";
    io.seekp(static_cast<std::streamoff>(header + 44));
    io.write(std::string(36, '\0').data(), 36);
    io.close();
    EXPECT_EQ(LibavProber().probe(file).rotation, 0);
}

TEST(LibavProber, ReadsAwkwardNamesAndRefusesWhatIsNotMedia) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    // A name that looks like an option or an address, with quotes and letters beyond ASCII.
    const auto clip = testing::makeClip(dir / "-i ünï 'q\" http: clip.mp4", {.seconds = 1.0, .codecArguments = {"-c:v", "libx264", "-g", "5"}});
    const MediaProbe probe = LibavProber().probe(clip);
    const KeyframeIndex keyframes = LibavKeyframeReader().index(clip);
    EXPECT_EQ(probe.videoCodec, "h264");
    EXPECT_EQ(probe.audioSampleRate, 8000);
    EXPECT_EQ(keyframes.times(), (std::vector<double>{0, 0.5}));

    std::ofstream(dir / "notes.mp4") << "just some text, not a movie";
    // What is not there cannot be read; what is there but no media is damaged.
    for (const fs::path& file : {dir / "notes.mp4", dir / "missing.mp4"}) {
        SCOPED_TRACE(file);
        const ConversionError expected = fs::exists(file) ? ConversionError::corruptedInput(file)
                                                          : ConversionError::unreadableInput(file);
        for (const auto& read : std::vector<std::function<void()>>{[&] { LibavProber().probe(file); },
                                                                   [&] { LibavKeyframeReader().index(file); },
                                                                   [&] { LibavKeyframeReader().cuts(file, {}, std::pair(1.0, 2.0)); }}) {
            try {
                read();
                ADD_FAILURE() << "accepted";
            } catch (const ConversionError& error) {
                EXPECT_EQ(error, expected) << error.shortDescription();
            }
        }
    }
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(LibavProber().probe(clip, stop.get_token()), OperationCancelled);
    EXPECT_THROW(LibavKeyframeReader().index(clip, stop.get_token()), OperationCancelled);
}

}  // namespace
}  // namespace kolvex
