// SPDX-License-Identifier: GPL-3.0-or-later
// The real program under a window manager takes every drag as the user made it: files of every
// kind of name, dragged by a source that speaks XDND itself and by a GTK one, convert beside
// themselves under their own bytes; and a drag begun before the program started opens the
// Portal like any other.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QStandardPaths>

#include "KolvexOnDesktop.h"
#include "PortalOnDesktop.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using namespace kolvex::desktop;
using testing::ChildProgram;
using testing::FakeInput;

enum class Source { xdnd, gtk };

std::string sourceName(const ::testing::TestParamInfo<Source>& info) {
    return info.param == Source::xdnd ? "XdndSource" : "GtkSource";
}

// A source window of `side` pixels at (left, top) that drags `files`.
std::unique_ptr<ChildProgram> startSource(Source kind, const std::string& display, const fs::path& home, int left,
                                          int top, int side, const std::vector<fs::path>& files) {
    std::vector<std::string> arguments{std::to_string(left), std::to_string(top), std::to_string(side)};
    if (kind == Source::gtk) arguments.push_back(std::to_string(side));
    for (const auto& file : files) arguments.push_back(file.native());
    return std::make_unique<ChildProgram>(kind == Source::xdnd ? KOLVEX_XDND_SOURCE : KOLVEX_DRAG_SOURCE_GTK, arguments,
                                          testing::desktopEnvironment(display, home));
}

// Every kind of name a file may have on Linux, as bytes: not UTF-8, control characters, the
// longest a name may be, and the marks that mean something in a URL.
std::vector<std::string> everyKindOfName() {
    return {
        "caf\xe9",                 // Latin-1
        "\xff\xfe bytes no UTF-8 has",
        "two\nlines",              // a newline
        "tab\there",
        std::string(251, 'n'),     // 255 bytes with ".png"
        "100% %41 done",           // a '%', and one that looks like an escape
        "#first",                  // a '#' that would start a URL fragment or a comment line
        "a#b",
        "with space",
        "it's \"quoted\"",
        "-leading dash",
        "\xc3\xa9t\xc3\xa9",       // UTF-8
    };
}

class DroppedNames : public ::testing::TestWithParam<Source> {};

