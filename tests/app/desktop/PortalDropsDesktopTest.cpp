// SPDX-License-Identifier: GPL-3.0-or-later
// The real program under a window manager, reached with a real drag from a Qt program: a drop
// converts to the chip under the pointer wherever the Portal opened, the questions the settings
// leave to the user come up in front of it with the keyboard before anything runs, and tools
// and walks say what became of each file.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QImage>
#include <QStandardPaths>

#include "KolvexOnDesktop.h"
#include "PortalOnDesktop.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::ChildProgram;
using testing::FakeInput;
using testing::WindowFrame;
using namespace kolvex::desktop;

// ---------------------------------------------------------------------------------------------
// The chip under the pointer, wherever the Portal opened

enum class Edge { top, bottom, left, right, corner };

struct Where {
    Edge edge;
    double scale;
};

class ADropNearAnEdge : public ::testing::TestWithParam<Where> {};

TEST_P(ADropNearAnEdge, ConvertsToTheChipUnderThePointer) {
    testing::coreApplication("test-app-desktop");
    const auto [edge, scale] = GetParam();
    KolvexUnderAWindowManager desktop;
    std::string whyNot;
    const fs::path folder = desktop.home / "pictures";
    fs::create_directories(folder);
    const fs::path picture = writePicture(folder / "pic.png", "PNG");
    if (!desktop.start(whyNot, false, false, scale)) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(desktop.await("DragObserver started", 20s)) << desktop.log;

    // Within 240 px of the edge: the Portal is pushed back on screen, away from the pointer.
    const std::pair<int, int> start = edge == Edge::top      ? std::pair{640, 24}
                                      : edge == Edge::bottom ? std::pair{640, kScreenHeight - 40}
                                      : edge == Edge::left   ? std::pair{24, 400}
                                      : edge == Edge::right  ? std::pair{kScreenWidth - 40, 400}
                                                             : std::pair{24, 24};
    desktop.placeSource(start.first, start.second, {picture});
    if (HasFatalFailure()) return;

    std::vector<Chip> ring;
    ASSERT_TRUE(desktop.openPortal(start.first, start.second, ring)) << "the Portal did not open\n" << desktop.log;
    ASSERT_GE(ring.size(), 2u) << desktop.log;
    // This first drag only reads the ring: Shift goes first, so the release drops nothing on
    // the Portal (near an edge the pointer may already point at a chip).
    desktop.input->key("Shift_L", false);
    ASSERT_TRUE(testing::waitFor([&] { return !desktop.portal(); }, 10s));
    desktop.input->button(1, false);
    desktop.source->waitForLine("drag-end", 10s);
    desktop.readLog();
    desktop.seen = desktop.log.size();
    const auto untouched = filesIn(folder);
    ASSERT_EQ(untouched, (std::set<fs::path>{picture})) << "a drag that only looked converted something";

    for (const auto& chip : ring) {
        SCOPED_TRACE(chip.label);
        const auto before = filesIn(folder);
        desktop.readLog();
        const size_t gesture = desktop.log.size();
        std::vector<Chip> chips;
        const auto frame = desktop.openPortal(start.first, start.second, chips);
        ASSERT_TRUE(frame) << "the Portal did not open\n" << desktop.log;
        const double s = frame->width / 480.0;
        {
            // Pushed on screen: the Portal is not centred on the pointer.
            const auto [px, py] = desktop.input->pointer();
            EXPECT_GT(std::hypot(px - (frame->x + frame->width / 2.0), py - (frame->y + frame->height / 2.0)), 20 * s);
        }
        // The hand lets go once the Portal shows the chip chosen (a loaded machine samples the
        // pointer late).
        EXPECT_TRUE(desktop.pointAt(*frame, chip, gesture))
            << "the Portal chose \"" << desktop.lastSelection(gesture) << "\"\n" << desktop.log.substr(gesture);
        const std::string dropped = desktop.drop();
        EXPECT_EQ(dropped, chip.label) << "the drop went to another chip than the one under the pointer";
        // Once the Portal says what it wrote, the file is complete under its name.
        ASSERT_TRUE(desktop.await("OUTCOME succeeded ", 30s)) << "nothing was written\n" << desktop.log;
        const fs::path made = folder / desktop.log.substr(desktop.seen, desktop.log.find('\n', desktop.seen) - desktop.seen);
        EXPECT_EQ(newFiles(folder, before), std::vector<fs::path>{made});
        std::string seen;
        EXPECT_TRUE(hasFormat(made, chip.label, seen)) << made << " is not " << chip.label << ": " << seen;
        ASSERT_TRUE(testing::waitFor([&] { return !desktop.portal(); }, 15s)) << "the Portal stayed\n" << desktop.log;
        for (const auto& file : newFiles(folder, before)) fs::remove(file);
    }
}

