// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal on a whole desktop: a real drag from a GTK 3 or Qt program onto the round,
// override-redirect Portal window, and the conversion the drop starts.
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <sstream>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QUrl>

#include "DesktopHarness.h"
#include "PortalHostSteps.h"
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
        host = std::make_unique<ChildProgram>(KOLVEX_PORTAL_HOST, hostOptions(), env);
        ASSERT_TRUE(host->waitForLine("ready", 10s)) << "the Portal host did not come up";
        std::vector<std::string> arguments = sourceOptions();
        for (int value : {kSourceX, kSourceY, kSourceSize, kSourceSize}) arguments.push_back(std::to_string(value));
        arguments.push_back(file.string());
        source = std::make_unique<ChildProgram>(GetParam() == Toolkit::qt ? KOLVEX_DRAG_SOURCE_QT : KOLVEX_DRAG_SOURCE_GTK,
                                                arguments, env);
        ASSERT_TRUE(source->waitForLine("ready", 10s)) << "the drag source did not come up";
    }

    virtual std::vector<std::string> sourceOptions() const { return {}; }
    virtual std::vector<std::string> hostOptions() const { return {}; }

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
    std::size_t shown = 0;
    // The window is on the screen before the hand moves on.
    ASSERT_TRUE(testing::revealUnderTheDrag(*input, *host, &shown));
    ASSERT_TRUE(testing::pointAtTheTopChip(*input, *host, shown));
    input->button(1, false);
    ASSERT_TRUE(source->waitForLine("drag-end", 5s));
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
    // A slow fade, so that a release can land while the Portal is still on screen.
    std::vector<std::string> hostOptions() const override { return {"--fade", "1.5"}; }
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
            testing::pumpUntil([] { return false; }, 8ms);  // the hand's pace, not a wait for anyone
        }
    }
    void expectTheTargetGotTheDropAndNothingConverted() {
        EXPECT_TRUE(target->waitForLine("dropped " + QUrl::fromLocalFile(QString::fromStdString(file.string()))
                                                          .toString(QUrl::FullyEncoded)
                                                          .toStdString(),
                                        5s))
            << "the drop did not reach the window under the pointer; the Portal saw: " << host->linesText();
        // Nothing converts: a wait that proves an absence keeps its own span.
        testing::pumpUntil([] { return false; }, 500ms);
        for (const auto& line : host->lines()) EXPECT_NE(line, "converting") << "the Portal converted a drop not made on it";
    }
    std::unique_ptr<ChildProgram> target;
};

TEST_P(DropsElsewhere, ReleasedOutsideThePortalTheDropGoesToTheWindowThere) {
    startDrag();
    ASSERT_TRUE(testing::revealUnderTheDrag(*input, *host));
    const auto over = target->printedCount();
    moveOverTheTarget();  // off the disc, still holding Shift (a "move" to a file manager)
    ASSERT_TRUE(target->waitUntilPrinted("over", 5s, over)) << "the drag never reached the folder window";
    input->button(1, false);
    ASSERT_TRUE(source->waitForLine("drag-end", 5s));
    expectTheTargetGotTheDropAndNothingConverted();
}

TEST_P(DropsElsewhere, AHiddenPortalLetsTheDropThroughToTheWindowBelow) {
    startDrag();
    moveOverTheTarget();
    ASSERT_TRUE(testing::revealUnderTheDrag(*input, *host));
    input->key("Shift_L", false);  // the Portal goes; the drag goes on over the folder
    ASSERT_TRUE(host->waitForLine("gone", 5s)) << "the Portal never went";
    input->button(1, false);  // released without moving the pointer again
    ASSERT_TRUE(source->waitForLine("drag-end", 5s));
    expectTheTargetGotTheDropAndNothingConverted();
}

TEST_P(DropsElsewhere, AReleaseWhileThePortalFadesGoesToTheWindowBelow) {
    startDrag();
    moveOverTheTarget();
    ASSERT_TRUE(target->waitForLine("over", 5s));
    input->key("Shift_L", true);
    ASSERT_TRUE(host->waitForLine("revealed", 5s)) << "the Portal did not appear";
    ASSERT_TRUE(target->waitForLine("left", 5s)) << "the drag never took the Portal for its target";
    input->key("Shift_L", false);
    ASSERT_TRUE(host->waitForLine("unrevealed", 5s));
    // The Portal fades for seconds here; the drag, with the pointer still, finds the window below.
    ASSERT_TRUE(target->waitForLine("over", 5s)) << "the fading Portal kept the drag";
    for (const auto& line : host->lines()) ASSERT_NE(line, "gone") << "the Portal went before the release";
    input->button(1, false);
    ASSERT_TRUE(source->waitForLine("drag-end", 5s));
    expectTheTargetGotTheDropAndNothingConverted();
    for (const auto& line : host->lines()) EXPECT_NE(line, "gone") << "the release came after the fade";
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
    ASSERT_TRUE(host.waitUntilPrinted("focus portal", 5s)) << "the Portal never took the keyboard";
    input.key("Return", true);
    input.key("Return", false);
    ASSERT_TRUE(host.waitForLine("converting", 5s)) << "the keys did not reach the Portal";
    EXPECT_TRUE(host.waitForLine("succeeded -notes.png", 5s));
}

