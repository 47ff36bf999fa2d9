// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal of the real program follows the Appearance setting: light under Light, dark under
// Dark, and under System on a desktop that states no preference its own dark look; also when the
// setting is changed while the program runs, after the Portal was shown.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include <QStandardPaths>

#include "KolvexOnDesktop.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
using testing::FakeInput;

struct Theme {
    const char* appearance;
    bool light;
};

class ThePortalOnTheDesktop : public ::testing::TestWithParam<Theme> {};

// The lightness of the aperture's disc and the backdrop inside the ring, as the screen shows it;
// none while a spot is not one flat colour (the bare root window's weave shows through before the
// Portal is drawn) or is pure black (the window is up but not drawn yet: no look of the Portal
// is black).
std::optional<int> portalLightness(FakeInput& input, const testing::WindowFrame& frame) {
    const int cx = frame.x + frame.width / 2, cy = frame.y + frame.height / 2;
    int lightness = 0, samples = 0;
    for (const auto& [dx, dy] : {std::pair{-50, 8}, std::pair{50, 8}, std::pair{-80, -80}, std::pair{80, -80}}) {
        int low = 255, high = 0;
        for (const unsigned pixel : input.pixels(cx + dx, cy + dy, 2, 2)) {
            const int r = static_cast<int>(pixel >> 16 & 0xff), g = static_cast<int>(pixel >> 8 & 0xff),
                      b = static_cast<int>(pixel & 0xff);
            const int value = (std::max({r, g, b}) + std::min({r, g, b})) / 2;
            low = std::min(low, value);
            high = std::max(high, value);
            lightness += value;
            ++samples;
        }
        if (high - low > 24 || high == 0) return std::nullopt;
    }
    return lightness / samples;
}

// The Portal's lightness once it is drawn and has stopped changing (it fades and grows in):
// the same in two readings in a row. None when it never settles.
std::optional<int> settledLightness(FakeInput& input, const testing::WindowFrame& frame) {
    std::optional<int> last, now;
    const bool settled = testing::waitFor(
        [&] {
            last = std::exchange(now, portalLightness(input, frame));
            return now && last && std::abs(*now - *last) <= 2;
        },
        10s);
    return settled ? now : std::nullopt;
}

TEST_P(ThePortalOnTheDesktop, FollowsTheAppearanceSetting) {
    if (QStandardPaths::findExecutable("xwininfo").isEmpty()) GTEST_SKIP() << "xwininfo is not installed";
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot);
    if (!xvfb) GTEST_SKIP() << whyNot;
    testing::TempDir home;
    home.write("config/kolvex/defaults.json",
               std::string(R"({"KolvexDidShowWelcome": {"type": "bool", "value": true},
  "KolvexPreferences": {"type": "data", "json": {"outputLocation": "sameAsSource", "conflictBehaviour": "rename",
    "preserveMetadata": true, "showNotifications": false, "imageQuality": 0.85, "videoQuality": 0.7,
    "audioBitrate": 192000, "parallelLimit": 0, "appearance": ")") +
                   GetParam().appearance + R"(", "debugLogging": false, "triggerModifier": "shift"}}})");
    const auto file = home.write("notes.txt", "Some words to convert.\n");
    const auto environment = testing::kolvexEnvironment(*xvfb, home);

    QProcess kolvex;
    testing::startKolvex(kolvex, *xvfb, home, {QString::fromStdString(file.string())});
    ASSERT_TRUE(kolvex.waitForStarted(10000));
    std::string log;
    ASSERT_TRUE(testing::waitForLog(kolvex, log, "RING n=", 20s)) << log;
    std::optional<testing::WindowFrame> frame;
    ASSERT_TRUE(testing::waitFor([&] { return (frame = testing::viewableWindow(environment, "Kolvex Portal")).has_value(); }, 10s))
        << log;
    FakeInput input(xvfb->display());
    ASSERT_TRUE(input.ok());
    const auto lightness = settledLightness(input, *frame);
    ASSERT_TRUE(lightness) << "the Portal was never drawn still\n" << log;
    if (GetParam().light) {
        EXPECT_GT(*lightness, 170) << GetParam().appearance << ": the Portal stayed dark\n" << log;
    } else {
        EXPECT_LT(*lightness, 90) << GetParam().appearance << ": the Portal is not dark\n" << log;
    }
    kolvex.terminate();
    EXPECT_TRUE(kolvex.waitForFinished(15000));
}