std::string whereName(const ::testing::TestParamInfo<Where>& info) {
    static const char* const names[] = {"Top", "Bottom", "Left", "Right", "Corner"};
    return std::string(names[static_cast<int>(info.param.edge)]) + (info.param.scale == 1 ? "At1x" : "At125");
}

INSTANTIATE_TEST_SUITE_P(Edges, ADropNearAnEdge,
                         ::testing::Values(Where{Edge::top, 1}, Where{Edge::bottom, 1}, Where{Edge::left, 1},
                                           Where{Edge::right, 1}, Where{Edge::corner, 1}, Where{Edge::top, 1.25},
                                           Where{Edge::bottom, 1.25}, Where{Edge::left, 1.25},
                                           Where{Edge::right, 1.25}, Where{Edge::corner, 1.25}),
                         whereName);

// ---------------------------------------------------------------------------------------------
// Questions in front of the user

TEST(QuestionsOnTheDesktop, TheFolderChooserComesUpInFrontAndAnswersToTheKeyboard) {
    testing::coreApplication("test-app-desktop");
    KolvexUnderAWindowManager desktop;
    const fs::path picture = writePicture(desktop.home / "pic.png", "PNG");
    desktop.startWithSource(/*askFolder=*/true, false, 640, 400, {picture});
    if (IsSkipped() || HasFatalFailure()) return;
    const size_t before = desktop.log.size();
    ASSERT_EQ(dropOnJpeg(desktop), "JPEG") << desktop.log;
    expectInFront(desktop, "Where should the converted files go?", before);
    // "Convert Here", at the last folder chosen
    const fs::path made = desktop.home / "out" / "pic.jpg";
    EXPECT_TRUE(testing::answerWithKey(*desktop.input, "Return", "Where should the converted files go?",
                                       [&] { return fs::exists(made); }, 30s))
        << desktop.log;
    std::string seen;
    EXPECT_TRUE(hasFormat(made, "JPEG", seen)) << seen;
}

TEST(QuestionsOnTheDesktop, KeepBothOrSkipComesUpInFrontAndAnswersToTheKeyboard) {
    testing::coreApplication("test-app-desktop");
    KolvexUnderAWindowManager desktop;
    const fs::path picture = writePicture(desktop.home / "pic.png", "PNG");
    const fs::path theirs = desktop.home.write("pic.jpg", "the user's own");
    desktop.startWithSource(false, /*askNames=*/true, 640, 400, {picture});
    if (IsSkipped() || HasFatalFailure()) return;

    // Escape skips: nothing is written, and the Portal comes back to say so.
    size_t before = desktop.log.size();
    ASSERT_EQ(dropOnJpeg(desktop), "JPEG") << desktop.log;
    expectInFront(desktop, "Kolvex", before);
    EXPECT_TRUE(testing::answerWithKey(
        *desktop.input, "Escape", "Kolvex", [&] { return desktop.logHas("OUTCOME failed Nothing converted", before); },
        20s))
        << desktop.log;
    EXPECT_FALSE(fs::exists(desktop.home / "pic 2.jpg"));
    ASSERT_TRUE(testing::waitFor([&] { return !desktop.portal(); }, 15s));

    // Return keeps both: the new file gets a number, the user's own is untouched.
    before = desktop.log.size();
    ASSERT_EQ(dropOnJpeg(desktop), "JPEG") << desktop.log;
    expectInFront(desktop, "Kolvex", before);
    const fs::path made = desktop.home / "pic 2.jpg";
    EXPECT_TRUE(testing::answerWithKey(*desktop.input, "Return", "Kolvex", [&] { return fs::exists(made); }, 30s))
        << desktop.log;
    std::string seen;
    EXPECT_TRUE(hasFormat(made, "JPEG", seen)) << seen;
    std::ifstream in(theirs);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the user's own");
}

