// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include <QCheckBox>
#include <QTest>

#include "core/conversion/SizeEstimator.h"
#include "support/qt/QtEnvironments.h"
#include "ui/sheets/ExtractAudioView.h"
#include "ui/sheets/MergeOrderView.h"
#include "ui/sheets/SheetKit.h"
#include "ui/sheets/SplitView.h"
#include "ui/sheets/TimeField.h"
#include "ui/sheets/TrimView.h"
#include "SheetQuestions.h"

namespace kolvex {
namespace {

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 5000);
}

void showActive(QWidget& w) {
    w.show();
    w.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
}

// A frame provider that paints each time as its own grey and counts the decodes it was asked for.
struct FakeFrames {
    std::atomic<int> calls{0};
    std::mutex mutex;
    std::vector<double> asked;

    FrameProvider provider() {
        return [this](double seconds, std::stop_token) -> std::optional<QImage> {
            ++calls;
            {
                std::lock_guard lock(mutex);
                asked.push_back(seconds);
            }
            QImage image(8, 8, QImage::Format_RGB32);
            image.fill(QColor(static_cast<int>(seconds * 10) % 256, 0, 0));
            return image;
        };
    }
};

class MediaSheetsTest : public ::testing::Test {
protected:
    void SetUp() override { testing::sharedApplication("test-ui-sheets"); }
};

TEST_F(MediaSheetsTest, TimeFieldCommitsClampsAndRevertsAndLeavesTypingAlone) {
    std::vector<double> commits;
    QWidget host;
    auto* field = new TimeField("Start", 5, 0, 100, [&](double v) { commits.push_back(v); }, &host);
    showActive(host);
    EXPECT_EQ(field->text(), "0:05.00");
    field->editor()->setFocus();
    field->editor()->setText("90");
    QTest::keyClick(field->editor(), Qt::Key_Return);
    EXPECT_EQ(commits, std::vector<double>{90});
    EXPECT_EQ(field->text(), "1:30.00");
    field->editor()->setText("1.5:00");
    field->commit();
    EXPECT_EQ(field->text(), "0:05.00");  // reverts to the bound time
    EXPECT_EQ(commits.size(), 1u);
    field->editor()->setText("2:00:00");
    field->commit();
    EXPECT_EQ(commits.back(), 100);
    field->setSeconds(7);
    EXPECT_EQ(field->text(), "0:07.00");
    field->editor()->setText("0:3");  // the user is typing
    field->setSeconds(8);
    EXPECT_EQ(field->text(), "0:3");
}

// Confirming a sheet commits its time fields; one the user has not typed in reports nothing, so
// a time shown rounded to hundredths (or off a keyframe) stays exactly what it was.
TEST_F(MediaSheetsTest, AnUntouchedTimeFieldCommitsNothing) {
    std::vector<double> commits;
    QWidget host;
    auto* field = new TimeField("Start", 5.004, 0, 100, [&](double v) { commits.push_back(v); }, &host);
    showActive(host);
    field->editor()->setFocus();
    QTest::keyClick(field->editor(), Qt::Key_Return);
    field->commit();
    field->editor()->clearFocus();
    EXPECT_TRUE(commits.empty());
    field->editor()->setText("0:05.00");  // typed, though it reads the same as the shown time
    field->editor()->setText("0:05.001");
    field->commit();
    EXPECT_EQ(commits, std::vector<double>{5.001});
}

TEST_F(MediaSheetsTest, SplitAndTrimConfirmedUntouchedHandBackWhatTheyShow) {
    for (const bool click : {false, true}) {
        SCOPED_TRACE(click ? "a click on Split" : "Return in the time field");
        std::optional<std::vector<double>> cuts;
        SplitView split(10, KeyframeIndex({0, 4, 8}), "clip.mp4", nullptr, std::nullopt, std::nullopt,
                        [&](std::vector<double> c, BatchChoice) { cuts = c; }, nullptr);
        showActive(split);
        split.cutField()->editor()->setFocus();
        if (click)
            QTest::mouseClick(split.confirmButton(), Qt::LeftButton);
        else
            QTest::keyClick(split.cutField()->editor(), Qt::Key_Return);
        ASSERT_TRUE(cuts.has_value());
        EXPECT_EQ(*cuts, std::vector<double>{5}) << "the cut the sheet showed, not its nearest keyframe";

        std::optional<std::pair<double, double>> kept;
        TrimView trim(10.0333, KeyframeIndex{}, "song.mp3", nullptr, std::nullopt, std::nullopt,
                      [&](double start, double end, BatchChoice) { kept = {start, end}; }, nullptr);
        showActive(trim);
        trim.commitStart(1.2345);
        trim.startField()->editor()->setFocus();
        if (click)
            QTest::mouseClick(trim.confirmButton(), Qt::LeftButton);
        else
            QTest::keyClick(trim.startField()->editor(), Qt::Key_Return);
        ASSERT_TRUE(kept.has_value());
        EXPECT_DOUBLE_EQ(kept->first, 1.2345) << "not the 1.23 the field shows";
        EXPECT_DOUBLE_EQ(kept->second, 10.0333);
    }
}