// The Portal under a scale factor (QT_SCALE_FACTOR, the same path as Xft.dpi scaling): a screen
// of 1280 × 800 logical pixels made of 1280·s × 800·s real ones. The pointer is in real pixels;
// the Portal must open centred on it, stay whole on screen at every edge and take drops on
// every chip.
class ScaledPortal : public ::testing::TestWithParam<double> {
protected:
    static constexpr int kLogicalWidth = 1280, kLogicalHeight = 800;

    void SetUp() override {
        app();
        std::string whyNot;
        server = Xvfb::start(whyNot, device(kLogicalWidth), device(kLogicalHeight));
        if (!server) GTEST_SKIP() << whyNot;
        input = std::make_unique<FakeInput>(server->display());
        ASSERT_TRUE(input->ok()) << "no XTest on " << server->display();
        file = temp.write("photo one.jpg", "not really a picture");
        auto env = testing::desktopEnvironment(server->display(), temp.path());
        auto hostEnv = env;
        hostEnv["QT_SCALE_FACTOR"] = std::to_string(GetParam());
        host = std::make_unique<ChildProgram>(KOLVEX_PORTAL_HOST, std::vector<std::string>{"--chips", "4"}, hostEnv);
        ASSERT_TRUE(host->waitForLine("ready", 10s)) << "the Portal host did not come up";
        std::vector<std::string> arguments;
        for (int value : {kSourceX, kSourceY, kSourceSize, kSourceSize}) arguments.push_back(std::to_string(value));
        arguments.push_back(file.string());
        source = std::make_unique<ChildProgram>(KOLVEX_DRAG_SOURCE_GTK, arguments, env);
        ASSERT_TRUE(source->waitForLine("ready", 10s)) << "the drag source did not come up";
    }
    void TearDown() override {
        if (input && input->ok()) {
            input->key("Shift_L", false);
            input->button(1, false);
        }
    }

    int device(double logical) const { return static_cast<int>(std::lround(logical * GetParam())); }

    // Moves the dragging hand to (x, y) in real pixels, in steps a drag source follows.
    // Half the way at a time, so that pointer acceleration cannot overshoot for good.
    void moveTo(int x, int y) {
        if (!input->glideTo(x, y)) ADD_FAILURE() << "the pointer did not reach " << x << "," << y;
    }

    struct Frame {
        double left = 0, top = 0, width = 0, height = 0;
    };
    // Holds Shift and reads where the Portal opened, in logical pixels (y down).
    Frame reveal() {
        input->key("Shift_L", true);
        const std::string line = host->waitForLineStarting("frame ", 5s);
        Frame f;
        std::istringstream in(line.substr(line.empty() ? 0 : 6));
        in >> f.left >> f.top >> f.width >> f.height;
        EXPECT_FALSE(line.empty()) << "the Portal did not appear: " << host->linesText();
        EXPECT_TRUE(host->waitForLine("revealed", 5s));
        return f;
    }

    kolvex::testing::TempDir temp;
    std::filesystem::path file;
    std::unique_ptr<Xvfb> server;
    std::unique_ptr<FakeInput> input;
    std::unique_ptr<ChildProgram> host;
    std::unique_ptr<ChildProgram> source;
};

TEST_P(ScaledPortal, OpensUnderThePointerAndStaysOnScreenAtEveryEdge) {
    ASSERT_TRUE(testing::beginDrag(*input, *source, kSourceX + kSourceSize / 2, kSourceY + kSourceSize / 2));
    const double scale = GetParam();
    struct Spot {
        const char* name;
        int x, y;  // real pixels
    };
    const std::vector<Spot> spots{{"middle", device(640), device(400)},
                                  {"top", device(335), 2},
                                  {"right", device(kLogicalWidth) - 2, device(500)},
                                  {"bottom", device(700), device(kLogicalHeight) - 2},
                                  {"left", 2, device(300)}};
    for (const Spot& spot : spots) {
        SCOPED_TRACE(spot.name);
        moveTo(spot.x, spot.y);
        const Frame f = reveal();
        const double px = spot.x / scale, py = spot.y / scale;  // the pointer in logical pixels
        EXPECT_EQ(f.width, 480);
        EXPECT_EQ(f.height, 480);
        // Whole on screen...
        EXPECT_GE(f.left, 0);
        EXPECT_GE(f.top, 0);
        EXPECT_LE(f.left + f.width, kLogicalWidth);
        EXPECT_LE(f.top + f.height, kLogicalHeight);
        // ...and centred on the pointer wherever the screen leaves room.
        const double cx = std::clamp(px, 240.0, kLogicalWidth - 240.0), cy = std::clamp(py, 240.0, kLogicalHeight - 240.0);
        EXPECT_NEAR(f.left + 240, cx, 2);
        EXPECT_NEAR(f.top + 240, cy, 2);
        input->key("Shift_L", false);
        ASSERT_TRUE(host->waitForLine("closed", 5s)) << host->linesText();
    }
    input->button(1, false);
}

