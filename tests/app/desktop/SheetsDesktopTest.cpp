// SPDX-License-Identifier: GPL-3.0-or-later
// Tool sheets of the real program on a desktop of its own with a window manager, confirmed with
// the real keys and the mouse: what a sheet shows is what is written.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QStandardPaths>

#include "KolvexOnDesktop.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
using testing::FakeInput;
namespace fs = std::filesystem;

void press(FakeInput& input, const std::string& key) {
    input.key(key, true);
    input.key(key, false);
    input.sync();
}

// A click at (x, y), handed on to the window there: the window manager looks at a click first
// and holds the pointer meanwhile, while keys typed then go straight to the window with the
// keyboard, ahead of the click.
bool click(FakeInput& input, int x, int y) {
    input.moveTo(x, y);
    input.button(1, true);
    input.button(1, false);
    input.sync();
    return testing::waitFor([&] { return !input.pointerIsGrabbed(); }, 5s);
}

// The program on an Xvfb with openbox, its first-run guide seen long ago.
struct Desktop {
    std::unique_ptr<testing::Xvfb> xvfb;
    std::unique_ptr<testing::WindowManager> manager;
    testing::TempDir home;
    QProcessEnvironment environment;
    QProcess kolvex;
    std::string log;

    // Empty when it is up; otherwise why the test cannot run here.
    std::string start(const std::vector<fs::path>& files) {
        std::string whyNot;
        xvfb = testing::Xvfb::start(whyNot);
        if (!xvfb) return whyNot;
        manager = testing::WindowManager::start(xvfb->display(), home.path(), whyNot);
        if (!manager) return whyNot;
        home.write("config/kolvex/defaults.json", R"({"KolvexDidShowWelcome": {"type": "bool", "value": true}})");
        environment = testing::kolvexEnvironment(*xvfb, home);
        QStringList arguments;
        for (const auto& file : files) arguments << QString::fromStdString(file.string());
        testing::startKolvex(kolvex, *xvfb, home, arguments);
        return {};
    }
    ~Desktop() {
        kolvex.terminate();
        kolvex.waitForFinished(15000);
    }

    // Opens the tool `label` for the files handed over at launch, from the keyboard Portal. A
    // sheet that `measures` what it would write is taken once its first measurement shows.
    std::optional<testing::WindowFrame> openTool(FakeInput& input, const std::string& label, const QString& title,
                                                 bool measures = false) {
        if (!testing::waitForLog(kolvex, log, "FFmpeg ready", 30s)) return std::nullopt;
        if (!testing::waitForLog(kolvex, log, "RING n=", 10s)) return std::nullopt;
        if (!testing::waitFor([&] { return input.focusedWindowTitle() == "Kolvex Portal"; }, 10s)) return std::nullopt;
        press(input, "Tab");
        if (!testing::waitForLog(kolvex, log, " " + label + "@", 5s)) return std::nullopt;
        const auto steps = testing::chipSteps(log, label);
        if (!steps) return std::nullopt;
        for (int i = 0; i < *steps; ++i) press(input, "Right");  // taken in order, with the Return
        press(input, "Return");
        // The sheet (not the placeholder that may stand in for it) with all it reads in, at the
        // size it settled at, with the keyboard.
        const std::string ready = "Sheet ready: " + title.toStdString() + " (";
        const std::string measured = "Sheet measured: " + title.toStdString() + " (";
        if (!testing::waitForLog(kolvex, log, ready, 15s)) return std::nullopt;
        if (measures && !testing::waitForLog(kolvex, log, measured, 15s)) return std::nullopt;
        // The size the sheet was laid out at last.
        const auto readyAt = log.rfind(ready), measuredAt = measures ? log.rfind(measured) : std::string::npos;
        const auto at = measuredAt != std::string::npos && measuredAt > readyAt ? measuredAt + measured.size()
                                                                                : readyAt + ready.size();
        int width = 0, height = 0;
        if (std::sscanf(log.c_str() + at, "%dx%d", &width, &height) != 2) return std::nullopt;
        if (!testing::waitFor([&] { return input.focusedWindowTitle() == title.toStdString(); }, 10s))
            return std::nullopt;
        std::optional<testing::WindowFrame> sheet;
        const bool settled = testing::waitFor(
            [&] {
                sheet = testing::viewableWindow(environment, title);
                return sheet && sheet->width == width && sheet->height == height;
            },
            15s);
        if (!settled) {
            log += "[test] the sheet's window never showed at the size it settled at\n";
            return std::nullopt;
        }
        return sheet;
    }

    // The files written beside `source` once `count` of them are there (a final name holds a
    // complete file).
    std::vector<fs::path> outputs(const fs::path& source, size_t count, std::chrono::milliseconds timeout) {
        std::vector<fs::path> found;
        testing::waitFor(
            [&] {
                found.clear();
                for (const auto& entry : fs::directory_iterator(source.parent_path()))
                    if (entry.path() != source && !entry.path().filename().string().starts_with("."))
                        found.push_back(entry.path());
                return found.size() >= count;
            },
            timeout);
        std::sort(found.begin(), found.end());
        return found;
    }
};