INSTANTIATE_TEST_SUITE_P(Appearances, ThePortalOnTheDesktop,
                         ::testing::Values(Theme{"light", true}, Theme{"dark", false}, Theme{"system", false}),
                         [](const auto& info) { return std::string(info.param.appearance); });

}  // namespace
}  // namespace kolvex

namespace kolvex {
namespace {

// The middle of Kolvex's icon in the tray, by the window tree; none while it is not in the tray.
// The program's message boxes share the icon's title: the icon is the small window.
std::optional<std::pair<int, int>> trayIcon(const QProcessEnvironment& environment) {
    const std::string tree = testing::outputOf("xwininfo", {"-root", "-tree"}, environment);
    static const std::regex panel(R"re("panel": \("panel" "trayer"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))re");
    std::smatch match;
    if (!std::regex_search(tree, match, panel)) return std::nullopt;
    const int left = std::stoi(match[3]), top = std::stoi(match[4]);
    const int right = left + std::stoi(match[1]), bottom = top + std::stoi(match[2]);
    static const std::regex icon(R"re("Kolvex": \("kolvex" "Kolvex"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))re");
    for (std::sregex_iterator at(tree.begin(), tree.end(), icon), end; at != end; ++at) {
        const int width = std::stoi((*at)[1]), height = std::stoi((*at)[2]);
        const int x = std::stoi((*at)[3]) + width / 2, y = std::stoi((*at)[4]) + height / 2;
        if (width <= 64 && height <= 64 && x > left && x < right && y > top && y < bottom) return std::make_pair(x, y);
    }
    return std::nullopt;
}

// Shown once under System (dark here), then switched to Light in the settings window while the
// program runs: the next Portal is light all through, as a fresh Light one is.
TEST(ThePortalOnTheDesktop, FollowsAnAppearanceChangedWhileRunning) {
    for (const char* program : {"trayer", "dbus-daemon", "xwininfo"})
        if (QStandardPaths::findExecutable(program).isEmpty()) GTEST_SKIP() << program << " is not installed";
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot);
    if (!xvfb) GTEST_SKIP() << whyNot;
    testing::TempDir home;
    auto manager = testing::WindowManager::start(xvfb->display(), home.path(), whyNot);
    if (!manager) GTEST_SKIP() << whyNot;
    home.write("config/kolvex/defaults.json",
               R"({"KolvexDidShowWelcome": {"type": "bool", "value": true},
  "KolvexPreferences": {"type": "data", "json": {"outputLocation": "sameAsSource", "conflictBehaviour": "rename",
    "preserveMetadata": true, "showNotifications": false, "imageQuality": 0.85, "videoQuality": 0.7,
    "audioBitrate": 192000, "parallelLimit": 0, "appearance": "system", "debugLogging": true, "triggerModifier": "shift"}}})");
    const auto file = home.write("notes.txt", "Some words to convert.\n");
    auto environment = testing::kolvexEnvironment(*xvfb, home);
    QProcess bus, tray, kolvex;
    ASSERT_TRUE(testing::startSessionBus(bus, environment));
    const std::string trayDown = testing::startTray(tray, *xvfb, environment);
    ASSERT_TRUE(trayDown.empty()) << trayDown;
    kolvex.setProcessEnvironment(environment);
    kolvex.start(KOLVEX_PROGRAM, {QString::fromStdString(file.string())});
    ASSERT_TRUE(kolvex.waitForStarted(10000));
    std::string log;
    ASSERT_TRUE(testing::waitForLog(kolvex, log, "RING n=", 20s)) << log;
    std::optional<testing::WindowFrame> frame;
    ASSERT_TRUE(testing::waitFor([&] { return (frame = testing::viewableWindow(environment, "Kolvex Portal")).has_value(); }, 10s));
    FakeInput input(xvfb->display());
    ASSERT_TRUE(input.ok());
    // Keys go to the window that has the keyboard in the order typed: no pause between them.
    const auto press = [&input](const std::string& key, const std::string& with = {}) {
        if (!with.empty()) input.key(with, true);
        input.key(key, true);
        input.key(key, false);
        if (!with.empty()) input.key(with, false);
        input.sync();
    };
    const auto dark = settledLightness(input, *frame);
    ASSERT_TRUE(dark) << "the Portal was never drawn still\n" << log;
    EXPECT_LT(*dark, 90) << "the Portal is not dark under System here";
    ASSERT_TRUE(testing::waitFor([&] { return input.focusedWindowTitle() == "Kolvex Portal"; }, 10s))
        << "the Portal does not have the keyboard: \"" << input.focusedWindowTitle() << "\"";
    press("Escape");
    ASSERT_TRUE(testing::waitFor([&] { return !testing::windowIsViewable(environment, "Kolvex Portal"); }, 10s));

