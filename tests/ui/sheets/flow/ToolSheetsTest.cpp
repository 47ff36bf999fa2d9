#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "app/FakePortal.h"
#include "app/ToolSheets.h"
#include "core/format/FormatRegistry.h"
#include "support/MediaFixtures.h"
#include "ui/sheets/ExtractAudioView.h"
#include "ui/sheets/SplitView.h"
#include "ui/sheets/TrimView.h"
#include "support/TempDir.h"
#include "ui/sheets/CropView.h"
#include "ui/sheets/MergeOrderView.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

QApplication& application() {
    static int argc = 1;
    static char name[] = "test-tool-sheets";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return existing;
        return new QApplication(argc, argv);
    }();
    return *app;
}

RingTarget tool(const std::string& id) {
    RingTarget target;
    target.id = "tool." + id;
    target.label = id;
    target.kind = RingTarget::Kind::tool;
    target.toolID = id;
    return target;
}

class ToolSheetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        for (const char* name : {"-first.png", "second image.png", "third.png"}) {
            QImage image(40, 30, QImage::Format_RGB32);
            image.fill(Qt::darkGreen);
            ASSERT_TRUE(image.save(QString::fromStdString((dir.path() / name).string())));
            files.push_back(dir.path() / name);
        }
        flow.setPresenter(sheets);
    }

    template <typename View>
    View* waitForSheet(const QWidget* previous = nullptr) {
        View* found = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                auto* window = flow.parameterWindow();
                if (!window || window == previous) return false;
                found = window->findChild<View*>();
                return found != nullptr;
            },
            5000);
        return found;
    }

    testing::TempDir dir;
    std::vector<fs::path> files;
    testing::FakePortal portal;
    ToolParameterFlow flow{&portal};
    std::shared_ptr<ToolSheets> sheets = std::make_shared<ToolSheets>(ToolSheets::Sources{});
};

TEST_F(ToolSheetsTest, CropWalksEveryFileAndStartsEachAtOnce) {
    const DragPayload payload({files[0], files[1]});
    flow.collectParameters(tool("crop"), payload);
    auto* first = waitForSheet<CropView>();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->confirmButton()->text(), "Next");
    ASSERT_NE(first->batchOptions(), nullptr);
    EXPECT_EQ(first->batchOptions()->positionLabel()->text(), "File 1 of 2");
    first->confirmButton()->click();
    ASSERT_TRUE(sheets->walk().has_value());

    auto* second = waitForSheet<CropView>(first->window());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->confirmButton()->text(), "Crop");
    EXPECT_EQ(second->batchOptions()->positionLabel()->text(), "File 2 of 2");
    second->confirmButton()->click();
    EXPECT_FALSE(sheets->walk().has_value());
    EXPECT_EQ(flow.parameterWindow(), nullptr);
    EXPECT_EQ(portal.calls, (std::vector<std::string>{"hide", "apply one", "hide", "apply one", "show", "finish 0"}));
    ASSERT_TRUE(portal.applied && portal.applied->cropRect);
}

TEST_F(ToolSheetsTest, CancellingHalfWayDropsTheWalk) {
    flow.collectParameters(tool("crop"), DragPayload(files));
    auto* first = waitForSheet<CropView>();
    ASSERT_NE(first, nullptr);
    first->batchOptions()->startsImmediatelyBox()->setChecked(false);
    first->confirmButton()->click();
    auto* second = waitForSheet<CropView>(first->window());
    ASSERT_NE(second, nullptr);
    second->cancelButton()->click();
    EXPECT_FALSE(sheets->walk().has_value());
    EXPECT_EQ(flow.parameterWindow(), nullptr);
    EXPECT_EQ(portal.calls.back(), "discard");
    EXPECT_EQ(std::count(portal.calls.begin(), portal.calls.end(), "apply one"), 0);

    // The next tool starts without any walk state.
    flow.collectParameters(tool("crop"), DragPayload({files[2]}));
    auto* single = waitForSheet<CropView>();
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(single->confirmButton()->text(), "Crop");
    EXPECT_EQ(single->batchOptions(), nullptr);
    single->confirmButton()->click();
    EXPECT_EQ(portal.calls.back(), "apply");
}

TEST_F(ToolSheetsTest, MergeHandsBackTheOrderAndUnknownToolsAreRefused) {
    flow.collectParameters(tool("merge"), DragPayload(files));
    auto* merge = waitForSheet<MergeOrderView>();
    ASSERT_NE(merge, nullptr);
    EXPECT_EQ(flow.parameterWindow()->windowTitle(), "Merge 3 files");
    merge->mergeButton()->click();
    EXPECT_EQ(portal.calls.back(), "apply ordered");
    EXPECT_FALSE(sheets->present(flow, tool("teleport"), DragPayload(files), files[0]));
}

