// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal pushed against each edge of each screen, at every quarter scale from 1 to 2 given
// either way Qt takes one (QT_SCALE_FACTOR, QT_SCREEN_SCALE_FACTORS), on screens whose pixels
// a scale does not divide (1366 × 768, odd sizes) and on a second head that does not start at
// x = 0: the window, as the X server has it, lies on the screen under the pointer and reaches
// its edge to within a logical pixel.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DesktopHarness.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
using testing::ChildProgram;
using testing::FakeInput;
using testing::WindowShape;

struct Screen {
    int x, width, height;
};

// Every quarter from 1 to 2.
std::vector<double> quarterScales() {
    std::vector<double> scales;
    for (int quarters = 4; quarters <= 8; ++quarters) scales.push_back(quarters / 4.0);
    return scales;
}

std::string number(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

// Opens the Portal host's Portal at each edge of each screen and judges its window by X.
class RealPixels {
public:
    RealPixels(std::string display, std::vector<Screen> screens, const std::filesystem::path& home)
        : m_display(std::move(display)), m_screens(std::move(screens)), m_home(home) {}

    // One run of the host with `variable` set to `value`; failures name the row.
    void check(const std::string& variable, const std::string& value) {
        SCOPED_TRACE(variable + "=" + value);
        const auto fifo = m_home / ("commands-" + std::to_string(++m_runs));
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        auto env = testing::desktopEnvironment(m_display, m_home);
        env[variable] = value;
        ChildProgram host(KOLVEX_PORTAL_HOST, {"--stall", fifo.string(), "--fade", "0"}, env);
        ASSERT_TRUE(host.waitForLine("ready", testing::patience(10s))) << "the Portal host did not come up";
        FakeInput input(m_display);
        ASSERT_TRUE(input.ok());
        for (const Screen& s : m_screens) {
            struct Spot {
                const char* edge;
                int x, y;
            };
            const int middleX = s.x + s.width / 2, middleY = s.height / 2;
            for (const Spot& spot : {Spot{"left", s.x, middleY}, Spot{"right", s.x + s.width - 1, middleY},
                                     Spot{"top", middleX, 0}, Spot{"bottom", middleX, s.height - 1},
                                     Spot{"corner", s.x + s.width - 1, s.height - 1}}) {
                SCOPED_TRACE(std::string(spot.edge) + " edge of the screen at x=" + std::to_string(s.x) + ", " +
                             std::to_string(s.width) + "x" + std::to_string(s.height));
                const auto before = host.printedCount();
                tell(fifo, "p " + std::to_string(spot.x) + " " + std::to_string(spot.y) + "\n");
                ASSERT_TRUE(host.waitUntilPrinted("painted", testing::patience(5s), before)) << host.linesText();
                // Looked for a little inside the edge: one whole logical pixel can leave the last
                // column of the screen uncovered.
                const int lookX = spot.x + (spot.x > middleX ? -40 : spot.x < middleX ? 40 : 0);
                const int lookY = spot.y + (spot.y > middleY ? -40 : spot.y < middleY ? 40 : 0);
                WindowShape shape;
                ASSERT_TRUE(testing::pumpUntil(
                    [&] { return (shape = input.windowAt(lookX, lookY, "portal-desktop-host")).found(); },
                    testing::patience(2s)))
                    << "no Portal window by the pointer; the host says: " << host.linesText();
                const std::string where = "the window is " + std::to_string(shape.width) + "x" +
                                          std::to_string(shape.height) + "+" + std::to_string(shape.x) + "+" +
                                          std::to_string(shape.y);
                // On each axis on which the window fits the screen: on it, and against the edge
                // pushed to within a logical pixel. On another it stays centred on the pointer.
                const double scale = shape.width / 480.0;
                const std::string edge = spot.edge;
                if (shape.width <= s.width) {
                    EXPECT_GE(shape.x, s.x) << where;
                    EXPECT_LE(shape.x + shape.width, s.x + s.width) << where;
                    const bool right = edge == "right" || edge == "corner";
                    EXPECT_TRUE(edge != "left" || shape.x - s.x < scale) << where;
                    EXPECT_TRUE(!right || s.x + s.width - (shape.x + shape.width) < scale) << where;
                }
                if (shape.height <= s.height) {
                    EXPECT_GE(shape.y, 0) << where;
                    EXPECT_LE(shape.y + shape.height, s.height) << where;
                    const bool bottom = edge == "bottom" || edge == "corner";
                    EXPECT_TRUE(edge != "top" || shape.y < scale) << where;
                    EXPECT_TRUE(!bottom || s.height - (shape.y + shape.height) < scale) << where;
                }
                const auto shown = host.printedCount();
                tell(fifo, "h");
                ASSERT_TRUE(host.waitUntilPrinted("gone", testing::patience(5s), shown)) << host.linesText();
            }
        }
    }

private:
    static void tell(const std::filesystem::path& fifo, const std::string& text) {
        const int out = ::open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(out, 0) << "the host does not read its command FIFO";
        ASSERT_EQ(::write(out, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ::close(out);
    }

    std::string m_display;
    std::vector<Screen> m_screens;
    std::filesystem::path m_home;
    int m_runs = 0;
};

// One screen under a window manager, of a size a scale divides and of sizes none does.
class PortalInRealPixels : public ::testing::TestWithParam<Screen> {};

TEST_P(PortalInRealPixels, StaysOnTheScreenAgainstEachEdgeAtEveryScale) {
    testing::coreApplication("test-ui-portal-heads-desktop");
    const Screen screen = GetParam();
    std::string whyNot;
    auto server = testing::Xvfb::start(whyNot, screen.width, screen.height);
    if (!server) GTEST_SKIP() << whyNot;
    kolvex::testing::TempDir home;
    auto manager = testing::WindowManager::start(server->display(), home.path(), whyNot);
    if (!manager) GTEST_SKIP() << whyNot;
    RealPixels pixels(server->display(), {screen}, home.path());
    for (const double scale : quarterScales()) {
        pixels.check("QT_SCALE_FACTOR", number(scale));
        if (HasFatalFailure()) return;
    }
    for (const double scale : {1.5, 1.75}) {
        pixels.check("QT_SCREEN_SCALE_FACTORS", number(scale));
        if (HasFatalFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Screens, PortalInRealPixels,
                         ::testing::Values(Screen{0, 1280, 800}, Screen{0, 1366, 768}, Screen{0, 1281, 801}),
                         [](const auto& info) {
                             return "Of" + std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

// Two heads side by side (RandR outputs of one X screen), the second starting at x = 1280 and
// 1366 pixels wide: the second head's corner is not the display's.
TEST(PortalInRealPixelsOnTwoHeads, StaysOnEachHeadAgainstEachEdgeAtEveryScale) {
    testing::coreApplication("test-ui-portal-heads-desktop");
    kolvex::testing::TempDir home;
    std::string whyNot;
    auto server = testing::XorgHeads::start({{1280, 800}, {1366, 768}}, home.path(), whyNot);
    if (!server) GTEST_SKIP() << whyNot;
    RealPixels pixels(server->display(), {Screen{0, 1280, 800}, Screen{1280, 1366, 768}}, home.path());
    for (const double scale : quarterScales()) {
        if (scale == 1) continue;
        pixels.check("QT_SCALE_FACTOR", number(scale));
        if (HasFatalFailure()) return;
    }
    for (const auto& [left, right] : std::vector<std::pair<double, double>>{{1, 1.5}, {1.5, 1.75}, {1.25, 1}}) {
        pixels.check("QT_SCREEN_SCALE_FACTORS",
                     server->outputs()[0] + "=" + number(left) + ";" + server->outputs()[1] + "=" + number(right));
        if (HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace kolvex