// One drop of a file of each kind of name on JPEG: each converts beside itself, named by its own
// bytes, and nothing else is written.
TEST_P(DroppedNames, EveryNameConvertsBesideItsSourceUnderItsOwnBytes) {
    testing::coreApplication("test-ui-portal-program-desktop");
    KolvexUnderAWindowManager desktop;
    const fs::path folder = desktop.home / "names";
    fs::create_directories(folder);
    // Made under a plain name (Qt's file names are text), then copied byte for byte to each name.
    const fs::path picture = writePicture(desktop.home / "picture.png", "PNG");
    std::vector<fs::path> files;
    for (const auto& name : everyKindOfName()) {
        files.push_back(folder / (name + ".png"));
        ASSERT_TRUE(fs::copy_file(picture, files.back())) << "could not make " << files.back();
    }
    const auto before = filesIn(folder);
    std::string whyNot;
    if (!desktop.start(whyNot, false, false)) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(desktop.await("DragObserver started", 20s)) << desktop.log;
    desktop.source = startSource(GetParam(), desktop.xvfb->display(), desktop.home.path(), 610, 370, 60, files);
    ASSERT_TRUE(desktop.source->waitForLine("ready", 10s)) << "the drag source did not come up";

    ASSERT_EQ(dropOnJpeg(desktop), "JPEG") << desktop.log;
    std::vector<fs::path> expected;
    for (const auto& file : files) expected.push_back(fs::path(file).replace_extension(".jpg"));
    const bool written = testing::waitFor(
        [&] { return std::all_of(expected.begin(), expected.end(), [](const fs::path& p) { return fs::exists(p); }); },
        30s);
    for (const auto& made : expected) {
        std::string seen;
        EXPECT_TRUE(fs::exists(made) && hasFormat(made, "JPEG", seen)) << made << " " << seen;
    }
    std::vector<fs::path> made = newFiles(folder, before);
    std::sort(made.begin(), made.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(made, expected) << (written ? "" : "not every file was written\n") << desktop.log;
    EXPECT_EQ(desktop.log.find("carries other files than the drag"), std::string::npos) << desktop.log;
}

INSTANTIATE_TEST_SUITE_P(Sources, DroppedNames, ::testing::Values(Source::xdnd, Source::gtk), sourceName);

// ---------------------------------------------------------------------------------------------
// A drag under way when the program starts

class ADragBegunBeforeLaunch : public ::testing::TestWithParam<Source> {};

TEST_P(ADragBegunBeforeLaunch, OpensThePortalAndConverts) {
    testing::coreApplication("test-ui-portal-program-desktop");
    // The desktop first, with the drag begun on it; the program after.
    testing::TempDir home;
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot, kScreenWidth, kScreenHeight);
    if (!xvfb) GTEST_SKIP() << whyNot;
    auto manager = testing::WindowManager::start(xvfb->display(), home.path(), whyNot);
    if (!manager) GTEST_SKIP() << whyNot;
    home.write("config/kolvex/defaults.json",
               std::string(R"({"KolvexDidShowWelcome": {"type": "bool", "value": true},)") +
                   R"("KolvexPreferences": {"type": "data", "json": )" + preferencesJson(false, false) + "}}");
    const fs::path picture = writePicture(home / "early.png", "PNG");
    auto source = startSource(GetParam(), xvfb->display(), home.path(), 610, 370, 60, {picture});
    ASSERT_TRUE(source->waitForLine("ready", 10s)) << "the drag source did not come up";
    testing::FakeInput input(xvfb->display());
    ASSERT_TRUE(input.ok());
    ASSERT_TRUE(testing::beginDrag(input, *source, 640, 400)) << "the source never began its drag";

    QProcess kolvex;
    testing::startKolvex(kolvex, *xvfb, home, {});
    ASSERT_TRUE(kolvex.waitForStarted(10000));
    std::string log;
    std::size_t seen = 0;
    ASSERT_TRUE(testing::awaitLog(kolvex, log, seen, "DragObserver started", 20s)) << log;
    input.key("Shift_L", true);
    const bool revealed = testing::awaitLog(kolvex, log, seen, "RING n=", 10s);
    std::vector<Chip> chips;
    if (revealed) {
        testing::nudgeUntilTheRingFills(input, [&] {
            kolvex.waitForReadyRead(20);
            log += kolvex.readAllStandardError().toStdString();
            return !(chips = lastRing(log, 0)).empty();
        });
    }
    std::optional<testing::WindowFrame> frame;
    if (revealed) testing::waitFor([&] { return (frame = testing::viewableWindow(testing::kolvexEnvironment(*xvfb, home), "Kolvex Portal")).has_value(); }, 10s);
    const auto jpeg = std::find_if(chips.begin(), chips.end(), [](const Chip& c) { return c.label == "JPEG"; });
    bool dropped = false;
    if (frame && jpeg != chips.end()) {
        const double s = frame->width / 480.0;
        input.glideTo(frame->x + frame->width / 2 + static_cast<int>(std::lround(jpeg->x * s)),
                      frame->y + frame->height / 2 - static_cast<int>(std::lround(jpeg->y * s)));
        dropped = testing::waitFor(
            [&] {
                kolvex.waitForReadyRead(20);
                log += kolvex.readAllStandardError().toStdString();
                const auto at = log.rfind("SELECT ");
                return at != std::string::npos && log.compare(at + 7, 5, "JPEG ") == 0;
            },
            5s);
    }
    input.button(1, false);
    source->waitForLine("drag-end", 10s);
    input.key("Shift_L", false);
    EXPECT_TRUE(revealed) << "no Portal for a drag begun before the program started\n" << log;
    ASSERT_TRUE(frame && jpeg != chips.end() && dropped) << "the Portal offered no JPEG chip under the pointer\n" << log;
    const fs::path made = home / "early.jpg";
    EXPECT_TRUE(testing::waitFor([&] { return fs::exists(made); }, 30s)) << log;
    std::string kind;
    EXPECT_TRUE(hasFormat(made, "JPEG", kind)) << kind;
    kolvex.terminate();
    kolvex.waitForFinished(15000);
}

