// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ui/sheets/MediaSheetModels.h"
#include "SheetQuestions.h"

namespace kolvex {
namespace {

using testing::pictureStream;
using testing::question;

// A timeline whose track is exactly 100 points wide.
const TimelineGeometry kTimeline{111, 10};

TEST(TrimModelTest, DurationFloorAndInvariants) {
    TrimModel zero(0, KeyframeIndex{});
    EXPECT_DOUBLE_EQ(zero.duration, 0.1);
    EXPECT_DOUBLE_EQ(zero.end, 0.1);
    EXPECT_TRUE(zero.canApply());

    TrimModel model(10, KeyframeIndex{});
    TimelineGeometry timeline{111, model.duration};
    model.commitEnd(5);
    model.dragTo(TrimModel::Edge::start, 100, timeline);
    EXPECT_DOUBLE_EQ(model.start, 5 - 0.1);
    EXPECT_TRUE(model.canApply());  // 5 − 4.9 is a hair below 0.1 in binary
    model.dragTo(TrimModel::Edge::end, -40, timeline);
    EXPECT_DOUBLE_EQ(model.end, model.start + 0.1);

    model.commitStart(20);
    EXPECT_DOUBLE_EQ(model.start, model.end - 0.1);
    model.wholeFile();
    EXPECT_DOUBLE_EQ(model.start, 0);
    EXPECT_DOUBLE_EQ(model.end, 10);
}

TEST(TrimModelTest, HandlesSnapToNearbyKeyframesAndTheExplanationFollows) {
    TrimModel model(10, KeyframeIndex({0, 2, 4, 6}));
    model.video = true;
    model.question = question("mkv", FormatCategory::video, "MKV", "h264", "aac", pictureStream(10, 20, 0, false));
    TimelineGeometry timeline{111, 10};
    EXPECT_EQ(model.explanation(), "Starts on a keyframe, so this is a stream copy \u2014 instant, and the video is "
                                   "not re-encoded.");
    // 3.0 s is 10 points from either keyframe: not pulled.
    model.dragTo(TrimModel::Edge::start, timeline.x(3.0), timeline);
    EXPECT_NEAR(model.start, 3.0, 1e-9);
    EXPECT_NE(model.explanation().find("re-encoding"), std::string::npos);
    // 4.5 s lies 5 points from the keyframe at 4 s: it lands exactly on it.
    model.dragTo(TrimModel::Edge::start, timeline.x(4.5), timeline);
    EXPECT_DOUBLE_EQ(model.start, 4);
    EXPECT_NE(model.explanation().find("stream copy"), std::string::npos);

    // Until the engine's plan can be asked, the sheet promises nothing.
    TrimModel unread(10, KeyframeIndex{});
    EXPECT_FALSE(unread.isStreamCopy());
    EXPECT_EQ(unread.explanation().find("stream copy"), std::string::npos);

    // A video whose only keyframe is its first frame is copied from its start, and re-encoded
    // from anywhere else.
    TrimModel oneKeyframe(10, KeyframeIndex{});
    oneKeyframe.video = true;
    oneKeyframe.question = question("mkv", FormatCategory::video, "MKV", "h264", "aac", pictureStream(10, 1000, 0, false));
    EXPECT_TRUE(oneKeyframe.isStreamCopy());
    oneKeyframe.commitStart(4.5);
    EXPECT_FALSE(oneKeyframe.isStreamCopy());
    EXPECT_NE(oneKeyframe.explanation().find("re-encoding"), std::string::npos);
}

// What the trim sheet says is what the engine's plan decides: a copy only where one holds the
// span, a re-encode with its cause otherwise, and the nearest start or end a copy can make.
TEST(TrimModelTest, ExplanationIsTheEnginesPlan) {
    const auto video = FormatCategory::video;
    const auto audio = FormatCategory::audio;
    struct Case {
        const char* name;
        std::shared_ptr<const CutQuestion> question;
        double start, end;
        bool copy;
        const char* says;
        std::optional<TrimModel::Edge> offers;
    };
    const Case cases[] = {
        {"keyframes", question("mkv", video, "MKV", "h264", "aac", pictureStream(10, 20, 3, false)), 2, 4, true,
         "stream copy", std::nullopt},
        {"end inside a B group", question("mkv", video, "MKV", "h264", "aac", pictureStream(10, 20, 3, false)), 2, 3.15,
         false, "decoded out of order", TrimModel::Edge::end},
        {"start between keyframes", question("mkv", video, "MKV", "h264", "aac", pictureStream(10, 20, 0, false)), 3.3,
         7, false, "Start at 0:04.00", TrimModel::Edge::start},
        {"open group", question("mkv", video, "MKV", "h264", "aac", pictureStream(10, 20, 3, true)), 2, 10, false,
         "Start at 0:00.00", TrimModel::Edge::start},
        {"AC-3 in MP4", question("mp4", video, "MP4", "h264", "ac3", pictureStream(10, 20, 0, false)), 2, 4, false,
         "ac3 in MP4 cannot be copied exactly", std::nullopt},
        {"AAC", question("m4a", audio, "M4A", std::nullopt, "aac", std::nullopt), 2, 4, true, "nothing is re-encoded",
         std::nullopt},
        {"MP3", question("mp3", audio, "MP3", std::nullopt, "mp3", std::nullopt), 2, 4, false, "loses a little quality",
         std::nullopt},
        {"FLAC", question("flac", audio, "FLAC", std::nullopt, "flac", std::nullopt), 2, 4, false, "losslessly",
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrimModel model(10, c.question->copyStarts());
        model.video = c.question->probe().videoCodec.has_value();
        model.question = c.question;
        model.commitEnd(c.end);
        model.commitStart(c.start);
        EXPECT_EQ(model.isStreamCopy(), c.copy);
        EXPECT_EQ(model.isStreamCopy(), c.question->trim(c.start, c.end).isCopy());
        EXPECT_NE(model.explanation().find(c.says), std::string::npos) << model.explanation();
        const auto offer = model.offer();
        ASSERT_EQ(offer.has_value(), c.offers.has_value()) << model.explanation();
        if (!offer) continue;
        EXPECT_EQ(offer->edge, *c.offers);
        model.take(*offer);
        EXPECT_TRUE(model.isStreamCopy()) << "the offered " << offer->time << " is no copy";
    }
    // An open group's keyframe is no place a copy starts: the handles do not snap to it.
    EXPECT_EQ(question("mkv", video, "MKV", "h264", "aac", pictureStream(10, 20, 3, true))->copyStarts().times(),
              std::vector<double>{0});
}

TEST(SplitModelTest, ExplanationSaysWhetherThePartsAreCopied) {
    const auto video = FormatCategory::video;
    const auto audio = FormatCategory::audio;
    struct Case {
        std::shared_ptr<const CutQuestion> question;
        double point;
        const char* says;
    };
    const auto mkv = [&](bool open) {
        return question("mkv", video, "MKV", "h264", "aac", pictureStream(10, 30, 2, open), "split");
    };
    for (const Case& c : {Case{question("m4a", audio, "M4A", std::nullopt, "aac", std::nullopt, "split"), 4.5,
                               "copy of the original sound"},
                          Case{question("mp3", audio, "MP3", std::nullopt, "mp3", std::nullopt, "split"), 4.5,
                               "loses a little quality"},
                          Case{mkv(false), 3, "every part is a stream copy"}, Case{mkv(false), 4.5, "re-encoded"},
                          Case{mkv(true), 3, "Parts 1 and 2 are re-encoded"},
                          Case{question("mp4", video, "MP4", "h264", "ac3", pictureStream(10, 30, 2, false), "split"), 3,
                               "Every part is re-encoded: ac3"}}) {
        SplitModel model(10, c.question->keyframes());
        model.video = c.question->probe().videoCodec.has_value();
        model.question = c.question;
        model.point = c.point;
        EXPECT_NE(model.explanation().find(c.says), std::string::npos) << model.explanation();
    }
}

TEST(SplitModelTest, OpensWithTheCutInTheMiddle) {
    SplitModel model(10, KeyframeIndex({0, 3, 7}));
    EXPECT_DOUBLE_EQ(model.point, 5);  // not pulled to a keyframe until moved
    const auto parts = model.outcome();
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_DOUBLE_EQ(parts[0].second, 5);
    EXPECT_DOUBLE_EQ(parts[1].second, 10);

    SplitModel tiny(0.1, KeyframeIndex{});
    EXPECT_DOUBLE_EQ(tiny.duration, 0.2);
    EXPECT_TRUE(tiny.points().empty());
    EXPECT_FALSE(tiny.canApply());
    EXPECT_EQ(tiny.outcome().size(), 1u);
}

TEST(SplitModelTest, DragsAndTypedTimesStayInsideTheMargins) {
    SplitModel model(10, KeyframeIndex{});
    EXPECT_DOUBLE_EQ(model.dragTo(-50, kTimeline), 0.1);
    EXPECT_DOUBLE_EQ(model.dragTo(500, kTimeline), 9.9);
    EXPECT_DOUBLE_EQ(model.commitTyped(60), 9.9);

    SplitModel snapping(10, KeyframeIndex({0, 3, 7}));
    EXPECT_DOUBLE_EQ(snapping.commitTyped(60), 7);
    EXPECT_DOUBLE_EQ(snapping.dragTo(kTimeline.x(2), kTimeline), 3);
}

TEST(SplitModelTest, EqualPartsSnapWithoutEmptyParts) {
    SplitModel plain(9, KeyframeIndex{});
    plain.method = SplitModel::Method::equalParts;
    plain.setParts(3);
    EXPECT_EQ(plain.points(), (std::vector<double>{3, 6}));

    SplitModel snapped(9, KeyframeIndex({0, 4, 7}));
    snapped.method = SplitModel::Method::equalParts;
    snapped.setParts(3);
    EXPECT_EQ(snapped.points(), (std::vector<double>{4, 7}));

    SplitModel sparse(12, KeyframeIndex({0, 10}));
    sparse.method = SplitModel::Method::equalParts;
    sparse.setParts(5);
    // Cuts that land on the same keyframe, or on the start, are one cut or none.
    EXPECT_EQ(sparse.points(), (std::vector<double>{10}));
    EXPECT_EQ(sparse.outcome(), (std::vector<std::pair<double, double>>{{0, 10}, {10, 12}}));

    sparse.setParts(50);
    EXPECT_EQ(sparse.parts, 20);
    sparse.setParts(0);
    EXPECT_EQ(sparse.parts, 2);
}

ExtractAudioOption row(const char* format, bool copy, bool lossy) {
    return {FormatID(format), format, "", copy, lossy};
}

TEST(ExtractAudioModelTest, SelectionBitrateAndNote) {
    ExtractAudioModel model({row("mp3", true, false), row("m4a", false, true), row("wav", false, false)});
    EXPECT_EQ(model.selection, "mp3-copy");
    EXPECT_EQ(model.note(), ExtractAudioModel::Note::copy);
    model.selection = "m4a";
    EXPECT_EQ(model.note(), ExtractAudioModel::Note::lossy);
    model.bitrate = 320;
    EXPECT_EQ(model.bitrateFor(*model.chosen()), 320000);
    model.selection = "wav";
    EXPECT_EQ(model.bitrateFor(*model.chosen()), std::nullopt);
    EXPECT_EQ(model.note(), ExtractAudioModel::Note::lossless);
    model.selection = "gone";
    EXPECT_EQ(model.chosen()->id(), "mp3-copy");

    ExtractAudioModel empty({});
    EXPECT_EQ(empty.chosen(), nullptr);
    EXPECT_EQ(empty.selection, "");
    EXPECT_EQ(empty.note(), ExtractAudioModel::Note::lossless);
}

// A row's note says what its plan does with the sound, against the source's own codec.
TEST(ExtractAudioModelTest, NotesFollowThePlan) {
    using N = ExtractAudioNote;
    CutPlan copy;
    copy.decision = PassthroughPlanner::Decision::passthrough(true, "");
    const auto written = [](std::string encoder, bool lossless) {
        CutPlan plan;
        plan.decision = PassthroughPlanner::Decision::reencode("");
        plan.soundEncoder = std::move(encoder);
        plan.lossless = lossless;
        return plan;
    };
    EXPECT_EQ(ExtractAudioOption::noteOf(copy, "aac"), N::copy);
    EXPECT_EQ(ExtractAudioOption::noteOf(written("aac", false), "flac"), N::lossy);
    EXPECT_EQ(ExtractAudioOption::noteOf(written("flac", true), "flac"), N::rewritten);
    EXPECT_EQ(ExtractAudioOption::noteOf(written("pcm_s16le", true), "pcm_s16le"), N::rewritten);
    EXPECT_EQ(ExtractAudioOption::noteOf(written("flac", true), "pcm_s24le"), N::kept);
    EXPECT_EQ(ExtractAudioOption::noteOf(written("flac", true), "alac"), N::kept);
    EXPECT_EQ(ExtractAudioOption::noteOf(written("pcm_s24le", true), "pcm_s24be"), N::kept);
    EXPECT_EQ(ExtractAudioOption::noteOf(written("pcm_s16le", true), "flac"), N::lossless);
    EXPECT_EQ(ExtractAudioOption::noteOf(written("flac", true), "aac"), N::lossless);
    EXPECT_EQ(ExtractAudioOption::noteOf(written("flac", true), std::nullopt), N::lossless);

    auto planned = row("flac", false, false);
    planned.note = N::rewritten;
    EXPECT_EQ(ExtractAudioModel({planned}).note(), N::rewritten);
}

TEST(ExtractAudioModelTest, DescribesTheOriginalTrack) {
    MediaProbe probe;
    probe.audioSampleRate = 44100;
    probe.audioChannels = 2;
    probe.audioBitrate = 128000;
    EXPECT_EQ(ExtractAudioModel::describe("aac", probe), "AAC \u00B7 44.1 kHz \u00B7 stereo \u00B7 128 kbps");
    probe.audioChannels = 6;
    probe.audioBitrate.reset();
    EXPECT_EQ(ExtractAudioModel::describe("opus", probe), "OPUS \u00B7 44.1 kHz \u00B7 6 channels");
    EXPECT_EQ(ExtractAudioModel::describe("mp3", MediaProbe{}), "MP3");
}

TEST(ExtractAudioModelTest, EstimatesSizes) {
    MediaProbe probe;
    probe.durationSeconds = 60;
    probe.audioSampleRate = 48000;
    probe.audioChannels = 2;
    EXPECT_EQ(ExtractAudioModel::estimateAudioSize(row("wav", false, false), std::nullopt, probe), 11520000);
    EXPECT_EQ(ExtractAudioModel::estimateAudioSize(row("flac", false, false), std::nullopt, probe), 6912000);
    EXPECT_EQ(ExtractAudioModel::estimateAudioSize(row("mp3", true, false), std::nullopt, probe), std::nullopt);
    probe.durationSeconds = 180;
    EXPECT_EQ(ExtractAudioModel::estimateAudioSize(row("mp3", false, true), 192000, probe), 4406400);
    EXPECT_EQ(ExtractAudioModel::estimateAudioSize(row("mp3", false, true), std::nullopt, probe), std::nullopt);
    MediaProbe bare;
    bare.durationSeconds = 1;
    EXPECT_EQ(ExtractAudioModel::estimateAudioSize(row("wav", false, false), std::nullopt, bare), 176400);
    bare.durationSeconds.reset();
    EXPECT_EQ(ExtractAudioModel::estimateAudioSize(row("wav", false, false), std::nullopt, bare), std::nullopt);
}

TEST(MergeOrderTest, ArrowsAndDragsReorderTheFiles) {
    MergeOrder order({"a", "b", "c"});
    EXPECT_FALSE(order.canMove(-1));
    EXPECT_FALSE(order.canMove(1));
    order.selection = std::filesystem::path("b");
    order.move(-1);
    EXPECT_EQ(order.files, (std::vector<std::filesystem::path>{"b", "a", "c"}));
    EXPECT_FALSE(order.canMove(-1));
    order.move(-1);
    EXPECT_EQ(order.files, (std::vector<std::filesystem::path>{"b", "a", "c"}));

    MergeOrder down({"a", "b", "c"});
    down.selection = std::filesystem::path("b");
    down.move(1);
    EXPECT_EQ(down.files, (std::vector<std::filesystem::path>{"a", "c", "b"}));
    EXPECT_FALSE(down.canMove(1));

    MergeOrder dragged({"a", "b", "c"});
    dragged.moveRows({0}, 3);
    EXPECT_EQ(dragged.files, (std::vector<std::filesystem::path>{"b", "c", "a"}));
    dragged.moveRows({2}, 0);
    EXPECT_EQ(dragged.files, (std::vector<std::filesystem::path>{"a", "b", "c"}));
    dragged.moveRows({7}, 0);
    EXPECT_EQ(dragged.files.size(), 3u);
    EXPECT_EQ(MergeOrder({"a", "b"}).applyTitle(), "Merge 2 files");
}

}  // namespace
}  // namespace kolvex
