// SPDX-License-Identifier: GPL-3.0-or-later
// The trim and split sheets say, before the run, whether a cut is an instant stream copy or a
// re-encode. Over generated sources (B-frames, open groups of pictures, sound the container
// cannot hold, every sound codec the cut tools take) the sheet's word, read as the sheet reads
// the file, must be what the engine then does.
#include <cmath>
#include <memory>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/ffmpeg/CutPlan.h"
#include "core/ffmpeg/FFmpegEngine.h"
#include "core/ffmpeg/preview/MediaFacts.h"
#include "core/format/FormatRegistry.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "ui/sheets/MediaSheetModels.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

enum class Expect { copy, reencode, either };
enum class Cut {
    keyframes,     // trim from the keyframe near 1 s to the one near 2 s
    bframeEnd,     // from the keyframe near 1 s to an end inside a group of B-frames
    oneFrame,      // one picture from the keyframe near 1 s
    between,       // 1.3 s to 2.6 s
    splitKeyframes // split at the keyframes near 1 s and 2 s
};

struct Row {
    std::string name;
    std::string extension;
    std::vector<std::string> encode;  // ffmpeg's arguments after the lavfi inputs
    bool video;
    Cut cut;
    Expect expect;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

std::vector<std::string> h264(std::vector<std::string> more) {
    std::vector<std::string> args = {"-c:v", "libx264", "-preset", "veryfast", "-g", "25", "-keyint_min", "25",
                                     "-sc_threshold", "0", "-pix_fmt", "yuv420p"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

const std::vector<Row>& rows() {
    static const std::vector<Row> all = {
        {"mkv_keyframes", "mkv", h264({"-bf", "3", "-c:a", "aac"}), true, Cut::keyframes, Expect::copy},
        {"mkv_bframe_end", "mkv", h264({"-bf", "3", "-c:a", "aac"}), true, Cut::bframeEnd, Expect::reencode},
        {"mkv_one_frame", "mkv", h264({"-bf", "3", "-c:a", "aac"}), true, Cut::oneFrame, Expect::either},
        {"mkv_between", "mkv", h264({"-bf", "3", "-c:a", "aac"}), true, Cut::between, Expect::reencode},
        {"mkv_open_gop", "mkv", h264({"-bf", "3", "-x264-params", "open-gop=1", "-c:a", "aac"}), true, Cut::keyframes,
         Expect::reencode},
        {"mp4_keyframes", "mp4", h264({"-bf", "2", "-c:a", "aac"}), true, Cut::keyframes, Expect::copy},
        {"mp4_ac3", "mp4", h264({"-bf", "0", "-c:a", "ac3"}), true, Cut::keyframes, Expect::reencode},
        {"mkv_split", "mkv", h264({"-bf", "3", "-c:a", "aac"}), true, Cut::splitKeyframes, Expect::copy},
        {"mkv_open_gop_split", "mkv", h264({"-bf", "3", "-x264-params", "open-gop=1", "-c:a", "aac"}), true,
         Cut::splitKeyframes, Expect::reencode},
        {"mp4_ac3_split", "mp4", h264({"-bf", "0", "-c:a", "ac3"}), true, Cut::splitKeyframes, Expect::reencode},
        {"mp3", "mp3", {"-c:a", "libmp3lame"}, false, Cut::between, Expect::reencode},
        {"mp3_split", "mp3", {"-c:a", "libmp3lame"}, false, Cut::splitKeyframes, Expect::reencode},
        {"m4a_aac", "m4a", {"-c:a", "aac"}, false, Cut::between, Expect::either},
        {"m4a_alac", "m4a", {"-c:a", "alac"}, false, Cut::between, Expect::either},
        {"ogg_opus", "ogg", {"-c:a", "libopus"}, false, Cut::between, Expect::either},
        {"ogg_vorbis", "ogg", {"-c:a", "libvorbis"}, false, Cut::splitKeyframes, Expect::either},
        {"opus", "opus", {"-c:a", "libopus"}, false, Cut::between, Expect::either},
        {"flac", "flac", {"-c:a", "flac"}, false, Cut::between, Expect::reencode},
        {"wav", "wav", {"-c:a", "pcm_s16le"}, false, Cut::splitKeyframes, Expect::reencode},
    };
    return all;
}

class CutPromise : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override { KOLVEX_REQUIRE_FFMPEG(); }
    testing::TempDir m_dir, m_out;
};

TEST_P(CutPromise, TheSheetSaysWhatTheEngineDoes) {
    const Row& row = GetParam();
    const fs::path source = m_dir / ("source." + row.extension);
    std::vector<std::string> args;
    if (row.video) args = {"-f", "lavfi", "-i", "testsrc2=size=96x64:rate=25:duration=4"};
    args.insert(args.end(), {"-f", "lavfi", "-i", "sine=sample_rate=48000:duration=4"});
    args.insert(args.end(), row.encode.begin(), row.encode.end());
    testing::makeMedia(source, args);

    // The sheet's read: the facts, then every packet of the pictures (videos).
    const auto registry = FormatRegistry::loadBundled();
    const auto from = registry.formatFor(source);
    ASSERT_TRUE(from) << "the manifest does not know ." << row.extension;
    const FFmpegMediaFacts facts;
    const MediaProbe probe = facts.probe(source, {});
    std::shared_ptr<const StreamCopyCuts> cuts;
    if (row.video) cuts = std::make_shared<const StreamCopyCuts>(facts.copyCuts(source, {}));
    const bool split = row.cut == Cut::splitKeyframes;
    ConversionOptions options;
    options.tool = split ? "split" : "trim";
    const ConversionCapability capability{from->id, from->id, engine_ids::ffmpeg, ConversionCost::subprocess, true};
    const auto question =
        std::make_shared<const CutQuestion>(ConversionJob(source, {}, source, *from, *from, capability, options), probe, cuts);

    // Where it is cut: near the keyframes the sheet snaps to.
    const KeyframeIndex keyframes = question->copyStarts();
    const auto near = [&](double time) { return row.video ? cuts->keyframes.nearest(time) : time; };
    const double k1 = near(1.0), k2 = near(2.0);
    double start = k1, end = k2;
    if (row.cut == Cut::between) start = 1.3, end = 2.6;
    if (row.cut == Cut::oneFrame) end = k1 + 0.04;
    if (row.cut == Cut::bframeEnd) {
        // The first end after the start inside a group of B-frames, as the engine's plan finds it.
        std::optional<double> found;
        for (const auto& picture : cuts->pictures)
            if (!found && picture.time > start + 0.1 && picture.time < k2 &&
                question->trim(start, picture.time + 0.01).cause == CutPlan::Cause::end)
                found = picture.time + 0.01;
        ASSERT_TRUE(found) << "no end inside a group of B-frames";
        end = *found;
    }

    // The sheet's word.
    bool promisedCopy = false;
    std::string said;
    if (split) {
        SplitModel model(*probe.durationSeconds, question->keyframes());
        model.video = row.video;
        model.question = question;
        model.method = SplitModel::Method::equalParts;
        model.parts = 4;
        const auto parts = model.plans();
        ASSERT_FALSE(parts.empty());
        promisedCopy = std::all_of(parts.begin(), parts.end(), [](const CutPlan& p) { return p.isCopy(); });
        said = model.explanation();
        options.splitPoints = model.points();
    } else {
        TrimModel model(*probe.durationSeconds, keyframes);
        model.video = row.video;
        model.question = question;
        model.commitEnd(end);
        model.commitStart(start);
        promisedCopy = model.isStreamCopy();
        said = model.explanation();
        options.trimStart = model.start;
        options.trimEnd = model.end;
    }
    SCOPED_TRACE("the sheet said: " + said);
    if (row.expect != Expect::either) {
        EXPECT_EQ(promisedCopy, row.expect == Expect::copy);
    }
    // Its words: "instant" for a copy only.
    if (promisedCopy) {
        EXPECT_NE(said.find("instant"), std::string::npos);
    } else {
        EXPECT_EQ(said.find("so this is instant"), std::string::npos);
        EXPECT_EQ(said.find("every part is a stream copy"), std::string::npos);
    }

    // What the engine does with the sheet's answer.
    const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
    const ConversionJob job(source, {}, m_out / ("out." + from->canonicalExtension()), *from, *from, capability, options);
    const ConversionOutcome outcome = engine.convertReporting(job, nullptr, {});
    ASSERT_FALSE(outcome.outputs.empty());
    for (const auto& output : outcome.outputs) EXPECT_TRUE(fs::exists(output)) << output;
    EXPECT_EQ(outcome.usedPassthrough, promisedCopy) << "the sheet promised " << (promisedCopy ? "a copy" : "a re-encode");
}

INSTANTIATE_TEST_SUITE_P(Sources, CutPromise, ::testing::ValuesIn(rows()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kolvex
