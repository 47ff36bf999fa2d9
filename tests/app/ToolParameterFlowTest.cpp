// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "FakePortal.h"
#include "app/SheetRequest.h"
#include "app/ToolParameterFlow.h"
#include "core/format/ToolSettings.h"
#include "core/services/Log.h"
#include "support/RingTargets.h"
#include "support/qt/ManualTaskRunner.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::toolTarget;

// A presenter that reads its file through the request's runner (which the test drains) and
// then shows a sheet; files listed in `failing` cannot be read, files in `plain` have nothing
// to ask and run with the defaults.
class FakePresenter final : public ToolSheetPresenter {
public:
    std::set<fs::path> failing;
    std::set<fs::path> plain;
    mutable std::vector<std::shared_ptr<SheetRequest>> requests;

    void present(const std::shared_ptr<SheetRequest>& request) const override {
        requests.push_back(request);
        if (plain.contains(request->file())) return request->runWithDefaults();
        const bool fails = failing.contains(request->file());
        request->prepare<std::string>(
            [fails, file = request->file()](std::stop_token) -> std::string {
                if (fails) throw std::runtime_error("unreadable");
                return file.filename().string();
            },
            [request](std::string name) {
                auto* view = new QLabel(QString::fromStdString(name + " " + request->prompt(request->tool()).advanceLabel));
                request->show(request->tool() + " " + name, view);
            });
    }
};

struct Fixture {
    testing::FakePortal portal;
    ToolParameterFlow flow{&portal};
    std::shared_ptr<testing::ManualTaskRunner> tasks = std::make_shared<testing::ManualTaskRunner>();
    std::shared_ptr<FakePresenter> presenter = std::make_shared<FakePresenter>();

    Fixture() {
        auto sheets = std::make_shared<ToolSheetFactory>();
        for (const auto& id : toolsWithSheets()) sheets->add(id, presenter);
        flow.setSheets(sheets);
        flow.setTaskRunner(tasks);
        flow.setPlaceholderDelay(1000000);
    }
    // The sheet on show (one it replaced may wait to be deleted).
    QString sheetText() const {
        if (!flow.parameterWindow()) return {};
        for (auto* label : flow.parameterWindow()->findChildren<QLabel*>())
            if (label->isVisibleTo(flow.parameterWindow())) return label->text();
        return {};
    }
    size_t count(const std::string& call) const { return std::count(portal.calls.begin(), portal.calls.end(), call); }
};

ConversionOptions rotated(double angle) {
    ConversionOptions options;
    options.rotation = angle;
    return options;
}

TEST(ToolParameterFlow, EveryToolWithASheetHasOneAndTheOthersDoNot) {
    const auto sheets = ToolSheetFactory::standard();
    EXPECT_EQ(sheets->toolIDs(), toolsWithSheets());
    EXPECT_EQ(toolSettings("remove-audio"), ToolSettings::defaults);
    EXPECT_EQ(toolSettings("crop"), ToolSettings::sheetPerFile);
    EXPECT_EQ(toolSettings("resize"), ToolSettings::sheetOrEachFile);
}

TEST(ToolParameterFlow, SheetHidesThePortalAndHandsBackOnce) {
    Fixture f;
    f.flow.collectParameters(toolTarget("rotate"), DragPayload({"/p/photo.jpg", "/p/b.jpg"}));
    EXPECT_EQ(f.flow.parameterWindow(), nullptr) << "nothing shows before the file is read";
    f.tasks->runAll();
    ASSERT_NE(f.flow.parameterWindow(), nullptr);
    EXPECT_EQ(f.flow.parameterWindow()->windowTitle(), "rotate photo.jpg");
    const auto flags = f.flow.parameterWindow()->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

    auto request = f.flow.request();
    request->apply(rotated(90));
    request->apply(rotated(180));
    EXPECT_EQ(f.flow.parameterWindow(), nullptr);
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"hide", "show", "apply"}));
    EXPECT_EQ(f.portal.applied->rotation, 90);
}