// ---------------------------------------------------------------------------------------------
// Tools and walks from the keyboard Portal

// Opens the keyboard Portal's tools and commits the chip `label`.
void commitTool(KolvexUnderAWindowManager& desktop, const std::string& label) {
    ASSERT_TRUE(desktop.await("RING n=", 20s)) << desktop.log;
    ASSERT_TRUE(testing::waitFor([&] { return desktop.portal().has_value(); }, 10s));
    ASSERT_TRUE(testing::waitFor([&] { return desktop.input->focusedWindowTitle() == "Kolvex Portal"; }, 10s))
        << "the Portal never took the keyboard\n" << desktop.log;
    desktop.readLog();
    const size_t before = desktop.log.size();
    desktop.press("Tab");
    // The tools' ring; the convert ring may be built again meanwhile (FFmpeg attaches a moment
    // after launch), so the wait is for the chip itself.
    std::optional<int> steps;
    ASSERT_TRUE(testing::waitFor(
        [&] {
            desktop.readLog();
            return desktop.log.find("RING n=", before) != std::string::npos &&
                   (steps = testing::chipSteps(desktop.log, label)).has_value();
        },
        10s))
        << "no " << label << " chip\n" << desktop.log;
    for (int i = 0; i < *steps; ++i) desktop.press("Right");
    desktop.press("Return");
}

TEST(ToolsOnTheDesktop, AToolOnAFileBesideItselfAsksNothingAboutItsSource) {
    testing::coreApplication("test-app-desktop");
    KolvexUnderAWindowManager desktop;
    std::string whyNot;
    const fs::path photo = writePicture(desktop.home / "photo.jpg", "JPEG");
    if (!desktop.start(whyNot, false, /*askNames=*/true, 1, {photo})) GTEST_SKIP() << whyNot;
    commitTool(desktop, "Strip Metadata");
    if (HasFatalFailure()) return;
    const fs::path made = desktop.home / "photo 2.jpg";
    EXPECT_TRUE(testing::waitFor([&] { return fs::exists(made) || desktop.activeWindowTitle() == "Kolvex"; }, 30s));
    EXPECT_NE(desktop.activeWindowTitle(), "Kolvex") << "asked whether to replace the file's own source";
    EXPECT_TRUE(fs::exists(made)) << desktop.log;
    std::string seen;
    EXPECT_TRUE(hasFormat(made, "JPEG", seen)) << seen;
    EXPECT_TRUE(fs::exists(photo));
}

TEST(ToolsOnTheDesktop, AWalkWithABadFileNamesThatFile) {
    testing::coreApplication("test-app-desktop");
    KolvexUnderAWindowManager desktop;
    std::string whyNot;
    const fs::path good = writePicture(desktop.home / "good.jpg", "JPEG");
    const fs::path bad = desktop.home.write("zz.jpg", "not a picture at all");
    if (!desktop.start(whyNot, false, false, 1, {good, bad})) GTEST_SKIP() << whyNot;
    commitTool(desktop, "Crop");
    if (HasFatalFailure()) return;
    // The first file's sheet; Return moves on to the next file, whose sheet cannot be made.
    ASSERT_TRUE(desktop.await("Sheet ready: Crop good.jpg", 20s)) << desktop.log;
    std::string active;
    ASSERT_TRUE(testing::waitFor([&] { return (active = desktop.activeWindowTitle()).find("good.jpg") != std::string::npos; }, 20s))
        << active << "\n" << desktop.log;
    desktop.press("Return");
    ASSERT_TRUE(desktop.await("Failure told: ", 30s)) << desktop.log;
    const std::string line = desktop.log.substr(desktop.seen, desktop.log.find('\n', desktop.seen) - desktop.seen);
    EXPECT_NE(line.find("zz.jpg"), std::string::npos) << line;
    EXPECT_EQ(line.find("good.jpg"), std::string::npos) << "the failure names another file: " << line;
}

}  // namespace
}  // namespace kolvex
