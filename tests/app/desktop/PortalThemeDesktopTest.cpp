// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal of the real program follows the Appearance setting: light under Light, dark under
// Dark, and under System on a desktop that states no preference its own dark look; also when the
// setting is changed while the program runs, after the Portal was shown.
#include <algorithm>
#include <chrono>
#include <optional>
#include <regex>
#include <string>

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
    testing::pumpUntil([] { return false; }, 800ms);  // shown and settled
    const int cx = frame->x + frame->width / 2, cy = frame->y + frame->height / 2;

    FakeInput input(xvfb->display());
    ASSERT_TRUE(input.ok());
    // The aperture's disc beside the file's picture, and the backdrop between the disc and the
    // ring of chips.
    int lightness = 0, samples = 0;
    for (const auto& [dx, dy] : {std::pair{-50, 8}, std::pair{50, 8}, std::pair{-80, -80}, std::pair{80, -80}}) {
        const unsigned pixel = input.pixels(cx + dx, cy + dy, 1, 1).front();
        const int r = static_cast<int>(pixel >> 16 & 0xff), g = static_cast<int>(pixel >> 8 & 0xff),
                  b = static_cast<int>(pixel & 0xff);
        lightness += (std::max({r, g, b}) + std::min({r, g, b})) / 2;
        ++samples;
    }
    lightness /= samples;
    if (GetParam().light) {
        EXPECT_GT(lightness, 170) << GetParam().appearance << ": the Portal stayed dark\n" << log;
    } else {
        EXPECT_LT(lightness, 90) << GetParam().appearance << ": the Portal is not dark\n" << log;
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

// The middle of Kolvex's icon in the tray, by the window tree; none while it is not there.
std::optional<std::pair<int, int>> trayIcon(const QProcessEnvironment& environment) {
    const std::string tree = testing::outputOf("xwininfo", {"-root", "-tree"}, environment);
    static const std::regex icon(R"re("Kolvex": \("kolvex" "Kolvex"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))re");
    std::smatch match;
    if (!std::regex_search(tree, match, icon)) return std::nullopt;
    return std::make_pair(std::stoi(match[3]) + std::stoi(match[1]) / 2, std::stoi(match[4]) + std::stoi(match[2]) / 2);
}

// The lightness of the aperture's disc and the backdrop inside the ring, as the screen shows it.
int portalLightness(FakeInput& input, const testing::WindowFrame& frame) {
    const int cx = frame.x + frame.width / 2, cy = frame.y + frame.height / 2;
    int lightness = 0, samples = 0;
    for (const auto& [dx, dy] : {std::pair{-50, 8}, std::pair{50, 8}, std::pair{-80, -80}, std::pair{80, -80}}) {
        const unsigned pixel = input.pixels(cx + dx, cy + dy, 1, 1).front();
        const int r = static_cast<int>(pixel >> 16 & 0xff), g = static_cast<int>(pixel >> 8 & 0xff),
                  b = static_cast<int>(pixel & 0xff);
        lightness += (std::max({r, g, b}) + std::min({r, g, b})) / 2;
        ++samples;
    }
    return lightness / samples;
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
    tray.setProcessEnvironment(environment);
    tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120"});
    ASSERT_TRUE(tray.waitForStarted(10000));
    kolvex.setProcessEnvironment(environment);
    kolvex.start(KOLVEX_PROGRAM, {QString::fromStdString(file.string())});
    ASSERT_TRUE(kolvex.waitForStarted(10000));
    std::string log;
    ASSERT_TRUE(testing::waitForLog(kolvex, log, "RING n=", 20s)) << log;
    std::optional<testing::WindowFrame> frame;
    ASSERT_TRUE(testing::waitFor([&] { return (frame = testing::viewableWindow(environment, "Kolvex Portal")).has_value(); }, 10s));
    testing::pumpUntil([] { return false; }, 800ms);  // shown and settled
    FakeInput input(xvfb->display());
    ASSERT_TRUE(input.ok());
    const auto press = [&input](const std::string& key, const std::string& with = {}) {
        if (!with.empty()) input.key(with, true);
        input.key(key, true);
        input.key(key, false);
        if (!with.empty()) input.key(with, false);
        input.sync();
        testing::pumpUntil([] { return false; }, 150ms);
    };
    EXPECT_LT(portalLightness(input, *frame), 90) << "the Portal is not dark under System here";
    press("Escape");
    ASSERT_TRUE(testing::waitFor([&] { return !testing::windowIsViewable(environment, "Kolvex Portal"); }, 10s));

    // Settings… from the tray, the Appearance tab, Light.
    std::optional<std::pair<int, int>> icon;
    ASSERT_TRUE(testing::waitFor([&] { return (icon = trayIcon(environment)).has_value(); }, 10s)) << "no tray icon";
    input.moveTo(icon->first, icon->second);
    input.button(1, true);
    input.button(1, false);
    input.sync();
    ASSERT_TRUE(testing::waitFor([&] { return input.keyboardIsGrabbed(); }, 10s)) << "the tray menu did not open\n" << log;
    for (int i = 0; i < 3; ++i) press("Down");  // Convert Files…, Recent, Settings…
    press("Return");
    ASSERT_TRUE(testing::waitFor([&] { return testing::windowIsViewable(environment, "Kolvex Settings"); }, 10s)) << log;
    testing::pumpUntil([] { return false; }, 500ms);
    press("Tab", "Control_L");
    press("Tab", "Control_L");
    // The page's one control is its theme box; the focus may be on the tabs or on it.
    bool light = false;
    for (int tries = 0; tries < 3 && !light; ++tries) {
        press("Down");  // System → Light
        light = testing::waitForLog(kolvex, log, R"("appearance":"light")", 2s);
        if (!light) press("Tab");
    }
    ASSERT_TRUE(light) << "Light was not chosen\n" << log;

    // The Portal again, for the same file handed to the running copy.
    const size_t before = log.size();
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(KOLVEX_PROGRAM, {QString::fromStdString(file.string())});
    ASSERT_TRUE(second.waitForFinished(20000));
    ASSERT_TRUE(testing::waitFor(
        [&] {
            testing::waitForLog(kolvex, log, "\x01never", 100ms);
            return log.find("RING n=", before) != std::string::npos;
        },
        20s))
        << log;
    ASSERT_TRUE(testing::waitFor([&] { return (frame = testing::viewableWindow(environment, "Kolvex Portal")).has_value(); }, 10s));
    testing::pumpUntil([] { return false; }, 800ms);
    EXPECT_GT(portalLightness(input, *frame), 170) << "the Portal stayed dark after Light was chosen\n" << log;
    for (QProcess* process : {&kolvex, &tray, &bus}) {
        process->terminate();
        process->waitForFinished(10000);
    }
}

}  // namespace
}  // namespace kolvex