double duration(const fs::path& file) {
    const std::string text = testing::probeEntry(file, "format=duration");
    return text.empty() ? -1 : std::stod(text);
}

enum class Confirm { returnKey, returnInTheField, click };

class TheSplitSheet : public ::testing::TestWithParam<Confirm> {};

// A 10 s clip with keyframes 4 s apart opens with its cut at 5 s: confirmed untouched (Return,
// Return in the untouched "Split at" field, or a click on "Split"), the two parts are 5 s each, as
// the sheet lists them.
TEST_P(TheSplitSheet, WritesThePartsItShowsWhenConfirmedUntouched) {
    KOLVEX_REQUIRE_FFMPEG();
    if (QStandardPaths::findExecutable("xwininfo").isEmpty()) GTEST_SKIP() << "xwininfo is not installed";
    Desktop desktop;
    fs::create_directories(desktop.home / "clips");
    testing::ClipSpec shape;
    shape.seconds = 10;
    shape.codecArguments = {"-c:v", "libx264", "-g", "40", "-keyint_min", "40", "-sc_threshold", "0", "-c:a", "aac"};
    const auto clip = testing::makeClip(desktop.home / "clips/clip.mp4", shape);
    if (const auto whyNot = desktop.start({clip}); !whyNot.empty()) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(desktop.kolvex.waitForStarted(10000));
    FakeInput input(desktop.xvfb->display());
    ASSERT_TRUE(input.ok());
    const auto sheet = desktop.openTool(input, "Split", "Split clip.mp4");
    ASSERT_TRUE(sheet) << "the split sheet never opened\n" << desktop.log;

    if (GetParam() == Confirm::returnKey) {
        press(input, "Return");
    } else if (GetParam() == Confirm::returnInTheField) {
        // The "Split at" field, 74 px in from the sheet's left and 144 px above its bottom.
        ASSERT_TRUE(click(input, sheet->x + 74, sheet->y + sheet->height - 144)) << "the click was never handed on";
        press(input, "Return");
    } else {
        // "Split" is the last button of the sheet's foot, 20 px in from its right and bottom edges.
        input.moveTo(sheet->x + sheet->width - 50, sheet->y + sheet->height - 34);
        input.button(1, true);
        input.button(1, false);
        input.sync();
    }
    const auto parts = desktop.outputs(clip, 2, 30s);
    ASSERT_EQ(parts.size(), 2u) << desktop.log;
    for (const auto& part : parts) EXPECT_NEAR(duration(part), 5.0, 0.12) << part.filename();
}

INSTANTIATE_TEST_SUITE_P(Confirm, TheSplitSheet,
                         ::testing::Values(Confirm::returnKey, Confirm::returnInTheField, Confirm::click),
                         [](const auto& info) {
                             return info.param == Confirm::returnKey          ? "Return"
                                    : info.param == Confirm::returnInTheField ? "ReturnInTheField"
                                                                              : "Click";
                         });

// The picture packets of a file, one hash each in order, as ffmpeg reads them without decoding.
std::vector<std::string> picturePackets(const Desktop& desktop, const fs::path& file) {
    const std::string listed = testing::outputOf(
        "ffmpeg", {"-v", "error", "-i", QString::fromStdString(file.string()), "-map", "0:v:0", "-c", "copy", "-f", "framemd5", "-"},
        desktop.environment);
    std::vector<std::string> hashes;
    size_t start = 0;
    while (start < listed.size()) {
        size_t end = listed.find('\n', start);
        if (end == std::string::npos) end = listed.size();
        const std::string line = listed.substr(start, end - start);
        if (!line.empty() && line.front() != '#') hashes.push_back(line.substr(line.rfind(',') + 1));
        start = end + 1;
    }
    return hashes;
}

// A 10 s clip with a keyframe every second opens with its cut at 5 s, on a keyframe: confirmed
// untouched, the two parts are copies of the source, its pictures packet for packet.
TEST(TheSplitSheet, CopiesTheSourceWhenItsUntouchedCutIsOnAKeyframe) {
    KOLVEX_REQUIRE_FFMPEG();
    if (QStandardPaths::findExecutable("xwininfo").isEmpty()) GTEST_SKIP() << "xwininfo is not installed";
    Desktop desktop;
    fs::create_directories(desktop.home / "clips");
    testing::ClipSpec shape;
    shape.seconds = 10;
    shape.codecArguments = {"-c:v", "libx264", "-g", "10", "-keyint_min", "10", "-sc_threshold", "0", "-c:a", "aac"};
    const auto clip = testing::makeClip(desktop.home / "clips/clip.mp4", shape);
    if (const auto whyNot = desktop.start({clip}); !whyNot.empty()) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(desktop.kolvex.waitForStarted(10000));
    FakeInput input(desktop.xvfb->display());
    ASSERT_TRUE(input.ok());
    ASSERT_TRUE(desktop.openTool(input, "Split", "Split clip.mp4")) << "the split sheet never opened\n" << desktop.log;
    press(input, "Return");
    const auto parts = desktop.outputs(clip, 2, 30s);
    ASSERT_EQ(parts.size(), 2u) << desktop.log;
    std::vector<std::string> copied;
    for (const auto& part : parts) {
        const auto packets = picturePackets(desktop, part);
        EXPECT_EQ(packets.size(), 50u) << part.filename() << ": 5 s of 10 pictures a second";
        copied.insert(copied.end(), packets.begin(), packets.end());
    }
    EXPECT_EQ(copied, picturePackets(desktop, clip)) << "the parts are not copies of the source\n" << desktop.log;
}

