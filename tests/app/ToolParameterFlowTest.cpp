#include <gtest/gtest.h>

#include <QLabel>

#include "FakePortal.h"
#include "app/ToolParameterFlow.h"
#include "core/services/Log.h"

namespace kolvex {
namespace {

RingTarget tool(const std::string& id) {
    RingTarget target;
    target.id = "tool." + id;
    target.label = id;
    target.kind = RingTarget::Kind::tool;
    target.toolID = id;
    return target;
}

// A presenter that offers a sheet only for the tools it is given.
class FakePresenter final : public ToolSheetPresenter {
public:
    std::set<std::string> tools;
    int shown = 0;
    bool present(ToolParameterFlow& flow, const RingTarget& target, const DragPayload&,
                 const std::filesystem::path& file) override {
        if (!tools.contains(*target.toolID)) return false;
        ++shown;
        flow.presentParameters(target.label + " " + file.filename().string(), new QLabel("sheet"));
        return true;
    }
};

struct Fixture {
    testing::FakePortal portal;
    ToolParameterFlow flow{&portal};
    std::shared_ptr<FakePresenter> presenter = std::make_shared<FakePresenter>();
    Fixture() {
        flow.setRegistry(std::make_shared<const FormatRegistry>(FormatRegistry::loadBundled()));
        flow.setPresenter(presenter);
    }
};

TEST(ToolParameterFlow, WithoutASheetTheToolIsDiscardedWithOneLogLine) {
    Fixture f;
    LogCapture log;
    f.flow.collectParameters(tool("crop"), DragPayload({"/p/photo.jpg"}));
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"discard"}));
    EXPECT_TRUE(log.contains("app", "photo.jpg"));
    EXPECT_EQ(f.flow.parameterWindow(), nullptr);
}

TEST(ToolParameterFlow, NothingToAskForIsDiscardedSilently) {
    Fixture f;
    LogCapture log;
    f.flow.collectParameters(tool("crop"), DragPayload());
    RingTarget format = tool("x");
    format.toolID.reset();
    f.flow.collectParameters(format, DragPayload({"/a.png"}));
    f.flow.collectParameters(tool("sparkle"), DragPayload({"/a.png"}));
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"discard", "discard", "discard"}));
    EXPECT_TRUE(log.entries().empty());
}

TEST(ToolParameterFlow, ToolsThatCanRunWithoutASheetRunWithTheBaseOptions) {
    Fixture f;
    f.flow.collectParameters(tool("extract-audio"), DragPayload({"/v/clip.mp4"}));
    f.flow.collectParameters(tool("split"), DragPayload({"/d/report.pdf"}));
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"apply", "apply"}));
    EXPECT_EQ(f.portal.applied, ToolParameterFlow::baseOptions());
    f.portal.calls.clear();
    f.flow.collectParameters(tool("split"), DragPayload({"/v/clip.mp4"}));
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"discard"})) << "a video cannot be split without cut times";
}

TEST(ToolParameterFlow, SheetHidesThePortalAndHandsBack) {
    Fixture f;
    f.presenter->tools = {"rotate"};
    f.flow.collectParameters(tool("rotate"), DragPayload({"/p/photo.jpg", "/p/b.jpg"}));
    ASSERT_NE(f.flow.parameterWindow(), nullptr);
    EXPECT_EQ(f.flow.parameterWindow()->windowTitle().toStdString(), "rotate photo.jpg");
    EXPECT_TRUE(f.flow.parameterWindow()->isVisible());
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"hide"}));

    ConversionOptions options;
    options.rotation = 90;
    f.flow.handBack(options);
    EXPECT_EQ(f.flow.parameterWindow(), nullptr);
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"hide", "show", "apply"}));
    EXPECT_EQ(f.portal.applied->rotation, 90);
}

TEST(ToolParameterFlow, ClosingTheSheetWindowDiscardsLikeCancel) {
    Fixture f;
    f.presenter->tools = {"crop", "resize"};
    f.flow.collectParameters(tool("crop"), DragPayload({"/p/a.jpg"}));
    f.flow.collectParameters(tool("resize"), DragPayload({"/p/a.jpg"}));
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"hide", "hide"})) << "a newer sheet replaces the older quietly";
    QWidget* window = f.flow.parameterWindow();
    ASSERT_NE(window, nullptr);
    window->close();
    EXPECT_EQ(f.flow.parameterWindow(), nullptr);
    EXPECT_EQ(f.portal.calls.back(), "discard");

    f.flow.collectParameters(tool("crop"), DragPayload({"/p/a.jpg"}));
    f.portal.calls.clear();
    f.flow.cancelSheet();
    EXPECT_EQ(f.portal.calls, (std::vector<std::string>{"discard"}));
}

TEST(ToolParameterFlow, WithoutAPortalNothingIsCalled) {
    ToolParameterFlow flow(nullptr);
    flow.collectParameters(tool("crop"), DragPayload({"/p/a.jpg"}));
    flow.handBack(ConversionOptions{});
    flow.cancelSheet();
    SUCCEED();
}

}  // namespace
}  // namespace kolvex
