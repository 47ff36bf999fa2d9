// SPDX-License-Identifier: GPL-3.0-or-later
// The welcome window and the settings of the real program on a desktop of its own with a window
// manager: the guide's button in view as it opens, Return pressing it, and the debug-log switch.
#include <chrono>
#include <map>
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

struct Screen {
    int width;
    int height;
    const char* scale;  // QT_SCALE_FACTOR
};

std::string screenName(const Screen& screen) {
    std::string scale = screen.scale;
    for (char& c : scale)
        if (c == '.') c = '_';
    return std::to_string(screen.width) + "x" + std::to_string(screen.height) + "at" + scale;
}

// The share of the strip's pixels that have its commonest colour.
double uniformity(const std::vector<unsigned>& pixels) {
    std::map<unsigned, int> counts;
    int most = 0;
    for (unsigned p : pixels) most = std::max(most, ++counts[p]);
    return pixels.empty() ? 0 : static_cast<double>(most) / static_cast<double>(pixels.size());
}

// The program's first run on a screen of its own under openbox, where it shows its guide.
struct FirstRun {
    std::unique_ptr<testing::Xvfb> xvfb;
    testing::TempDir home;
    std::unique_ptr<testing::WindowManager> manager;
    QProcessEnvironment environment;
    QProcess kolvex;
    std::string log;

    // Empty once the program is running; otherwise why the test cannot run here.
    std::string start(const Screen& screen) {
        if (QStandardPaths::findExecutable("xwininfo").isEmpty()) return "xwininfo is not installed";
        std::string whyNot;
        xvfb = testing::Xvfb::start(whyNot, screen.width, screen.height);
        if (!xvfb) return whyNot;
        manager = testing::WindowManager::start(xvfb->display(), home.path(), whyNot);
        if (!manager) return whyNot;
        environment = testing::kolvexEnvironment(*xvfb, home);
        environment.insert("QT_SCALE_FACTOR", screen.scale);
        kolvex.setProcessEnvironment(environment);
        kolvex.start(KOLVEX_PROGRAM, {});
        return {};
    }
    ~FirstRun() {
        kolvex.terminate();
        kolvex.waitForFinished(15000);
    }

    // The guide's frame once the window manager placed and mapped it (laid out before it is
    // shown) and, when the test reads its pixels, once it is `painted`; none when it never is.
    std::optional<testing::WindowFrame> welcome(std::chrono::milliseconds timeout, bool painted) {
        std::optional<testing::WindowFrame> frame;
        testing::waitFor([&] { return (frame = testing::viewableWindow(environment, "Welcome to Kolvex")).has_value(); },
                         timeout);
        if (painted && !testing::waitForLog(kolvex, log, "Window shown: Welcome to Kolvex", timeout)) {
            log += std::string("[test] the guide was never painted; it is ") + (frame ? "" : "not ") + "viewable\n";
            return std::nullopt;
        }
        return frame;
    }
    bool welcomeGone() {
        return testing::waitFor([&] { return !testing::windowIsViewable(environment, "Welcome to Kolvex"); }, 5s);
    }
};

class TheWelcomeWindow : public ::testing::TestWithParam<Screen> {};

// On an ordinary screen the guide opens whole: no scroll bar beside it, its foot on the screen,
// and Return presses "Start using Kolvex", which closes it.
TEST_P(TheWelcomeWindow, OpensWholeWithItsButtonInView) {
    const Screen screen = GetParam();
    FirstRun run;
    if (const auto whyNot = run.start(screen); !whyNot.empty()) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(run.kolvex.waitForStarted(10000));
    const auto frame = run.welcome(20s, /*painted=*/true);
    ASSERT_TRUE(frame) << "the first run shows the guide\n" << run.log;
    EXPECT_LE(frame->y + frame->height, screen.height) << "the window's foot is off the screen";
    EXPECT_GT(frame->height, 500) << "opened " << frame->width << "\u00d7" << frame->height;

    // The guide is narrower than the window by a scroll bar's width: that strip shows nothing
    // but the window's background unless a bar is there.
    FakeInput input(run.xvfb->display());
    ASSERT_TRUE(input.ok());
    const auto strip = input.pixels(frame->x + frame->width - 10, frame->y, 8, frame->height);
    EXPECT_GT(uniformity(strip), 0.98) << "a scroll bar: the guide does not fit its window of " << frame->width << "\u00d7"
                                       << frame->height;

    std::string focused;
    ASSERT_TRUE(testing::waitFor([&] { return (focused = input.focusedWindowTitle()) == "Welcome to Kolvex"; }, 10s))
        << "the guide never took the keyboard; \"" << focused << "\" has it";
    input.key("Return", true);
    input.key("Return", false);
    EXPECT_TRUE(run.welcomeGone()) << "Return did not press \u201cStart using Kolvex\u201d";
    run.kolvex.terminate();
    EXPECT_TRUE(run.kolvex.waitForFinished(15000));
}

INSTANTIATE_TEST_SUITE_P(Screens, TheWelcomeWindow,
                         ::testing::Values(Screen{1280, 800, "1"}, Screen{1920, 1080, "1"}),
                         [](const auto& info) { return screenName(info.param); });

// On every screen size and display scale of the table the window stands wholly on the screen and
// its "Start using Kolvex" button is whole in its foot, below the part that scrolls: a click
// where the button sits, at the window's bottom right, closes the guide.
class TheWelcomeWindowOnEveryScreen : public ::testing::TestWithParam<Screen> {};