// The pixel size of a picture as vipsheader reads it.
std::pair<int, int> pictureSize(const Desktop& desktop, const fs::path& picture) {
    const auto field = [&](const char* name) {
        const std::string text =
            testing::outputOf("vipsheader", {"-f", name, QString::fromStdString(picture.string())}, desktop.environment);
        return text.empty() ? -1 : std::stoi(text);
    };
    return {field("width"), field("height")};
}

// A 400 × 200 picture offers no longest side above 400: pushed to the slider's end, the sheet has
// nothing to write; one step down, it writes the size it promised.
TEST(TheResizeSheet, OffersNoEnlargementAndWritesWhatItShows) {
    KOLVEX_REQUIRE_FFMPEG();
    for (const char* program : {"xwininfo", "vipsheader"})
        if (QStandardPaths::findExecutable(program).isEmpty()) GTEST_SKIP() << program << " is not installed";
    Desktop desktop;
    fs::create_directories(desktop.home / "pictures");
    const auto picture = testing::makeMedia(desktop.home / "pictures/small.png",
                                            {"-f", "lavfi", "-i", "testsrc2=size=400x200", "-frames:v", "1"});
    if (const auto whyNot = desktop.start({picture}); !whyNot.empty()) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(desktop.kolvex.waitForStarted(10000));
    FakeInput input(desktop.xvfb->display());
    ASSERT_TRUE(input.ok());
    const auto sheet = desktop.openTool(input, "Resize", "Resize small.png", /*measures=*/true);
    ASSERT_TRUE(sheet) << "the resize sheet never opened\n" << desktop.log;

    // A click on "Longest side" (the sheet's foot below the picture keeps its height: the button
    // is 253 px above the sheet's bottom), Tab to its slider, and the slider to its end.
    ASSERT_TRUE(click(input, sheet->x + sheet->width - 128, sheet->y + sheet->height - 253))
        << "the click was never handed on";
    press(input, "Tab");
    press(input, "End");
    press(input, "Return");
    // Nothing is written: a wait that proves an absence keeps its own span.
    testing::pumpUntil([] { return false; }, 2s);
    EXPECT_TRUE(desktop.outputs(picture, 1, 0ms).empty()) << "a size above the original's was offered and applied";
    EXPECT_TRUE(testing::windowIsViewable(desktop.environment, "Resize small.png"));

    press(input, "Left");  // 398 px, 2 px below the original
    press(input, "Return");
    const auto written = desktop.outputs(picture, 1, 20s);
    ASSERT_EQ(written.size(), 1u) << desktop.log;
    EXPECT_EQ(pictureSize(desktop, written.front()), std::make_pair(398, 199));
}

// A batch of pictures of different sizes at 50 %: each is halved by its own size, not by the
// first file's, and the one a longest side would not shrink is left as it is.
TEST(TheResizeSheet, APercentageIsEachFilesOwnInABatchOfMixedSizes) {
    KOLVEX_REQUIRE_FFMPEG();
    for (const char* program : {"xwininfo", "vipsheader"})
        if (QStandardPaths::findExecutable(program).isEmpty()) GTEST_SKIP() << program << " is not installed";
    Desktop desktop;
    // Each in a folder of its own, so that what is new beside it is its output.
    const auto picture = [&](const char* name, const char* size) {
        const fs::path folder = desktop.home / fs::path(name).stem();
        fs::create_directories(folder);
        return testing::makeMedia(folder / name,
                                  {"-f", "lavfi", "-i", std::string("testsrc2=size=") + size, "-frames:v", "1"});
    };
    const auto small = picture("small.png", "400x200");
    const auto big = picture("big.jpg", "1600x1200");
    const auto mid = picture("mid.jpg", "800x600");
    if (const auto whyNot = desktop.start({small, big, mid}); !whyNot.empty()) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(desktop.kolvex.waitForStarted(10000));
    FakeInput input(desktop.xvfb->display());
    ASSERT_TRUE(input.ok());
    ASSERT_TRUE(desktop.openTool(input, "Resize", "Resize small.png")) << "the resize sheet never opened\n" << desktop.log;
    press(input, "Return");  // 50 %, one setting for the three
    const std::pair<fs::path, std::pair<int, int>> expected[] = {
        {small, {200, 100}}, {big, {800, 600}}, {mid, {400, 300}}};
    for (const auto& [source, size] : expected) {
        const auto written = desktop.outputs(source, 1, 30s);
        ASSERT_EQ(written.size(), 1u) << source.filename() << "\n" << desktop.log;
        EXPECT_EQ(pictureSize(desktop, written.front()), size) << written.front().filename();
    }
}

}  // namespace
}  // namespace kolvex
