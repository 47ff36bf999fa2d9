// SPDX-License-Identifier: GPL-3.0-or-later
// The copied parts of a split written by one ffmpeg run, judged by what each output's packet
// filters let through: every picture of the stream must reach exactly the part that a copy of
// that part alone holds (as CutPlan plans it), and the sound the span that copy's seek and stop
// give it, up to where the next part's begins.
#include <algorithm>
#include <cmath>
#include <regex>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/ffmpeg/CopiedParts.h"
#include "core/ffmpeg/CutPlan.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

constexpr double kFrame = 0.04;
constexpr int kGroup = 25;

// `groups` seconds of pictures at 25 a second and the next keyframe, `bFrames` B-frames between
// anchors (decoded that many pictures ahead of their times), from `offset` on.
StreamCopyCuts stream(int groups, int bFrames, double offset) {
    StreamCopyCuts cuts;
    std::vector<double> keyframes;
    for (int group = 0; group <= groups; ++group) {
        const int first = group * kGroup;
        const int last = group == groups ? first : first + kGroup - 1;
        std::vector<int> order = {first};
        for (int anchor = first + bFrames + 1; anchor <= last; anchor += bFrames + 1) {
            order.push_back(anchor);
            for (int b = anchor - bFrames; b < anchor; ++b) order.push_back(b);
        }
        for (int rest = static_cast<int>(order.size()) + first; rest <= last; ++rest) order.push_back(rest);
        for (size_t i = 0; i < order.size(); ++i)
            cuts.pictures.push_back({offset + order[i] * kFrame, offset + (first + int(i) - bFrames) * kFrame, i == 0});
        keyframes.push_back(offset + first * kFrame);
    }
    cuts.keyframes = KeyframeIndex(keyframes);
    cuts.decodeDelay = bFrames * kFrame;
    return cuts;
}

MediaProbe probe(const std::string& demuxer) {
    MediaProbe p;
    p.videoCodec = "h264";
    p.audioCodec = "aac";
    p.audioSampleRate = 44100;
    p.audioChannels = 2;
    p.audioTrackCount = 1;
    p.width = 64;
    p.height = 48;
    p.durationSeconds = 3.0;
    p.demuxer = demuxer;
    p.videoTimeBase = p.audioTimeBase = "1/1000";
    return p;
}

// What one output's "noise" filter lets through: from ≤ time < to.
struct Pass {
    std::optional<double> from, to;
    bool lets(double time) const { return (!from || time >= *from) && (!to || time < *to); }
};

Pass passOf(const std::string& filter) {
    Pass pass;
    std::smatch match;
    if (std::regex_search(filter, match, std::regex(R"(lt\(pts\*tb\\,([-0-9.]+)\))"))) pass.from = std::stod(match[1]);
    if (std::regex_search(filter, match, std::regex(R"(gte\(pts\*tb\\,([-0-9.]+)\))"))) pass.to = std::stod(match[1]);
    return pass;
}

struct Output {
    Pass pictures, sound;
    std::optional<double> offset;
    std::string destination;
};

// The outputs of an argument list, in order: each ends with its destination.
std::vector<Output> outputsOf(const std::vector<std::string>& args, std::optional<double>& seek) {
    std::vector<Output> outputs(1);
    const auto input = std::find(args.begin(), args.end(), "-i");
    for (auto at = args.begin(); at != input; ++at)
        if (*at == "-ss") seek = std::stod((at + 1)->substr(6));  // "00:00:SS.mmm" in these rows
    for (auto at = input + 2; at != args.end(); ++at) {
        if (*at == "-bsf:v") outputs.back().pictures = passOf(*++at);
        else if (*at == "-bsf:a") outputs.back().sound = passOf(*++at);
        else if (*at == "-output_ts_offset") outputs.back().offset = std::stod(*++at);
        else if (at->starts_with("/out/")) {
            outputs.back().destination = *at;
            outputs.emplace_back();
        }
    }
    outputs.pop_back();
    return outputs;
}

struct Row {
    std::string name;
    int bFrames;
    double offset;
    std::vector<double> points;
    size_t copied;  // how many parts are copies
};

