// SPDX-License-Identifier: GPL-3.0-or-later
// The media sheets (trim, split, extract audio) over the installed ffmpeg.
#include "ToolSheetsTestSupport.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::toolTarget;

TEST_F(MediaToolSheetsTest, TrimShowsTheWaveformOfAnAudioFile) {
    testing::ClipSpec clipSpec;
    clipSpec.video = false;
    clipSpec.seconds = 1;
    const auto song = testing::makeClip(dir.path() / "song one.wav", clipSpec);
    flow.collectParameters(toolTarget("trim"), DragPayload({song}));
    auto* view = waitForSheet<TrimView>();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->previewPane(), nullptr);
    EXPECT_NEAR(view->model().duration, 1.0, 0.05);
    EXPECT_TRUE(view->confirmButton()->isDefault()) << "Return trims";
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->timeline()->hasWaveform(); }, 10000));
    view->commitStart(0.25);
    view->confirmButton()->click();
    ASSERT_TRUE(portal.applied.has_value());
    EXPECT_EQ(portal.calls.back(), "apply");
    EXPECT_DOUBLE_EQ(*portal.applied->trimStart, 0.25);
    EXPECT_TRUE(portal.applied->allowPassthrough);
}

TEST_F(MediaToolSheetsTest, SplitOpensForVideoAndRunsAtOnceForOtherFiles) {
    testing::ClipSpec clipSpec;
    clipSpec.seconds = 2;
    const auto clip = testing::makeClip(dir.path() / "clip.mp4", clipSpec);
    flow.collectParameters(toolTarget("split"), DragPayload({clip}));
    auto* view = waitForSheet<SplitView>();
    ASSERT_NE(view, nullptr);
    EXPECT_NE(view->previewPane(), nullptr);
    view->confirmButton()->click();
    ASSERT_TRUE(portal.applied.has_value());
    EXPECT_EQ(portal.applied->splitPoints.size(), 1u);

    const auto short_ = testing::makeClip(dir.path() / "short.mp4", testing::ClipSpec{0.3});
    portal.calls.clear();
    flow.collectParameters(toolTarget("split"), DragPayload({short_}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !portal.calls.empty() && portal.calls.back() == "fail"; }, 10000));
    EXPECT_EQ(portal.failures.back(), "short.mp4 is too short to split");
    EXPECT_EQ(flow.parameterWindow(), nullptr);

    const auto notes = dir.write("notes.pdf", "%PDF-1.4");
    portal.calls.clear();
    flow.collectParameters(toolTarget("split"), DragPayload({notes}));
    EXPECT_EQ(portal.calls.back(), "apply");
    EXPECT_TRUE(portal.applied->splitPoints.empty());
}


TEST_F(MediaToolSheetsTest, ExtractAudioOffersTheOriginalTrackFirst) {
    testing::ClipSpec clipSpec;
    clipSpec.codecArguments = {"-c:a", "libmp3lame"};
    const auto clip = testing::makeClip(dir.path() / "film.mkv", clipSpec);
    flow.collectParameters(toolTarget("extract-audio"), DragPayload({clip}));
    auto* view = waitForSheet<ExtractAudioView>();
    ASSERT_NE(view, nullptr);
    ASSERT_FALSE(view->model().options.empty());
    EXPECT_TRUE(view->model().options.front().isCopy);
    EXPECT_EQ(view->model().options.front().format, FormatID("mp3"));
    view->extractButton()->click();
    EXPECT_EQ(portal.applied->outputFormat, FormatID("mp3"));

    testing::ClipSpec silent;
    silent.audio = false;
    const auto mute = testing::makeClip(dir.path() / "mute.mp4", silent);
    portal.calls.clear();
    flow.collectParameters(toolTarget("extract-audio"), DragPayload({mute}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !portal.calls.empty() && portal.calls.back() == "apply"; }, 10000));
    EXPECT_FALSE(portal.applied->outputFormat.has_value());
}

// Each row's note says what the engine's plan for it does with the sound: FLAC written again as
// FLAC is no larger; PCM written as FLAC keeps every sample; FLAC written out as WAV grows.
TEST_F(MediaToolSheetsTest, ExtractAudioNotesFollowTheEnginesPlan) {
    struct Case {
        const char* name;
        std::vector<std::string> codec;
        const char* row;  // the format of the row chosen
        QString note;
    };
    const std::vector<Case> cases = {
        {"flac.mkv", {"-c:a", "flac"}, "flac", "\u2713 Lossless: the original sound, written again."},
        {"flac as wav.mkv", {"-c:a", "flac"}, "wav", "\u2713 Lossless, but larger than the original."},
        {"pcm.mkv", {"-c:a", "pcm_s16le"}, "flac", "\u2713 Lossless: every sample is kept."},
        {"aac.mkv", {"-c:a", "aac"}, "flac", "\u2713 Lossless, but larger than the original."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::ClipSpec clipSpec;
        clipSpec.codecArguments = c.codec;
        const auto clip = testing::makeClip(dir.path() / c.name, clipSpec);
        flow.collectParameters(toolTarget("extract-audio"), DragPayload({clip}));
        auto* view = waitForSheet<ExtractAudioView>();
        ASSERT_NE(view, nullptr);
        const auto& options = view->model().options;
        const auto row =
            std::find_if(options.begin(), options.end(), [&](const auto& o) { return o.format == FormatID(c.row); });
        ASSERT_NE(row, options.end());
        view->rowButtons()[size_t(row - options.begin())]->click();
        EXPECT_EQ(view->noteText(), c.note);
        view->extractButton()->click();
        ASSERT_TRUE(portal.applied);
        EXPECT_EQ(portal.applied->outputFormat, FormatID(c.row));
        portal.calls.clear();
        // The next sheet is a new one: the answered one leaves first.
        const QPointer<ExtractAudioView> answered(view);
        EXPECT_TRUE(QTest::qWaitFor([&] { return answered.isNull() || !answered->isVisible(); }, 10000))
            << "the answered sheet stayed";
    }
}


}  // namespace
}  // namespace kolvex
