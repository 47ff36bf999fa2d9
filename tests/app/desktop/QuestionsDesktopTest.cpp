// SPDX-License-Identifier: GPL-3.0-or-later
// A question lives as long as its ask, in the real program under a window manager: a new drop
// while the folder chooser is up replaces it (never two on screen), a drag handed back takes it
// down and says the drop was not converted, and the one answered converts.
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

}  // namespace
}  // namespace kolvex