// Splits at keyframes (every part a copy) and around a point between keyframes (the parts on
// either side re-encoded, the others copied together), with and without B-frames, from a stream
// that starts at 0 and from one that starts later.
TEST(CopiedParts, EveryPictureReachesThePartItsOwnCopyHolds) {
    const std::vector<Row> rows = {
        {"no B-frames", 0, 0, {1.0, 2.0}, 3},
        {"two B-frames", 2, 0, {1.0, 2.0}, 3},
        {"three B-frames, a later start", 3, 0.021, {1.021, 2.021}, 3},
        {"a point between keyframes", 2, 0, {1.0, 1.5, 2.0}, 2},
        {"the last point between keyframes", 3, 0, {1.0, 2.0, 2.5}, 2},
        {"the first point between keyframes", 2, 0, {0.5, 1.0, 2.0}, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const StreamCopyCuts cuts = stream(3, row.bFrames, row.offset);
        const MediaProbe source = probe("matroska");
        ConversionOptions options = ConversionOptions::defaults();
        options.tool = "split";
        const ConversionJob job = testing::mediaJob("/in/clip.mkv", "/out/clip.mkv", "mkv", "mkv", options);
        std::vector<CopiedParts::Part> parts;
        for (const auto& part : CutPlan::splitParts(job, row.points, &cuts)) {
            ConversionJob partJob = job;
            partJob.options = part;
            const CutPlan plan = CutPlan::of(partJob, source, &cuts);
            if (!plan.cut) continue;
            partJob.destination = "/out/part " + std::to_string(parts.size() + 1) + ".mkv";
            parts.push_back({partJob, *plan.cut});
        }
        ASSERT_EQ(parts.size(), row.copied);
        const auto args = CopiedParts::arguments(parts, source, cuts);
        ASSERT_TRUE(args);
        std::optional<double> seek;
        const auto outputs = outputsOf(*args, seek);
        ASSERT_EQ(outputs.size(), parts.size());
        // The file is read from the first part's seek point on; times count from there.
        EXPECT_EQ(seek, parts.front().cut.seek);
        const double base = seek.value_or(0);
        for (size_t k = 0; k < parts.size(); ++k) {
            SCOPED_TRACE(outputs[k].destination);
            const CopyCut& cut = parts[k].cut;
            EXPECT_EQ(outputs[k].destination, parts[k].job.destination.string());
            // Its pictures: from its keyframe on, as many as planned, in decode order; no other.
            size_t first = 0;
            while (!(cuts.pictures[first].keyframe && std::abs(cuts.pictures[first].time - cut.start) < 1e-6)) ++first;
            for (size_t i = 0; i < cuts.pictures.size(); ++i) {
                const bool planned = i >= first && i < first + static_cast<size_t>(cut.pictures);
                EXPECT_EQ(outputs[k].pictures.lets(cuts.pictures[i].time - base), planned) << "picture " << i;
            }
            // Its sound: from its seek point to its end, as ffmpeg stops a copy there.
            if (cut.seek) {
                EXPECT_FALSE(outputs[k].sound.lets(*cut.seek - base - 1e-6));
                EXPECT_TRUE(outputs[k].sound.lets(*cut.seek - base + 1e-6));
            } else {
                EXPECT_FALSE(outputs[k].sound.from);
            }
            if (const auto end = parts[k].job.options.trimEnd) {
                // ... or to where the next part takes the sound on, when it copies on from there.
                const bool handsOn = k + 1 < parts.size() && parts[k + 1].job.options.trimStart == end;
                const double until = handsOn ? *parts[k + 1].cut.seek : *end;
                EXPECT_TRUE(outputs[k].sound.lets(until - base - 1e-5));
                EXPECT_FALSE(outputs[k].sound.lets(until - base));
            } else {
                EXPECT_FALSE(outputs[k].sound.to);
            }
            // Its keyframe starts its time line.
            if (cut.seek) {
                ASSERT_TRUE(outputs[k].offset);
                EXPECT_NEAR(*outputs[k].offset, -(cut.start - base), 1e-6);
            }
        }
    }
}

// Parts that make up a whole Matroska file are cut by the segmenting muxer: each where its
// keyframe begins, no earlier keyframe taken for it, the sound moved ahead in the muxer's order
// by as much as the keyframe shows after the next part's seek point; and the run is accepted
// only when ffmpeg lists every part begun there.
TEST(CopiedParts, WholeFilesAreCutWhereEachPartBegins) {
    for (const int bFrames : {0, 2, 3}) {
        SCOPED_TRACE(bFrames);
        const StreamCopyCuts cuts = stream(3, bFrames, 0.021);
        ConversionOptions options = ConversionOptions::defaults();
        options.tool = "split";
        std::vector<CopiedParts::Part> parts;
        const auto job = testing::mediaJob("/in/clip.mkv", "/out/clip.mkv", "mkv", "mkv", options);
        for (const auto& part : CutPlan::splitParts(job, {1.021, 2.021}, &cuts)) {
            ConversionJob partJob = job;
            partJob.options = part;
            parts.push_back({partJob, *CutPlan::of(partJob, probe("matroska"), &cuts).cut});
        }
        auto segments = CopiedParts::segments(parts, probe("matroska"), cuts);
        ASSERT_TRUE(segments);
        segments->into("/out/.100%");
        const auto& args = segments->arguments;
        const auto at = [&](const std::string& option) { return *(std::find(args.begin(), args.end(), option) + 1); };
        EXPECT_EQ(at("-segment_times"), "1.020500,2.020500");
        EXPECT_EQ(args.back(), "/out/.100%%/%d.mkv");
        EXPECT_EQ(segments->files.back(), std::filesystem::path("/out/.100%/2.mkv"));
        const double ahead = *parts[1].cut.seek - (1.021 - bFrames * kFrame);
        if (ahead > 0) {
            EXPECT_EQ(at("-audio_preload"), fmt::format("{}", std::llround(ahead * 1e6)));
        } else {
            EXPECT_EQ(at("-bsf:v"), fmt::format("setts=dts=DTS-round({:.6f}/TB)", -ahead));
        }
        EXPECT_EQ(segments->pictures, int64_t(cuts.pictures.size()));
        EXPECT_TRUE(CopiedParts::listedAsPlanned("0.mkv,0.000000,1.021000\n1.mkv,1.021000,2.021000\n2.mkv,2.021000,3.1\n", parts));
        EXPECT_FALSE(CopiedParts::listedAsPlanned("0.mkv,0.000000,1.021000\n1.mkv,1.021000,3.1\n", parts));
        EXPECT_FALSE(CopiedParts::listedAsPlanned("0.mkv,0.000000,1.061000\n1.mkv,1.061000,2.021000\n2.mkv,2.021000,3.1\n", parts));
        // Not the whole file, or not Matroska: each part filtered out of the file instead.
        EXPECT_FALSE(CopiedParts::segments({parts[1], parts[2]}, probe("matroska"), cuts));
        EXPECT_FALSE(CopiedParts::segments(parts, probe("avi"), cuts));
        MediaProbe chapters = probe("matroska");
        chapters.chapterCount = 2;
        EXPECT_FALSE(CopiedParts::segments(parts, chapters, cuts));
    }
}

// Where one reading cannot stand for each part's own copy, the parts are left to their own runs.
TEST(CopiedParts, LeavesToTheirOwnRunsWhatOneReadingCannotCut) {
    const StreamCopyCuts cuts = stream(3, 2, 0);
    ConversionOptions options = ConversionOptions::defaults();
    options.tool = "split";
    const ConversionJob job = testing::mediaJob("/in/clip.mkv", "/out/clip.mkv", "mkv", "mkv", options);
    const auto partsOf = [&](const StreamCopyCuts& read, const MediaProbe& source) {
        std::vector<CopiedParts::Part> parts;
        for (const auto& part : CutPlan::splitParts(job, {1.0, 2.0}, &read)) {
            ConversionJob partJob = job;
            partJob.options = part;
            if (const auto cut = CutPlan::of(partJob, source, &read).cut) parts.push_back({partJob, *cut});
        }
        return parts;
    };
    const auto parts = partsOf(cuts, probe("matroska"));
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_TRUE(CopiedParts::arguments(parts, probe("matroska"), cuts));
    // One part alone is its own run already.
    EXPECT_FALSE(CopiedParts::arguments({parts.front()}, probe("matroska"), cuts));
    // An AVI shows its pictures in the order it holds them, so its outputs' own start and stop
    // cut it; one whose pictures are decoded out of order cannot be cut that way.
    EXPECT_TRUE(CopiedParts::arguments(parts, probe("avi"), cuts));
    MediaProbe reordered = probe("avi");
    reordered.videoDecodeDelay = 2;
    EXPECT_FALSE(CopiedParts::arguments(parts, reordered, cuts));
    // Ogg is timed as ffmpeg reads it.
    EXPECT_FALSE(CopiedParts::arguments(parts, probe("ogg"), cuts));
    // A picture decoded before the second keyframe but shown after it: no time tells the first
    // part's pictures from the second's.
    StreamCopyCuts crossing = cuts;
    for (auto& picture : crossing.pictures)
        if (std::abs(picture.time - 0.92) < 1e-6) picture.time = 1.02;
    EXPECT_FALSE(CopiedParts::arguments(parts, probe("matroska"), crossing));
}

}  // namespace
}  // namespace kolvex