    // Settings… from the tray, the Appearance tab, Light.
    std::optional<std::pair<int, int>> icon;
    ASSERT_TRUE(testing::waitFor([&] { return (icon = trayIcon(environment)).has_value(); }, 10s)) << "no tray icon";
    // The tray may still be moving to its place as the icon is clicked: a click the icon moved
    // away from is made again where it went.
    const auto readLog = [&] {
        kolvex.waitForReadyRead(0);
        log += kolvex.readAllStandardError().toStdString();
    };
    readLog();
    const size_t beforeMenu = log.size();
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
                shown = log.find("Tray menu shown", beforeMenu) != std::string::npos;
                return shown || ((icon = trayIcon(environment)) && icon != clicked);
            },
            10s);
        if (icon == clicked) break;
    }
    ASSERT_TRUE(shown) << "the tray menu did not open\n" << log;
    for (int i = 0; i < 3; ++i) press("Down");  // Convert Files…, Recent, Settings…
    press("Return");
    ASSERT_TRUE(testing::waitFor([&] { return input.focusedWindowTitle() == "Kolvex Settings"; }, 10s))
        << "the settings window does not have the keyboard: \"" << input.focusedWindowTitle() << "\"\n" << log;
    press("Tab", "Control_L");
    press("Tab", "Control_L");
    // The page's one control is its theme box; the focus may be on the tabs or on it.
    bool chosen = false;
    for (int tries = 0; tries < 3 && !chosen; ++tries) {
        press("Down");  // System → Light
        chosen = testing::waitForLog(kolvex, log, R"("appearance":"light")", 2s);
        if (!chosen) press("Tab");
    }
    ASSERT_TRUE(chosen) << "Light was not chosen\n" << log;

    // The Portal again, for the same file handed to the running copy.
    const size_t before = log.size();
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(KOLVEX_PROGRAM, {QString::fromStdString(file.string())});
    ASSERT_TRUE(second.waitForFinished(20000));
    ASSERT_TRUE(testing::waitForLogAfter(kolvex, log, before, "RING n=", 20s)) << log;
    ASSERT_TRUE(testing::waitFor([&] { return (frame = testing::viewableWindow(environment, "Kolvex Portal")).has_value(); }, 10s));
    const auto light = settledLightness(input, *frame);
    ASSERT_TRUE(light) << "the Portal was never drawn still\n" << log;
    EXPECT_GT(*light, 170) << "the Portal stayed dark after Light was chosen\n" << log;
    for (QProcess* process : {&kolvex, &tray, &bus}) {
        process->terminate();
        process->waitForFinished(10000);
    }
}

}  // namespace
}  // namespace kolvex
