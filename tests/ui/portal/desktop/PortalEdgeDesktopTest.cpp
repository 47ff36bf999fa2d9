// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal pushed against each edge of a 1280 × 800 screen scaled by 1.25 and by 1.5 (which does
// not divide its pixels): its window, in the screen's real pixels, ends at the edge, not past it.
#include <gtest/gtest.h>

#include "DesktopHarness.h"
#include "PortalHostSteps.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
using testing::ChildProgram;
using testing::FakeInput;
using testing::WindowShape;
using testing::Xvfb;

constexpr int kWidth = 1280, kHeight = 800;

class PortalAgainstAnEdge : public ::testing::TestWithParam<double> {};

TEST_P(PortalAgainstAnEdge, StaysWithinTheScreensRealPixels) {
    testing::coreApplication("test-ui-portal-desktop");
    std::string whyNot;
    auto server = Xvfb::start(whyNot, kWidth, kHeight);
    if (!server) GTEST_SKIP() << whyNot;
    FakeInput input(server->display());
    ASSERT_TRUE(input.ok());
    kolvex::testing::TempDir temp;
    const auto file = temp.write("photo one.jpg", "not really a picture");
    const auto env = testing::desktopEnvironment(server->display(), temp.path());
    auto hostEnv = env;
    hostEnv["QT_SCALE_FACTOR"] = std::to_string(GetParam());
    ChildProgram host(KOLVEX_PORTAL_HOST, {"--chips", "4"}, hostEnv);
    ASSERT_TRUE(host.waitForLine("ready", 10s));
    ChildProgram source(KOLVEX_DRAG_SOURCE_GTK, {"100", "100", "200", "200", file.string()}, env);
    ASSERT_TRUE(source.waitForLine("ready", 10s));
    struct Spot {
        const char* name;
        int x, y;
    };
    for (const Spot& spot : {Spot{"right", kWidth - 2, 400}, Spot{"bottom", 640, kHeight - 2}, Spot{"left", 1, 400},
                             Spot{"top", 640, 1}, Spot{"corner", kWidth - 1, kHeight - 1}}) {
        SCOPED_TRACE(spot.name);
        ASSERT_TRUE(testing::beginDrag(input, source, 200, 200));
        ASSERT_TRUE(input.glideTo(spot.x, spot.y));
        ASSERT_TRUE(testing::revealUnderTheDrag(input, host));
        WindowShape shape;
        ASSERT_TRUE(testing::pumpUntil([&] { return (shape = input.windowAt(spot.x, spot.y, "portal-desktop-host")).found(); },
                                       testing::patience(2s)));
        EXPECT_GE(shape.x, 0);
        EXPECT_GE(shape.y, 0);
        EXPECT_LE(shape.x + shape.width, kWidth) << "the window reaches " << shape.x + shape.width;
        EXPECT_LE(shape.y + shape.height, kHeight) << "the window reaches " << shape.y + shape.height;
        input.key("Shift_L", false);
        ASSERT_TRUE(host.waitForLine("unrevealed", 5s)) << host.linesText();
        input.button(1, false);
        ASSERT_TRUE(source.waitForLine("drag-end", 5s));
        ASSERT_TRUE(host.waitForLine("gone", 10s)) << host.linesText();
    }
}

INSTANTIATE_TEST_SUITE_P(Scales, PortalAgainstAnEdge, ::testing::Values(1.25, 1.5),
                         [](const auto& info) { return "At" + std::to_string(static_cast<int>(info.param * 100)); });

}  // namespace
}  // namespace kolvex