TEST_P(ScaledPortal, ADropOnEachChipConvertsToIt) {
    const std::vector<std::pair<std::string, std::pair<int, int>>> chips{
        {"png", {0, -1}}, {"webp", {1, 0}}, {"tiff", {0, 1}}, {"gif", {-1, 0}}};
    for (const auto& [extension, direction] : chips) {
        SCOPED_TRACE(extension);
        ASSERT_TRUE(testing::beginDrag(*input, *source, kSourceX + kSourceSize / 2, kSourceY + kSourceSize / 2));
        const int x = device(640), y = device(400);
        moveTo(x, y);
        reveal();
        // The drag source takes the Portal for its target before the hand moves on.
        ASSERT_TRUE(host->waitForLine("inside", 5s)) << "the drag never entered the Portal: " << host->linesText();
        // Toward the chip, past the dead zone, well inside the round window.
        moveTo(x + direction.first * device(130), y + direction.second * device(130));
        std::string label = extension;
        std::transform(label.begin(), label.end(), label.begin(), [](unsigned char c) { return std::toupper(c); });
        ASSERT_TRUE(host->waitForLine("selected " + label, 5s)) << host->linesText();
        input->button(1, false);
        ASSERT_TRUE(source->waitForLine("drag-end", 5s));
        ASSERT_TRUE(host->waitForLine("converting", 5s)) << "the drop did not reach the Portal: " << host->linesText();
        EXPECT_TRUE(host->waitForLine("succeeded photo one." + extension, 5s)) << host->linesText();
        ASSERT_TRUE(host->waitForLine("closed", 10s)) << host->linesText();
        input->key("Shift_L", false);
    }
}

INSTANTIATE_TEST_SUITE_P(Factors, ScaledPortal, ::testing::Values(1.0, 1.25, 1.5, 2.0), [](const auto& info) {
    return "x" + std::to_string(static_cast<int>(std::lround(info.param * 100)));
});

// The keyboard Portal beside another program's window, on a desktop with a window manager: a
// click on that window gives it the keyboard, as it would for a user.
class KeyboardPortalAndAnotherWindow : public ::testing::Test {
protected:
    static constexpr int kPortalX = 640, kPortalY = 400;  // the middle of the screen

    // Where the other window asks to be: its left, top and side.
    virtual std::array<int, 3> otherPlace() const { return {20, 20, 200}; }

    void SetUp() override {
        app();
        std::string whyNot;
        server = Xvfb::start(whyNot);
        if (!server) GTEST_SKIP() << whyNot;
        manager = testing::WindowManager::start(server->display(), temp.path(), whyNot);
        if (!manager) GTEST_SKIP() << whyNot;
        input = std::make_unique<FakeInput>(server->display());
        ASSERT_TRUE(input->ok());
        const auto file = temp.write("-notes.txt", "x");
        const auto env = testing::desktopEnvironment(server->display(), temp.path());
        const auto [x, y, side] = otherPlace();
        other = std::make_unique<ChildProgram>(
            KOLVEX_KEY_WINDOW_GTK,
            std::vector<std::string>{std::to_string(x), std::to_string(y), std::to_string(side), std::to_string(side)}, env);
        ASSERT_TRUE(other->waitForLine("ready", 10s));
        host = std::make_unique<ChildProgram>(KOLVEX_PORTAL_HOST, std::vector<std::string>{"--present", file.string()}, env);
        ASSERT_TRUE(host->waitForLine("ready", 10s));
        ASSERT_TRUE(host->waitForLine("focus portal", 5s)) << host->linesText();
    }
    void clickAt(int x, int y) {
        input->moveTo(x, y);
        input->button(1, true);
        input->button(1, false);
    }
    // A real click: the window manager moves the keyboard, nobody else.
    void clickTheOtherWindow() {
        const auto [x, y, side] = otherPlace();
        clickAt(x + side / 4, y + side / 2);
        ASSERT_TRUE(other->waitForLine("focus-in", 5s)) << "the window manager did not focus the clicked window";
        ASSERT_TRUE(host->waitForLine("focus elsewhere", 5s)) << host->linesText();
    }
    void press(const std::string& key) {
        input->key(key, true);
        input->key(key, false);
    }