TEST_F(MediaSheetsTest, TrimPreviewsTheLatestRequestOnly) {
    FakeFrames frames;
    std::optional<std::tuple<double, double, BatchChoice>> applied;
    TrimView view(10, KeyframeIndex({0, 2, 4, 6}), "clip.mp4", frames.provider(), std::nullopt,
                  BatchPrompt{2, "File 1 of 2", false, "Next"},
                  [&](double s, double e, BatchChoice c) { applied = {s, e, c}; }, nullptr);
    ASSERT_NE(view.previewPane(), nullptr);
    view.previewPane()->setDebounce(30);
    view.awaitKeyframes();
    view.setQuestion(testing::question("mp4", FormatCategory::video, "MP4", "h264", "aac",
                                       testing::pictureStream(10, 20, 0, false)));
    showActive(view);
    ASSERT_TRUE(waitFor([&] { return view.previewPane()->framesDelivered() == 1; }));
    EXPECT_EQ(view.confirmButton()->text(), "Next");
    ASSERT_NE(view.batchOptions(), nullptr);
    EXPECT_EQ(view.batchOptions()->positionLabel()->text(), "File 1 of 2");

    const int before = frames.calls;
    view.commitStart(3);
    view.commitStart(5);
    ASSERT_TRUE(waitFor([&] { return view.previewPane()->framesDelivered() == 2; }));
    QTest::qWait(60);
    EXPECT_EQ(frames.calls, before + 1);
    EXPECT_DOUBLE_EQ(frames.asked.back(), 5);
    EXPECT_NE(view.explanationText().toStdString().find("re-encoding"), std::string::npos);

    // Typing a start beyond the end clamps it 0.1 s before the end.
    view.endField()->editor()->setText("6");
    view.endField()->commit();
    view.startField()->editor()->setText("9");
    view.startField()->commit();
    EXPECT_DOUBLE_EQ(view.model().start, 5.9);
    EXPECT_EQ(view.keptText(), "0:00.10");
    EXPECT_TRUE(view.confirmButton()->isEnabled());
    view.batchOptions()->startsImmediatelyBox()->setChecked(false);
    QTest::keyClick(&view, Qt::Key_Return);
    ASSERT_TRUE(applied.has_value());
    EXPECT_DOUBLE_EQ(std::get<0>(*applied), 5.9);
    EXPECT_DOUBLE_EQ(std::get<1>(*applied), 6);
    EXPECT_FALSE(std::get<2>(*applied).startsImmediately);
}

TEST_F(MediaSheetsTest, TrimWithoutFramesAndReturnInAFieldTrimsAtTheTypedTime) {
    std::vector<std::pair<double, double>> applied;
    TrimView view(10, KeyframeIndex{}, "song.mp3", nullptr, std::vector<float>(500, 0.5f), std::nullopt,
                  [&](double start, double end, BatchChoice) { applied.emplace_back(start, end); }, nullptr);
    view.setQuestion(testing::question("mp3", FormatCategory::audio, "MP3", std::nullopt, "mp3", std::nullopt));
    showActive(view);
    EXPECT_EQ(view.previewPane(), nullptr);
    EXPECT_EQ(view.confirmButton()->text(), "Trim");
    EXPECT_TRUE(view.confirmButton()->isDefault());
    // MP3 is cut by re-encoding, and the sheet says so.
    EXPECT_EQ(view.explanationText(),
              "Trimmed to the exact times below by re-encoding the sound, which loses a little quality.");
    view.endField()->editor()->setFocus();
    view.endField()->editor()->setText("6");
    QTest::keyClick(view.endField()->editor(), Qt::Key_Return);
    ASSERT_EQ(applied.size(), 1u) << "Return trims, once";
    EXPECT_EQ(applied[0], (std::pair<double, double>{0, 6}));

    TrimView tiny(0, KeyframeIndex{}, "blip.mp3", nullptr, std::nullopt, std::nullopt, nullptr, nullptr);
    EXPECT_EQ(tiny.model().duration, 0.1);
}

