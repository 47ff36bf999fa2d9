// SPDX-License-Identifier: GPL-3.0-or-later
// A question lives as long as its ask, in the real program under a window manager: a new drop
// while the folder chooser is up replaces it (never two on screen), a drag handed back takes it
// down and says the drop was not converted, and the one answered converts. The folder chooser
// opens beside the window dragged from where the screen has room, and once answered leaves
// that window on top and active, so the next drag from it needs no click first.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PortalOnDesktop.h"

namespace kolvex {
namespace {

using namespace kolvex::desktop;

const std::string kChooser = "Where should the converted files go?";
// What the log says of a drop whose question a new drag took down.
const std::string kReplaced = "Not converted, 1 file(s) for JPEG: A new drag began before its question was answered";

long choosersOnScreen(KolvexUnderAWindowManager& desktop) {
    const auto titles = desktop.stackingTitles();
    return std::count(titles.begin(), titles.end(), kChooser);
}

// The source sits in a corner, clear of the chooser that comes up in the middle.
constexpr int kSourceX = 90, kSourceY = 90;

// The program set to ask for a folder, a source of `picture` in the corner, and the folder
// chooser up for a first drop on JPEG. The caller returns on a skip or a fatal failure.
void askForAFolder(KolvexUnderAWindowManager& desktop, const fs::path& picture) {
    desktop.startWithSource(/*askFolder=*/true, false, kSourceX, kSourceY, {picture});
    if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure()) return;
    ASSERT_EQ(dropOnJpegFrom(desktop, kSourceX, kSourceY), "JPEG") << desktop.log;
    ASSERT_TRUE(testing::waitFor([&] { return choosersOnScreen(desktop) == 1; }, 15s)) << desktop.log;
}

TEST(AQuestionOnTheDesktop, ANewDropReplacesItAndOnlyTheLiveOneConverts) {
    testing::coreApplication("test-app-desktop");
    KolvexUnderAWindowManager desktop;
    const fs::path picture = writePicture(desktop.home / "pic.png", "PNG");
    askForAFolder(desktop, picture);
    if (IsSkipped() || HasFatalFailure()) return;
    desktop.readLog();
    const size_t before = desktop.log.size();
    ASSERT_EQ(dropOnJpegFrom(desktop, kSourceX, kSourceY), "JPEG") << desktop.log;
    EXPECT_TRUE(testing::waitFor([&] { return desktop.logHas(kReplaced, before); }, 10s))
        << "the replaced drop is told\n" << desktop.log;
    std::string active;
    ASSERT_TRUE(testing::waitFor([&] { return (active = desktop.activeWindowTitle()) == kChooser; }, 15s))
        << "the window with the keyboard is \"" << active << "\"\n" << desktop.log;
    EXPECT_EQ(choosersOnScreen(desktop), 1) << "a second chooser stacked on the first";

    // "Convert Here", at the last folder chosen
    const fs::path made = desktop.home / "out" / "pic.jpg";
    ASSERT_TRUE(testing::answerWithKey(*desktop.input, "Return", kChooser, [&] { return fs::exists(made); }, 30s))
        << desktop.log;
    std::string seen;
    EXPECT_TRUE(hasFormat(made, "JPEG", seen)) << seen;
    EXPECT_TRUE(testing::waitFor([&] { return choosersOnScreen(desktop) == 0; }, 10s));
    EXPECT_EQ(newFiles(desktop.home / "out", {}).size(), 1u) << "one drop answered, one file written";
}

TEST(AQuestionOnTheDesktop, ADragHandedBackTakesItDownAndSaysSo) {
    testing::coreApplication("test-app-desktop");
    KolvexUnderAWindowManager desktop;
    const fs::path picture = writePicture(desktop.home / "pic.png", "PNG");
    askForAFolder(desktop, picture);
    if (IsSkipped() || HasFatalFailure()) return;

    // Shift opens the Portal over a new drag; Shift let go hands the drag back, and it ends on
    // its own source.
    desktop.readLog();
    const size_t before = desktop.log.size();
    std::vector<Chip> chips;
    ASSERT_TRUE(desktop.openPortal(kSourceX, kSourceY, chips)) << desktop.log;
    desktop.input->key("Shift_L", false);
    desktop.input->sync();
    ASSERT_TRUE(testing::waitFor([&] { return !desktop.portal(); }, 10s)) << desktop.log;
    desktop.input->button(1, false);
    desktop.input->sync();
    EXPECT_TRUE(testing::waitFor([&] { return desktop.logHas(kReplaced, before); }, 10s)) << desktop.log;
    EXPECT_TRUE(testing::waitFor([&] { return choosersOnScreen(desktop) == 0; }, 10s))
        << "the chooser of a drop that was replaced stayed up";
    EXPECT_TRUE(newFiles(desktop.home / "out", {}).empty());
}

// The program set to ask for a folder, with a source the window manager stacks and focuses (as
// a file manager's window is) around (x, y). The caller returns on a skip or a fatal failure.
void startWithAManagedSource(KolvexUnderAWindowManager& desktop, int x, int y, const fs::path& picture) {
    std::string whyNot;
    if (!desktop.start(whyNot, /*askFolder=*/true, false)) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(desktop.await("DragObserver started", 20s)) << desktop.log;
    desktop.placeSource(x, y, {picture}, /*managed=*/true);
}

// The source's window at (x, y) is the topmost window there and has the keyboard.
void expectSourceOnTopAndActive(KolvexUnderAWindowManager& desktop, int x, int y) {
    std::string top, active;
    EXPECT_TRUE(testing::waitFor(
        [&] {
            top = desktop.input->topProgramAt(x, y);
            active = desktop.activeWindowTitle();
            return top == "drag-source-qt" && active == "drag-source-qt";
        },
        10s))
        << "on top: \"" << top << "\", with the keyboard: \"" << active << "\"";
}

// Drops `picture` from the source at (x, y) with "Ask each time", answers "Convert Here" and
// waits for `made`.
void dropAndConvertHere(KolvexUnderAWindowManager& desktop, int x, int y, const fs::path& made) {
    ASSERT_EQ(dropOnJpegFrom(desktop, x, y), "JPEG") << desktop.log;
    ASSERT_TRUE(testing::waitFor([&] { return choosersOnScreen(desktop) == 1; }, 15s)) << desktop.log;
    ASSERT_TRUE(testing::answerWithKey(*desktop.input, "Return", kChooser, [&] { return fs::exists(made); }, 30s))
        << desktop.log;
    std::string seen;
    EXPECT_TRUE(hasFormat(made, "JPEG", seen)) << seen;
    ASSERT_TRUE(testing::waitFor([&] { return !desktop.portal(); }, 15s)) << "the Portal stayed up\n" << desktop.log;
}

// A source in the middle of the screen, which the chooser (too big to go beside it) covers:
// answered, the chooser leaves the source on top and active, and a second drag from it, with no
// click to raise it first, converts.
TEST(AQuestionOnTheDesktop, TheWindowDraggedFromIsActiveAgainOnceItIsAnswered) {
    testing::coreApplication("test-app-desktop");
    KolvexUnderAWindowManager desktop;
    const fs::path picture = writePicture(desktop.home / "pic.png", "PNG");
    startWithAManagedSource(desktop, 640, 400, picture);
    if (IsSkipped() || HasFatalFailure()) return;
    dropAndConvertHere(desktop, 640, 400, desktop.home / "out" / "pic.jpg");
    if (HasFatalFailure()) return;
    expectSourceOnTopAndActive(desktop, 640, 400);
    dropAndConvertHere(desktop, 640, 400, desktop.home / "out" / "pic 2.jpg");
    if (HasFatalFailure()) return;
    expectSourceOnTopAndActive(desktop, 640, 400);
}

// A source where the window manager would put the chooser (the middle of the screen), with room
// beside it on one side or the other: the chooser opens there, clear of the source, so a new drag
// from the source needs no click to raise it first. The new drop takes the place of the first
// (its question goes), and answered, the chooser leaves the source on top and active.
TEST(AQuestionOnTheDesktop, TheChooserOpensBesideTheWindowDraggedFrom) {
    testing::coreApplication("test-app-desktop");
    KolvexUnderAWindowManager desktop;
    desktop.screenWidth = 2560;
    desktop.screenHeight = 1440;
    const fs::path picture = writePicture(desktop.home / "pic.png", "PNG");
    int made = 0;
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{1000, 700}, {1560, 700}}) {
        SCOPED_TRACE("the source at " + std::to_string(x) + "," + std::to_string(y));
        if (!desktop.xvfb) {
            startWithAManagedSource(desktop, x, y, picture);
        } else {
            desktop.source.reset();
            desktop.placeSource(x, y, {picture}, /*managed=*/true);
        }
        if (IsSkipped() || HasFatalFailure()) return;
        for (int drop = 0; drop < 2; ++drop) {
            ASSERT_EQ(dropOnJpegFrom(desktop, x, y), "JPEG") << desktop.log;
            std::optional<WindowFrame> chooser;
            ASSERT_TRUE(testing::waitFor(
                [&] {
                    return choosersOnScreen(desktop) == 1 &&
                           (chooser = testing::viewableWindow(desktop.environment, QString::fromStdString(kChooser)));
                },
                15s))
                << desktop.log;
            const int half = 30;  // the source is 60 pixels square around (x, y)
            const bool apart = chooser->x >= x + half || chooser->x + chooser->width <= x - half ||
                               chooser->y >= y + half || chooser->y + chooser->height <= y - half;
            EXPECT_TRUE(apart) << "the chooser " << chooser->width << "x" << chooser->height << "+" << chooser->x
                               << "+" << chooser->y << " covers the source";
            ASSERT_EQ(desktop.input->topProgramAt(x, y), "drag-source-qt") << "the source is not in view";
        }
        const fs::path output = desktop.home / "out" / (made++ == 0 ? "pic.jpg" : "pic 2.jpg");
        ASSERT_TRUE(testing::answerWithKey(*desktop.input, "Return", kChooser, [&] { return fs::exists(output); }, 30s))
            << desktop.log;
        ASSERT_TRUE(testing::waitFor([&] { return !desktop.portal(); }, 15s)) << desktop.log;
        expectSourceOnTopAndActive(desktop, x, y);
    }
    EXPECT_EQ(newFiles(desktop.home / "out", {}).size(), 2u) << "one file for each drop answered";
}

}  // namespace
}  // namespace kolvex