    kolvex::testing::TempDir temp;
    std::unique_ptr<Xvfb> server;
    std::unique_ptr<testing::WindowManager> manager;
    std::unique_ptr<FakeInput> input;
    std::unique_ptr<ChildProgram> other;
    std::unique_ptr<ChildProgram> host;
};

TEST_F(KeyboardPortalAndAnotherWindow, ReturnGoesToTheClickedWindowAndAClickOnThePortalTakesTheKeyboardBack) {
    clickTheOtherWindow();
    press("Return");
    ASSERT_TRUE(other->waitForLine("key Return", 5s)) << "Return did not reach the window with the keyboard";
    for (const auto& line : host->lines()) EXPECT_NE(line, "converting") << "Return converted in a Portal without the keyboard";

    clickAt(kPortalX, kPortalY);
    ASSERT_TRUE(host->waitForLine("focus portal", 5s)) << "the click left the keyboard elsewhere: " << host->linesText();
    EXPECT_TRUE(other->waitForLine("focus-out", 5s));
    press("Return");
    ASSERT_TRUE(host->waitForLine("converting", 5s)) << host->linesText();
    EXPECT_TRUE(host->waitForLine("succeeded -notes.png", 5s));
    for (const auto& line : other->lines()) EXPECT_NE(line, "key Return") << "the keys went to both windows";
    // The Portal hears its keys in the order they were pressed: had the first Return reached it,
    // it would have converted before this second one did.
    const auto all = host->printed();
    EXPECT_EQ(std::count(all.begin(), all.end(), std::string("converting")), 1)
        << "Return converted in a Portal without the keyboard";
}

TEST_F(KeyboardPortalAndAnotherWindow, EscapeAnywhereClosesThePortalThatLostTheKeyboard) {
    clickTheOtherWindow();
    press("Escape");
    EXPECT_TRUE(host->waitForLine("closed", 5s)) << host->linesText();
    EXPECT_TRUE(other->waitForLine("key Escape", 5s)) << "the window with the keyboard lost its Escape";
}

// The other window partly under the disc: the window manager raises it when it is clicked, and
// the disc must stay above it and take the clicks on its part.
class KeyboardPortalOverAnotherWindow : public KeyboardPortalAndAnotherWindow {
protected:
    std::array<int, 3> otherPlace() const override { return {250, 250, 300}; }
};

TEST_F(KeyboardPortalOverAnotherWindow, TheDiscStaysAboveTheRaisedWindowAndTakesItsClicks) {
    // A patch of the disc over the other window: the dark disc, not the window's light grey.
    const int patchX = 430, patchY = 390;
    const auto discShows = [&] {
        const auto patch = input->pixels(patchX, patchY, 20, 20);
        return std::all_of(patch.begin(), patch.end(), [](unsigned p) {
            return (p >> 16 & 0xff) < 110 && (p >> 8 & 0xff) < 110 && (p & 0xff) < 110;
        });
    };
    EXPECT_TRUE(discShows()) << "the Portal opened under the other window";
    clickTheOtherWindow();
    ASSERT_TRUE(other->waitForLine("click", 5s));
    // The window manager raised the clicked window before it handed the click on; the Portal
    // comes back above it and is drawn there again.
    std::string top;
    EXPECT_TRUE(testing::pumpUntil([&] { return (top = input->topProgramAt(patchX, patchY)) == "portal-desktop-host" && discShows(); },
                                   testing::patience(5s)))
        << "the raised window covers the Portal (on top there: \"" << top << "\")";
    const auto clicks = [&] {
        const auto lines = other->lines();
        return std::count(lines.begin(), lines.end(), std::string("click"));
    };
    const auto clicksBefore = clicks();
    clickAt(patchX + 10, patchY + 10);
    ASSERT_TRUE(host->waitForLine("focus portal", 5s)) << host->linesText();
    // No click reaches the window below: a wait that proves an absence keeps its own span.
    testing::pumpUntil([] { return false; }, 300ms);
    EXPECT_EQ(clicks(), clicksBefore) << "a click on the disc reached the window below";
}

INSTANTIATE_TEST_SUITE_P(Sources, PortalDesktop, ::testing::Values(Toolkit::gtk, Toolkit::qt),
                         [](const auto& info) { return info.param == Toolkit::qt ? "qt" : "gtk"; });

}  // namespace
}  // namespace kolvex