TEST_P(TheWelcomeWindowOnEveryScreen, KeepsItsButtonInView) {
    const Screen screen = GetParam();
    FirstRun run;
    if (const auto whyNot = run.start(screen); !whyNot.empty()) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(run.kolvex.waitForStarted(10000));
    const auto frame = run.welcome(40s, /*painted=*/false);
    ASSERT_TRUE(frame) << run.log;
    EXPECT_GE(frame->y, 0);
    EXPECT_LE(frame->y + frame->height, screen.height) << "the window's foot is off the screen";
    // The button's middle: 28 points in from the right and the foot, above the login box (a
    // line and 22 points of space), half a button high.
    const double s = std::stod(screen.scale);
    FakeInput input(run.xvfb->display());
    ASSERT_TRUE(input.ok());
    input.moveTo(frame->x + frame->width - static_cast<int>(70 * s),
                 frame->y + frame->height - static_cast<int>((28 + 20 + 22 + 14) * s));
    input.button(1, true);
    input.button(1, false);
    input.sync();
    EXPECT_TRUE(run.welcomeGone()) << "no \u201cStart using Kolvex\u201d where the window's foot shows it, in a window of "
                                   << frame->width << "\u00d7" << frame->height;
    run.kolvex.terminate();
    EXPECT_TRUE(run.kolvex.waitForFinished(15000));
}

INSTANTIATE_TEST_SUITE_P(Screens, TheWelcomeWindowOnEveryScreen,
                         ::testing::Values(Screen{1366, 768, "1.25"}, Screen{1280, 800, "1.5"}, Screen{1280, 800, "2"},
                                           Screen{1366, 768, "1.5"}, Screen{1366, 768, "2"}, Screen{1920, 1080, "2"},
                                           Screen{1280, 800, "1"}),
                         [](const auto& info) { return screenName(info.param); });

// On a short screen the guide scrolls; scrolled down and clicked, Return still presses its
// button.
TEST(TheWelcomeWindowScrolled, StillPressesItsButtonOnReturn) {
    FirstRun run;
    if (const auto whyNot = run.start(Screen{1280, 800, "1.75"}); !whyNot.empty()) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(run.kolvex.waitForStarted(10000));
    const auto frame = run.welcome(20s, /*painted=*/true);
    ASSERT_TRUE(frame) << run.log;
    FakeInput input(run.xvfb->display());
    ASSERT_TRUE(input.ok());
    const auto strip = input.pixels(frame->x + frame->width - 10, frame->y, 8, frame->height);
    ASSERT_LT(uniformity(strip), 0.98) << "the guide fits: nothing to scroll on this screen";

    // A click on the guide's text, then the wheel down to its foot. The server hands the click
    // and the wheel to the guide in the order they are made, and the keys go where the window
    // manager put the keyboard.
    input.moveTo(frame->x + frame->width / 2, frame->y + frame->height / 3);
    input.button(1, true);
    input.button(1, false);
    for (int i = 0; i < 10; ++i) {
        input.button(5, true);
        input.button(5, false);
    }
    input.sync();
    std::string focused;
    ASSERT_TRUE(testing::waitFor([&] { return (focused = input.focusedWindowTitle()) == "Welcome to Kolvex"; }, 10s))
        << "the click left the keyboard with \"" << focused << "\"";
    input.key("Return", true);
    input.key("Return", false);
    EXPECT_TRUE(run.welcomeGone()) << "Return did not press \u201cStart using Kolvex\u201d after scrolling";
    run.kolvex.terminate();
    EXPECT_TRUE(run.kolvex.waitForFinished(15000));
}

// The stored preferences with "Write debug logs" set as given, the welcome seen long ago.
void writeSettings(const testing::TempDir& home, bool debugLogging) {
    home.write("config/kolvex/defaults.json",
               std::string(R"({"KolvexDidShowWelcome": {"type": "bool", "value": true},)") +
                   R"( "KolvexPreferences": {"type": "data", "json": {"outputLocation": "sameAsSource",)" +
                   R"( "conflictBehaviour": "rename", "preserveMetadata": true, "showNotifications": true,)" +
                   R"( "imageQuality": 0.85, "videoQuality": 0.7, "audioBitrate": 192000, "parallelLimit": 0,)" +
                   R"( "appearance": "system", "triggerModifier": "shift", "debugLogging": )" +
                   (debugLogging ? "true" : "false") + "}}}");
}

// "Write debug logs" decides whether debug lines are written: on, the program's settings are
// among them; off, there are none.
TEST(KolvexOnADesktop, WritesDebugLinesOnlyWhenAskedTo) {
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot);
    if (!xvfb) GTEST_SKIP() << whyNot;
    for (const bool debug : {true, false}) {
        SCOPED_TRACE(debug ? "debug logs on" : "debug logs off");
        testing::TempDir home;
        writeSettings(home, debug);
        QProcess kolvex;
        testing::startKolvex(kolvex, *xvfb, home, {});
        ASSERT_TRUE(kolvex.waitForStarted(10000));
        std::string log;
        ASSERT_TRUE(testing::waitForLog(kolvex, log, "applicationDidFinishLaunching took", 20s)) << log;
        kolvex.terminate();
        EXPECT_TRUE(kolvex.waitForFinished(15000));
        log += kolvex.readAllStandardError().toStdString();
        if (debug) {
            EXPECT_NE(log.find("[app] debug: Settings {"), std::string::npos) << log;
            EXPECT_NE(log.find("\"debugLogging\":true"), std::string::npos) << log;
        } else {
            EXPECT_EQ(log.find("] debug: "), std::string::npos) << log;
        }
    }
}

}  // namespace
}  // namespace kolvex