TEST_F(MediaSheetsTest, TrimHandlesDragOnTheTimeline) {
    TrimView view(10, KeyframeIndex({0, 4}), "clip.mp4", nullptr, std::nullopt, std::nullopt, nullptr, nullptr);
    view.awaitKeyframes();
    EXPECT_EQ(view.explanationText(), "Reading the keyframes\u2026");
    view.setQuestion(testing::question("mp4", FormatCategory::video, "MP4", "h264", "aac",
                                       testing::pictureStream(10, 40, 0, false)));
    view.resize(560, 300);
    showActive(view);
    auto* timeline = view.timeline();
    const auto g = timeline->geometry();
    const int y = timeline->height() / 2;
    QTest::mousePress(timeline, Qt::LeftButton, {}, QPoint(static_cast<int>(g.x(0)), y));
    QTest::mouseMove(timeline, QPoint(static_cast<int>(g.x(4.05)), y));
    QTest::mouseRelease(timeline, Qt::LeftButton, {}, QPoint(static_cast<int>(g.x(4.05)), y));
    EXPECT_DOUBLE_EQ(view.model().start, 4);  // pulled onto the keyframe
    EXPECT_NE(view.explanationText().toStdString().find("stream copy"), std::string::npos);
}

TEST_F(MediaSheetsTest, SplitListsThePartsAndHandsBackTheCuts) {
    FakeFrames frames;
    std::optional<std::vector<double>> applied;
    SplitView view(10, KeyframeIndex({0, 3, 7}), "clip.mp4", frames.provider(), std::nullopt, std::nullopt,
                   [&](std::vector<double> cuts, BatchChoice) { applied = cuts; }, nullptr);
    view.previewPane()->setDebounce(0);
    showActive(view);
    ASSERT_TRUE(waitFor([&] { return view.previewPane()->framesDelivered() == 1; }));
    EXPECT_DOUBLE_EQ(frames.asked.front(), 5);
    const auto rows = view.outcomeRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], "Part 1 0:00.00 \u2192 0:05.00 (0:05.00)");
    EXPECT_EQ(rows[1], "Part 2 0:05.00 \u2192 0:10.00 (0:05.00)");
    EXPECT_EQ(view.confirmButton()->text(), "Split");
    view.awaitKeyframes();
    EXPECT_EQ(view.explanationText(), "Reading the keyframes\u2026");
    view.setKeyframes(KeyframeIndex({0, 3, 7}));
    EXPECT_DOUBLE_EQ(view.model().point, 5) << "the opening cut stays where it was shown";
    EXPECT_DOUBLE_EQ(view.previewPane()->requestedTime(), 5);
    EXPECT_EQ(view.explanationText().toStdString().find("stream copy"), std::string::npos) << "5 s is no keyframe";
    view.dragCut(view.timeline()->geometry().x(4.1));
    EXPECT_DOUBLE_EQ(view.model().point, 3) << "a drag snaps to the nearest keyframe";
    EXPECT_DOUBLE_EQ(view.previewPane()->requestedTime(), 3) << "the preview follows the cut";
    view.cutField()->editor()->setText("99");
    view.cutField()->commit();
    EXPECT_DOUBLE_EQ(view.model().point, 7);
    const int pointHeight = view.sizeHint().height();
    view.setMethod(SplitModel::Method::equalParts);
    EXPECT_LT(view.sizeHint().height(), pointHeight - 150) << "no room is kept for the frame preview";
    view.setParts(3);
    EXPECT_EQ(view.eachPartText(), "Each part runs about 0:03.33.");
    QTest::keyClick(&view, Qt::Key_Return);
    ASSERT_TRUE(applied.has_value());
    EXPECT_EQ(*applied, (std::vector<double>{3, 7}));

    SplitView tiny(0.1, KeyframeIndex{}, "a.wav", nullptr, std::nullopt, BatchPrompt{1, std::nullopt, false, "Split"},
                   nullptr, nullptr);
    EXPECT_FALSE(tiny.confirmButton()->isEnabled());
    EXPECT_EQ(tiny.batchOptions(), nullptr);
    EXPECT_EQ(tiny.outcomeRows().back(), "Part 1 0:00.00 \u2192 0:00.20 (0:00.20)");
}