INSTANTIATE_TEST_SUITE_P(Sources, ADragBegunBeforeLaunch, ::testing::Values(Source::xdnd, Source::gtk), sourceName);

// ---------------------------------------------------------------------------------------------
// A drag out of the program's own window: the Convert Files… chooser

// The middle of Kolvex's icon in the tray, by the window tree; none while it is not in the tray.
// The program's message boxes share the icon's title: the icon is the small window.
std::optional<std::pair<int, int>> trayIcon(const QProcessEnvironment& environment) {
    const std::string tree = testing::outputOf("xwininfo", {"-root", "-tree"}, environment);
    static const std::regex icon(R"re("Kolvex": \("kolvex" "Kolvex"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))re");
    for (std::sregex_iterator at(tree.begin(), tree.end(), icon), end; at != end; ++at) {
        const int width = std::stoi((*at)[1]), height = std::stoi((*at)[2]);
        if (width <= 64 && height <= 64)
            return std::make_pair(std::stoi((*at)[3]) + width / 2, std::stoi((*at)[4]) + height / 2);
    }
    return std::nullopt;
}

// The chosen row of a GTK list inside `frame`: the box of the selection's colour (a saturated
// blue) that is widest; none while no row shows chosen.
std::optional<testing::WindowFrame> chosenRow(FakeInput& input, const testing::WindowFrame& frame) {
    const auto pixels = input.pixels(frame.x, frame.y, frame.width, frame.height);
    if (pixels.size() != static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height)) return std::nullopt;
    int left = frame.width, right = -1, top = frame.height, bottom = -1;
    for (int y = 0; y < frame.height; ++y) {
        int run = 0;
        for (int x = 0; x < frame.width; ++x) {
            const unsigned p = pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width) + static_cast<std::size_t>(x)];
            const int r = static_cast<int>(p >> 16 & 0xff), g = static_cast<int>(p >> 8 & 0xff), b = static_cast<int>(p & 0xff);
            run = (b > 180 && b - r > 90 && b - g > 40) ? run + 1 : 0;
            // Only a long run is a row: a blue icon or button is narrow.
            if (run >= 200) {
                left = std::min(left, x - run + 1);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0 || bottom - top > 60) return std::nullopt;
    return testing::WindowFrame{frame.x + left, frame.y + top, right - left + 1, bottom - top + 1};
}

