// The Portal on a whole desktop: a real drag from a GTK 3 or Qt program onto the round,
// override-redirect Portal window, and the conversion the drop starts.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QUrl>

#include "DesktopHarness.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
using testing::ChildProgram;
using testing::FakeInput;
using testing::Xvfb;

using testing::Toolkit;

QCoreApplication& app() { return testing::coreApplication("test-ui-portal-desktop"); }

constexpr int kSourceX = 100, kSourceY = 100, kSourceSize = 200;

class PortalDesktop : public ::testing::TestWithParam<Toolkit> {
protected:
    void SetUp() override {
        app();
        std::string whyNot;
        server = Xvfb::start(whyNot);
        if (!server) GTEST_SKIP() << whyNot;
        input = std::make_unique<FakeInput>(server->display());
        ASSERT_TRUE(input->ok()) << "no XTest on " << server->display();
        file = temp.write("photo one.jpg", "not really a picture");
        const auto env = testing::desktopEnvironment(server->display(), temp.path());
        host = std::make_unique<ChildProgram>(KOLVEX_PORTAL_HOST, std::vector<std::string>{}, env);
        ASSERT_TRUE(host->waitForLine("ready", 10s)) << "the Portal host did not come up";
        std::vector<std::string> arguments = sourceOptions();
        for (int value : {kSourceX, kSourceY, kSourceSize, kSourceSize}) arguments.push_back(std::to_string(value));
        arguments.push_back(file.string());
        source = std::make_unique<ChildProgram>(GetParam() == Toolkit::qt ? KOLVEX_DRAG_SOURCE_QT : KOLVEX_DRAG_SOURCE_GTK,
                                                arguments, env);
        ASSERT_TRUE(source->waitForLine("ready", 10s)) << "the drag source did not come up";
    }

    virtual std::vector<std::string> sourceOptions() const { return {}; }

    void TearDown() override {
        if (input && input->ok()) {
            input->key("Shift_L", false);
            input->button(1, false);
        }
    }

    void startDrag() {
        ASSERT_TRUE(testing::beginDrag(*input, *source, kSourceX + kSourceSize / 2, kSourceY + kSourceSize / 2))
            << "the source never began its drag";
    }

    kolvex::testing::TempDir temp;
    std::filesystem::path file;
    std::unique_ptr<Xvfb> server;
    std::unique_ptr<FakeInput> input;
    std::unique_ptr<ChildProgram> host;
    std::unique_ptr<ChildProgram> source;
};

TEST_P(PortalDesktop, DropOnTheChosenChipConverts) {
    startDrag();
    input->key("Shift_L", true);
    ASSERT_TRUE(host->waitForLine("revealed", 5s)) << "the Portal did not appear";
    // Let the window be mapped before the hand moves on (a busy machine maps it late).
    testing::pumpUntil([] { return false; }, 200ms);
    // Up toward the one chip, at the top of the ring, staying inside the round window.
    for (int step = 0; step < 25; ++step) {
        input->moveBy(0, -4);
        testing::pumpUntil([] { return false; }, 8ms);
    }
    input->button(1, false);
    ASSERT_TRUE(source->waitForLine("drag-end", 5s));
    ASSERT_TRUE(host->waitForLine("selected PNG", 5s)) << host->linesText();
    ASSERT_TRUE(host->waitForLine("converting", 5s)) << "the drop did not reach the Portal";
    EXPECT_TRUE(host->waitForLine("succeeded photo one.png", 5s));
    EXPECT_TRUE(host->waitForLine("closed", 5s));
}

// A folder window to the right of the Portal's place, as a file manager's would be.
constexpr int kTargetX = 700, kTargetY = 150, kTargetSize = 500;