ExtractAudioOption row(const char* format, const char* title, bool copy, bool lossy) {
    return {FormatID(format), title, "detail", copy, lossy};
}

TEST_F(MediaSheetsTest, ExtractAudioRowsBitratesAndNotes) {
    std::optional<std::pair<FormatID, std::optional<int64_t>>> applied;
    bool cancelled = false;
    MediaProbe probe;
    probe.durationSeconds = 180;
    ExtractAudioView view(
        "film.mkv", {row("mp3", "MP3 \u2014 keep the original track", true, false), row("m4a", "M4A", false, true),
                     row("flac", "FLAC", false, false)},
        205, [&](const ExtractAudioOption& o, std::optional<int64_t> b) { return ExtractAudioModel::estimateAudioSize(o, b, probe); },
        [&](FormatID f, std::optional<int64_t> b) { applied = {f, b}; }, [&] { cancelled = true; });
    showActive(view);
    EXPECT_EQ(view.subheading(), "3:25 of audio.");
    EXPECT_FALSE(view.showsBitrates());
    EXPECT_EQ(view.noteText(), "\u26A1 Nothing is re-encoded, so this is instant and lossless.");
    EXPECT_EQ(view.sizeTexts()[0], "");  // the probe has no audio bit rate
    view.rowButtons()[1]->click();
    EXPECT_TRUE(view.showsBitrates());
    EXPECT_TRUE(sheetkit::isTinted(view.bitrateButtons()[2]));
    EXPECT_EQ(view.sizeTexts()[1], QString::fromStdString(SizeEstimator::format(4406400)));
    view.bitrateButtons()[4]->click();
    EXPECT_TRUE(sheetkit::isTinted(view.bitrateButtons()[4]));
    EXPECT_EQ(view.sizeTexts()[1], QString::fromStdString(SizeEstimator::format(7344000)));
    QTest::keyClick(&view, Qt::Key_Return);
    ASSERT_TRUE(applied.has_value());
    EXPECT_EQ(applied->first, FormatID("m4a"));
    EXPECT_EQ(applied->second, 320000);
    view.rowButtons()[2]->click();
    EXPECT_FALSE(view.showsBitrates());
    view.extractButton()->click();
    EXPECT_EQ(applied->first, FormatID("flac"));
    EXPECT_EQ(applied->second, std::nullopt);
    QTest::keyClick(&view, Qt::Key_Escape);
    EXPECT_TRUE(cancelled);

    ExtractAudioView empty("x.mp4", {}, std::nullopt, nullptr, nullptr, nullptr);
    EXPECT_EQ(empty.subheading(), "Choose what to write.");
    EXPECT_FALSE(empty.extractButton()->isEnabled());
    EXPECT_EQ(empty.noteText(), "\u2713 Lossless, but larger than the original.");
}

TEST_F(MediaSheetsTest, MergeOrderArrowsAndDrags) {
    std::optional<std::vector<std::filesystem::path>> applied;
    MergeOrderView view({"/m/a.mp4", "/m/b.mp4", "/m/c.mp4"}, "Merge",
                        [&](std::vector<std::filesystem::path> files) { applied = files; }, nullptr);
    showActive(view);
    EXPECT_FALSE(view.upButton()->isEnabled());
    EXPECT_FALSE(view.downButton()->isEnabled());
    EXPECT_EQ(view.mergeButton()->text(), "Merge 3 files");
    view.selectRow(1);
    EXPECT_TRUE(view.upButton()->isEnabled());
    view.upButton()->click();
    EXPECT_EQ(view.order().files, (std::vector<std::filesystem::path>{"/m/b.mp4", "/m/a.mp4", "/m/c.mp4"}));
    EXPECT_FALSE(view.upButton()->isEnabled());
    EXPECT_EQ(view.list()->currentRow(), 0);
    view.moveRows({0}, 3);
    EXPECT_EQ(view.list()->item(2)->text().contains("b.mp4"), true);
    EXPECT_TRUE(view.list()->item(0)->text().startsWith(" 1"));
    QTest::keyClick(&view, Qt::Key_Return);
    ASSERT_TRUE(applied.has_value());
    EXPECT_EQ(*applied, (std::vector<std::filesystem::path>{"/m/a.mp4", "/m/c.mp4", "/m/b.mp4"}));
}

}  // namespace
}  // namespace kolvex