TEST(ADragOutOfConvertFiles, ConvertsLikeAnyOtherDrag) {
    testing::coreApplication("test-ui-portal-program-desktop");
    for (const char* program : {"trayer", "dbus-daemon", "xwininfo", "xprop"})
        if (QStandardPaths::findExecutable(program).isEmpty()) GTEST_SKIP() << program << " is not installed";
    testing::TempDir home;
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot, kScreenWidth, kScreenHeight);
    if (!xvfb) GTEST_SKIP() << whyNot;
    auto manager = testing::WindowManager::start(xvfb->display(), home.path(), whyNot);
    if (!manager) GTEST_SKIP() << whyNot;
    home.write("config/kolvex/defaults.json",
               std::string(R"({"KolvexDidShowWelcome": {"type": "bool", "value": true},)") +
                   R"("KolvexPreferences": {"type": "data", "json": )" + preferencesJson(false, false) + "}}");
    // The first row of the home folder the chooser opens in.
    const fs::path picture = writePicture(home / "a.png", "PNG");
    auto environment = testing::kolvexEnvironment(*xvfb, home);
    QProcess bus, tray, kolvex;
    ASSERT_TRUE(testing::startSessionBus(bus, environment));
    const std::string trayDown = testing::startTray(tray, *xvfb, environment);
    ASSERT_TRUE(trayDown.empty()) << trayDown;
    kolvex.setProcessEnvironment(environment);
    kolvex.start(KOLVEX_PROGRAM, {});
    ASSERT_TRUE(kolvex.waitForStarted(10000));
    std::string log;
    std::size_t seen = 0;
    ASSERT_TRUE(testing::awaitLog(kolvex, log, seen, "DragObserver started", 20s)) << log;
    const auto readLog = [&] {
        kolvex.waitForReadyRead(20);
        log += kolvex.readAllStandardError().toStdString();
    };
    FakeInput input(xvfb->display());
    ASSERT_TRUE(input.ok());

    // Tray ▸ Convert Files…; the tray may still be moving to its place as the icon is clicked.
    std::optional<std::pair<int, int>> icon;
    ASSERT_TRUE(testing::waitFor([&] { return (icon = trayIcon(environment)).has_value(); }, 10s)) << "no tray icon";
    bool shown = false;
    for (int clicks = 0; clicks < 5 && !shown && icon; ++clicks) {
        input.moveTo(icon->first, icon->second);
        input.button(1, true);
        input.button(1, false);
        input.sync();
        const auto clicked = icon;
        testing::waitFor(
            [&] {
                readLog();
                shown = log.find("Tray menu shown", seen) != std::string::npos;
                return shown || ((icon = trayIcon(environment)) && icon != clicked);
            },
            10s);
        if (icon == clicked) break;
    }
    ASSERT_TRUE(shown) << "the tray menu did not open\n" << log;
    for (const char* key : {"Down", "Return"}) {
        input.key(key, true);
        input.key(key, false);
    }
    input.sync();
    const QString title = "Choose files to send through the Portal";
    std::optional<testing::WindowFrame> chooser;
    ASSERT_TRUE(testing::waitFor([&] { return (chooser = testing::viewableWindow(environment, title)).has_value(); }, 20s))
        << "the chooser did not open\n" << log;
    // The first row chosen (the folder is listed on its own time: Home again until it shows).
    std::optional<testing::WindowFrame> row;
    ASSERT_TRUE(testing::waitFor(
        [&] {
            input.key("Home", true);
            input.key("Home", false);
            input.sync();
            return (row = chosenRow(input, *chooser)).has_value();
        },
        20s))
        << "no row of the chooser shows chosen";

    // Drag the row out of the chooser to the middle of the screen, and hold Shift.
    readLog();
    const std::size_t before = log.size();
    input.moveTo(row->x + 60, row->y + row->height / 2);
    input.button(1, true);
    ASSERT_TRUE(input.glideTo(640, 400));
    input.key("Shift_L", true);
    std::vector<Chip> chips;
    std::optional<testing::WindowFrame> frame;
    const bool ring = testing::waitFor(
        [&] {
            readLog();
            chips = lastRing(log, before);
            return !chips.empty() && (frame = testing::viewableWindow(environment, "Kolvex Portal")).has_value();
        },
        10s);
    const auto jpeg = std::find_if(chips.begin(), chips.end(), [](const Chip& c) { return c.label == "JPEG"; });
    bool chosen = false;
    if (ring && jpeg != chips.end()) {
        const double s = frame->width / 480.0;
        input.glideTo(frame->x + frame->width / 2 + static_cast<int>(std::lround(jpeg->x * s)),
                      frame->y + frame->height / 2 - static_cast<int>(std::lround(jpeg->y * s)));
        chosen = testing::waitFor(
            [&] {
                readLog();
                const auto at = log.rfind("SELECT ");
                return at != std::string::npos && at > before && log.compare(at + 7, 5, "JPEG ") == 0;
            },
            5s);
    }
    input.button(1, false);
    input.key("Shift_L", false);
    ASSERT_TRUE(ring && jpeg != chips.end()) << "the Portal offered no JPEG for the chooser's file\n" << log.substr(before);
    ASSERT_TRUE(chosen) << log.substr(before);
    const fs::path made = home / "a.jpg";
    EXPECT_TRUE(testing::waitFor([&] { return fs::exists(made); }, 30s)) << log.substr(before);
    std::string kind;
    EXPECT_TRUE(hasFormat(made, "JPEG", kind)) << kind;
    for (QProcess* process : {&kolvex, &tray, &bus}) {
        process->terminate();
        process->waitForFinished(10000);
    }
}

}  // namespace
}  // namespace kolvex