TEST(ToolParameterFlow, AnOlderSheetNeverAnswersANewerRequest) {
    // Split opens for the clip; trim is asked for the song while the split sheet is up. The split
    // sheet goes at once, its Apply does nothing, and a late read for it shows nothing.
    Fixture f;
    f.flow.collectParameters(toolTarget("split"), DragPayload({"/v/clip.mp4"}));
    f.tasks->runAll();
    auto split = f.flow.request();
    QPointer<QWidget> splitWindow = f.flow.parameterWindow();
    ASSERT_TRUE(splitWindow);

    f.flow.collectParameters(toolTarget("trim"), DragPayload({"/a/long.mp3"}));
    EXPECT_TRUE(!splitWindow || !splitWindow->isVisible()) << "the older sheet closes when a newer request comes";
    ConversionOptions cut;
    cut.splitPoints = {1.0};
    split->apply(cut);
    EXPECT_EQ(f.count("apply"), 0u);

    f.flow.collectParameters(toolTarget("crop"), DragPayload({"/p/a.jpg"}));
    auto crop = f.flow.request();
    f.flow.collectParameters(toolTarget("resize"), DragPayload({"/p/b.jpg"}));
    f.tasks->runAll();
    EXPECT_EQ(f.sheetText(), "b.jpg resize") << "the crop read arrived late and was dropped";
    EXPECT_FALSE(crop->isCurrent());
    EXPECT_TRUE(crop->stopToken().stop_requested());
    f.flow.request()->apply(ConversionOptions{});
    EXPECT_EQ(f.portal.calls.back(), "apply");
    EXPECT_EQ(f.count("apply"), 1u);
}

TEST(ToolParameterFlow, PreparationIsStoppedWhenThePortalStopsWaiting) {
    Fixture f;
    f.flow.collectParameters(toolTarget("trim"), DragPayload({"/a/long.mp3"}));
    auto trim = f.flow.request();
    ASSERT_TRUE(f.portal.onParametersWithdrawn);
    f.portal.onParametersWithdrawn();  // Escape on the Portal, or the tray's Cancel
    EXPECT_TRUE(trim->stopToken().stop_requested());
    f.tasks->runAll();
    EXPECT_EQ(f.flow.parameterWindow(), nullptr);
    EXPECT_TRUE(f.portal.calls.empty()) << "the Portal already let go; nothing is discarded twice";

    f.flow.collectParameters(toolTarget("crop"), DragPayload({"/p/a.jpg"}));
    f.tasks->runAll();
    ASSERT_NE(f.flow.parameterWindow(), nullptr);
    auto crop = f.flow.request();
    f.portal.onParametersWithdrawn();
    EXPECT_EQ(f.flow.parameterWindow(), nullptr);
    crop->apply(ConversionOptions{});
    EXPECT_EQ(f.count("apply"), 0u);
}

TEST(ToolParameterFlow, ClosingTheWindowDiscardsAndFailingToReadSaysWhy) {
    Fixture f;
    LogCapture log;
    f.flow.collectParameters(toolTarget("crop"), DragPayload({"/p/a.jpg"}));
    f.tasks->runAll();
    ASSERT_NE(f.flow.parameterWindow(), nullptr);
    f.flow.parameterWindow()->close();
    EXPECT_EQ(f.flow.parameterWindow(), nullptr);
    EXPECT_EQ(f.portal.calls.back(), "discard");

    f.presenter->failing = {"/p/broken.jpg"};
    f.portal.calls.clear();
    f.flow.collectParameters(toolTarget("crop"), DragPayload({"/p/broken.jpg"}));
    f.tasks->runAll();
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"show", "fail"})) << "the Portal comes back to say why";
    EXPECT_EQ(f.portal.failures, (std::vector<std::string>{"unreadable"}));
    EXPECT_EQ(f.portal.failedFiles, (std::vector<fs::path>{"/p/broken.jpg"}));
    EXPECT_TRUE(log.contains("app", "broken.jpg"));

    f.portal.calls.clear();
    f.flow.collectParameters(toolTarget("crop"), DragPayload());
    f.flow.collectParameters(toolTarget("sparkle"), DragPayload({"/p/a.jpg"}));
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"discard", "show", "apply"})) << "a tool without a sheet runs";
}

TEST(ToolParameterFlow, AWalkRecordsEachFilesStartChoiceWhenItIsAccepted) {
    Fixture f;
    const std::vector<fs::path> files{"/p/a.jpg", "/p/b.jpg", "/p/c.jpg"};
    f.flow.collectParameters(toolTarget("crop"), DragPayload(files));
    f.tasks->runAll();
    EXPECT_EQ(f.sheetText(), "a.jpg Next");
    f.flow.request()->apply(rotated(1), BatchChoice{false, true});
    f.tasks->runAll();
    ASSERT_TRUE(f.flow.walk());
    EXPECT_TRUE(f.flow.request()->prompt("Crop").startsImmediately);
    f.flow.request()->apply(rotated(2), BatchChoice{false, false});
    f.tasks->runAll();
    EXPECT_FALSE(f.flow.request()->prompt("Crop").startsImmediately) << "the next sheet keeps the last choice";
    EXPECT_EQ(f.sheetText(), "c.jpg crop");
    f.flow.request()->apply(rotated(3), BatchChoice{false, true});
    // a and c started as they were accepted; only b is left for the end.
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"hide", "apply one", "apply one", "show", "finish 1"}));
    EXPECT_FALSE(f.flow.walk());
}