class DropsElsewhere : public PortalDesktop {
protected:
    // A file manager's drag: Shift makes it a move.
    std::vector<std::string> sourceOptions() const override { return {"--movable"}; }
    void SetUp() override {
        PortalDesktop::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::vector<std::string> arguments;
        for (int value : {kTargetX, kTargetY, kTargetSize, kTargetSize}) arguments.push_back(std::to_string(value));
        target = std::make_unique<ChildProgram>(KOLVEX_DROP_TARGET_GTK, arguments,
                                                testing::desktopEnvironment(server->display(), temp.path()));
        ASSERT_TRUE(target->waitForLine("ready", 10s)) << "the drop target did not come up";
    }
    void moveOverTheTarget() {
        for (int step = 0; step < 35; ++step) {
            input->moveBy(20, 0);
            testing::pumpUntil([] { return false; }, 8ms);
        }
    }
    void expectTheTargetGotTheDropAndNothingConverted() {
        EXPECT_TRUE(target->waitForLine("dropped " + QUrl::fromLocalFile(QString::fromStdString(file.string()))
                                                          .toString(QUrl::FullyEncoded)
                                                          .toStdString(),
                                        5s))
            << "the drop did not reach the window under the pointer; the Portal saw: " << host->linesText();
        testing::pumpUntil([] { return false; }, 500ms);
        for (const auto& line : host->lines()) EXPECT_NE(line, "converting") << "the Portal converted a drop not made on it";
    }
    std::unique_ptr<ChildProgram> target;
};

TEST_P(DropsElsewhere, ReleasedOutsideThePortalTheDropGoesToTheWindowThere) {
    startDrag();
    input->key("Shift_L", true);
    ASSERT_TRUE(host->waitForLine("revealed", 5s)) << "the Portal did not appear";
    testing::pumpUntil([] { return false; }, 200ms);
    moveOverTheTarget();  // off the disc, still holding Shift (a "move" to a file manager)
    testing::pumpUntil([] { return false; }, 200ms);
    input->button(1, false);
    ASSERT_TRUE(source->waitForLine("drag-end", 5s));
    expectTheTargetGotTheDropAndNothingConverted();
}

TEST_P(DropsElsewhere, AHiddenPortalLetsTheDropThroughToTheWindowBelow) {
    startDrag();
    moveOverTheTarget();
    input->key("Shift_L", true);
    ASSERT_TRUE(host->waitForLine("revealed", 5s)) << "the Portal did not appear";
    testing::pumpUntil([] { return false; }, 300ms);
    input->key("Shift_L", false);  // the Portal goes; the drag goes on over the folder
    testing::pumpUntil([] { return false; }, 600ms);
    input->button(1, false);  // released without moving the pointer again
    ASSERT_TRUE(source->waitForLine("drag-end", 5s));
    expectTheTargetGotTheDropAndNothingConverted();
}

TEST_P(DropsElsewhere, AReleaseWhileThePortalFadesGoesToTheWindowBelow) {
    startDrag();
    moveOverTheTarget();
    input->key("Shift_L", true);
    ASSERT_TRUE(host->waitForLine("revealed", 5s)) << "the Portal did not appear";
    testing::pumpUntil([] { return false; }, 300ms);
    input->key("Shift_L", false);
    testing::pumpUntil([] { return false; }, 60ms);  // the Portal is still on screen, fading
    input->button(1, false);
    ASSERT_TRUE(source->waitForLine("drag-end", 5s));
    expectTheTargetGotTheDropAndNothingConverted();
}

INSTANTIATE_TEST_SUITE_P(Gtk, DropsElsewhere, ::testing::Values(Toolkit::gtk));

TEST(PortalKeyboard, ReturnConvertsInTheKeyboardDrivenPortal) {
    app();
    std::string whyNot;
    auto server = Xvfb::start(whyNot);
    if (!server) GTEST_SKIP() << whyNot;
    FakeInput input(server->display());
    ASSERT_TRUE(input.ok());
    kolvex::testing::TempDir temp;
    const auto file = temp.write("-notes.txt", "x");
    ChildProgram host(KOLVEX_PORTAL_HOST, {"--present", file.string()},
                      testing::desktopEnvironment(server->display(), temp.path()));
    ASSERT_TRUE(host.waitForLine("ready", 10s));
    // The first chip is chosen for the keyboard, then the Portal shows.
    ASSERT_TRUE(host.waitForLine("selected PNG", 5s));
    ASSERT_TRUE(host.waitForLine("revealed", 5s)) << host.linesText();
    testing::pumpUntil([] { return false; }, 300ms);    // mapped and focused
    input.key("Return", true);
    input.key("Return", false);
    ASSERT_TRUE(host.waitForLine("converting", 5s)) << "the keys did not reach the Portal";
    EXPECT_TRUE(host.waitForLine("succeeded -notes.png", 5s));
}

INSTANTIATE_TEST_SUITE_P(Sources, PortalDesktop, ::testing::Values(Toolkit::gtk, Toolkit::qt),
                         [](const auto& info) { return info.param == Toolkit::qt ? "qt" : "gtk"; });

}  // namespace
}  // namespace kolvex
