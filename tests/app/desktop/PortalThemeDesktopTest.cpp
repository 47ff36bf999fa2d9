// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal of the real program follows the Appearance setting: light under Light, dark under
// Dark, and under System on a desktop that states no preference its own dark look.
#include <algorithm>
#include <chrono>
#include <optional>
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