TEST(ToolParameterFlow, AWalkThatCannotReadALaterFileEnds) {
    Fixture f;
    f.presenter->failing = {"/p/b.jpg"};
    f.flow.collectParameters(toolTarget("crop"), DragPayload({"/p/a.jpg", "/p/b.jpg", "/p/c.jpg"}));
    f.tasks->runAll();
    f.flow.request()->apply(rotated(1), BatchChoice{false, false});
    f.tasks->runAll();
    EXPECT_FALSE(f.flow.walk());
    EXPECT_EQ(f.flow.request(), nullptr);
    EXPECT_EQ(f.flow.parameterWindow(), nullptr) << "no sheet is left up for a dead walk";
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"hide", "show", "fail"}));
    EXPECT_EQ(f.portal.failedFiles, (std::vector<fs::path>{"/p/b.jpg"})) << "the failure is the file's whose sheet failed";
}

TEST(ToolParameterFlow, AFileWithNothingToAskAdvancesTheWalkWithDefaults) {
    Fixture f;
    f.presenter->plain = {"/d/notes.pdf"};
    f.flow.collectParameters(toolTarget("split"), DragPayload({"/v/clip.mp4", "/d/notes.pdf", "/v/more.mp4"}));
    f.tasks->runAll();
    ConversionOptions cut;
    cut.splitPoints = {1.0};
    f.flow.request()->apply(cut, BatchChoice{false, true});
    f.tasks->runAll();
    EXPECT_EQ(f.sheetText(), "more.mp4 split") << "the PDF was handed back with defaults, not the whole payload";
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"hide", "apply one", "apply one"}));
    EXPECT_EQ(f.portal.applied, ToolParameterFlow::baseOptions());
    EXPECT_EQ(f.count("apply"), 0u);

    // The same file alone runs at once.
    f.portal.calls.clear();
    f.flow.collectParameters(toolTarget("split"), DragPayload({"/d/notes.pdf"}));
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"show", "apply"}));
}

// A file the user's Skip answer leaves out is judged before its sheet would show: it gets no
// sheet, the walk goes on with the next file, and the sheet of the last one says so.
TEST(ToolParameterFlow, AWalkShowsNoSheetOfAFileItSkips) {
    Fixture f;
    f.portal.skipping = {"/p/b.jpg", "/p/d.jpg"};
    f.flow.collectParameters(toolTarget("crop"), DragPayload({"/p/a.jpg", "/p/b.jpg", "/p/c.jpg", "/p/d.jpg"}));
    f.tasks->runAll();
    f.flow.request()->apply(rotated(1), BatchChoice{false, true});
    f.tasks->runAll();
    EXPECT_EQ(f.sheetText(), "c.jpg Next") << "b's name is taken under Skip: no sheet for it";
    for (const auto& request : f.presenter->requests) EXPECT_NE(request->file(), fs::path("/p/b.jpg"));
    f.flow.request()->apply(rotated(3), BatchChoice{false, true});
    EXPECT_FALSE(f.flow.walk()) << "d, the last file, is skipped too: the walk ends with c";
    EXPECT_EQ(f.flow.parameterWindow(), nullptr);
    EXPECT_EQ(f.portal.calls,
              (std::vector<std::string>{"hide", "apply one", "skip b.jpg", "apply one", "skip d.jpg", "show", "finish 0"}));
    EXPECT_EQ(f.presenter->requests.size(), 2u);
}

TEST(ToolParameterFlow, ResizeWalksOnlyWhenAskedToSetEachFile) {
    Fixture f;
    const DragPayload two({"/p/a.jpg", "/p/b.jpg"});
    f.flow.collectParameters(toolTarget("resize"), two);
    f.tasks->runAll();
    EXPECT_TRUE(f.flow.request()->prompt("Resize").offersIndividual);
    f.flow.request()->apply(ConversionOptions{}, BatchChoice{false, true});
    EXPECT_EQ(f.portal.calls.back(), "apply");

    f.flow.collectParameters(toolTarget("resize"), two);
    f.tasks->runAll();
    f.flow.request()->apply(ConversionOptions{}, BatchChoice{true, true});
    EXPECT_TRUE(f.flow.walk());
    EXPECT_EQ(f.flow.request()->prompt("Resize").position, "File 2 of 2");
}

TEST(ToolParameterFlow, WithoutAPortalNothingIsCalled) {
    ToolParameterFlow flow(nullptr);
    flow.collectParameters(toolTarget("crop"), DragPayload({"/p/a.jpg"}));
    flow.withdraw();
    SUCCEED();
}

}  // namespace
}  // namespace kolvex