TEST_F(ToolSheetsTest, PromptsFollowTheToolAndTheWalk) {
    const DragPayload two({files[0], files[1]});
    auto crop = ToolSheets::prompt(std::nullopt, two, "Crop", false, true);
    EXPECT_EQ(crop, (BatchPrompt{2, std::string("File 1 of 2"), false, "Next"}));
    auto resize = ToolSheets::prompt(std::nullopt, two, "Resize", true, false);
    EXPECT_EQ(resize, (BatchPrompt{2, std::nullopt, true, "Resize"}));
    auto single = ToolSheets::prompt(std::nullopt, DragPayload({files[0]}), "Crop", false, true);
    EXPECT_EQ(single, (BatchPrompt{1, std::nullopt, false, "Crop"}));
    BatchParameterRun walk(files, true);
    walk.accept({});
    walk.accept({});
    auto last = ToolSheets::prompt(walk, DragPayload({files[2]}), "Resize", true, false);
    EXPECT_EQ(last, (BatchPrompt{3, std::string("File 3 of 3"), false, "Resize"}));
}

}  // namespace
}  // namespace kolvex

namespace kolvex {
namespace {

// The media presenters over the installed ffmpeg and the bundled format manifest.
class MediaToolSheetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        if (!testing::haveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
        flow.setRegistry(std::make_shared<const FormatRegistry>(FormatRegistry::loadBundled()));
        ToolSheets::Sources sources;
        sources.ffmpeg = [] {
            return std::optional<BundledFFmpeg>(BundledFFmpeg(testing::systemFFmpeg(), testing::systemFFprobe()));
        };
        sheets = std::make_shared<ToolSheets>(sources);
        flow.setPresenter(sheets);
    }

    template <typename View>
    View* waitForSheet() {
        View* found = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                found = flow.parameterWindow() ? flow.parameterWindow()->findChild<View*>() : nullptr;
                return found != nullptr;
            },
            10000);
        return found;
    }

    testing::TempDir dir;
    testing::FakePortal portal;
    ToolParameterFlow flow{&portal};
    std::shared_ptr<ToolSheets> sheets;
};

TEST_F(MediaToolSheetsTest, TrimAnAudioFileWithItsWaveform) {
    testing::ClipSpec clipSpec;
    clipSpec.video = false;
    clipSpec.seconds = 1;
    const auto song = testing::makeClip(dir.path() / "song one.wav", clipSpec);
    flow.collectParameters(tool("trim"), DragPayload({song}));
    auto* view = waitForSheet<TrimView>();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->previewPane(), nullptr);
    EXPECT_NEAR(view->model().duration, 1.0, 0.05);
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
    flow.collectParameters(tool("split"), DragPayload({clip}));
    auto* view = waitForSheet<SplitView>();
    ASSERT_NE(view, nullptr);
    EXPECT_NE(view->previewPane(), nullptr);
    view->confirmButton()->click();
    ASSERT_TRUE(portal.applied.has_value());
    EXPECT_EQ(portal.applied->splitPoints.size(), 1u);

    const auto short_ = testing::makeClip(dir.path() / "short.mp4", testing::ClipSpec{0.3});
    portal.calls.clear();
    flow.collectParameters(tool("split"), DragPayload({short_}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !portal.calls.empty(); }, 10000));
    EXPECT_EQ(portal.calls.back(), "discard");

    const auto notes = dir.write("notes.pdf", "%PDF-1.4");
    portal.calls.clear();
    flow.collectParameters(tool("split"), DragPayload({notes}));
    EXPECT_EQ(portal.calls.back(), "apply");
    EXPECT_TRUE(portal.applied->splitPoints.empty());
}

TEST_F(MediaToolSheetsTest, ExtractAudioOffersTheOriginalTrackFirst) {
    testing::ClipSpec clipSpec;
    clipSpec.codecArguments = {"-c:a", "libmp3lame"};
    const auto clip = testing::makeClip(dir.path() / "film.mkv", clipSpec);
    flow.collectParameters(tool("extract-audio"), DragPayload({clip}));
    auto* view = waitForSheet<ExtractAudioView>();
    ASSERT_NE(view, nullptr);
    ASSERT_FALSE(view->model().options.empty());
    EXPECT_TRUE(view->model().options.front().isCopy);
    EXPECT_EQ(view->model().options.front().format, FormatID("mp3"));
    for (size_t i = 1; i < view->model().options.size(); ++i)
        EXPECT_NE(view->model().options[i].format, FormatID("mp3"));
    view->extractButton()->click();
    EXPECT_EQ(portal.applied->outputFormat, FormatID("mp3"));

    testing::ClipSpec silent;
    silent.audio = false;
    const auto mute = testing::makeClip(dir.path() / "mute.mp4", silent);
    portal.calls.clear();
    flow.collectParameters(tool("extract-audio"), DragPayload({mute}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !portal.calls.empty(); }, 10000));
    EXPECT_EQ(portal.calls.back(), "apply");
    EXPECT_FALSE(portal.applied->outputFormat.has_value());
}

}  // namespace
}  // namespace kolvex
