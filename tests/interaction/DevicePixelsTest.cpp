// SPDX-License-Identifier: GPL-3.0-or-later
// A window pushed against an edge of a scaled screen keeps its real pixels on the screen, for
// every scale Qt can be given in steps of a twentieth (and the thirds between), every screen
// width and height from 600 to 2600 pixels, screens whose corner is not at 0, and a window
// asked for anywhere from well inside to well past either edge.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "interaction/DevicePixels.h"

namespace kolvex {
namespace {

std::vector<double> everyScale() {
    std::vector<double> scales;
    for (int twentieths = 20; twentieths <= 60; ++twentieths) scales.push_back(twentieths / 20.0);
    for (double third : {4.0 / 3, 5.0 / 3, 7.0 / 3}) scales.push_back(third);
    return scales;
}

TEST(DevicePixels, AWindowPushedAgainstAnEdgeEndsAtItInRealPixels) {
    constexpr int kPortal = 480;
    long rows = 0, failures = 0;
    for (const double scale : everyScale()) {
        for (const int origin : {0, 1280, 1366, 1921}) {
            for (int extent = 600; extent <= 2600; ++extent) {
                // The screen's logical length as Qt reports it; the window is asked for at every
                // position a clamp by it gives (its far edge, its near edge), and a little
                // beyond each.
                const int logicalExtent = static_cast<int>(std::floor(extent / scale + 0.5));
                const int span = DevicePixels::length(kPortal, scale);
                if (span > extent) continue;
                for (const int asked : {origin - 3, origin, origin + 1, origin + logicalExtent - kPortal - 1,
                                        origin + logicalExtent - kPortal, origin + logicalExtent - kPortal + 2}) {
                    ++rows;
                    const int at = DevicePixels::fit(asked, kPortal, origin, scale, origin, origin + extent);
                    const int start = DevicePixels::position(at, origin, scale);
                    const bool inside = start >= origin && start + span <= origin + extent;
                    // As near the edge as whole logical pixels allow: one more toward the edge
                    // it was pushed against would cross it.
                    const bool nearest =
                        at == asked ||
                        (at < asked ? DevicePixels::position(at + 1, origin, scale) + span > origin + extent
                                    : DevicePixels::position(at - 1, origin, scale) < origin);
                    if (!inside || !nearest) {
                        if (++failures <= 10)
                            ADD_FAILURE() << "scale " << scale << ", screen at " << origin << " of " << extent
                                          << " px: asked for " << asked << ", placed at " << at << ", real pixels "
                                          << start << "–" << start + span << (inside ? " (not the nearest)" : "");
                    }
                }
            }
        }
    }
    EXPECT_EQ(failures, 0) << "of " << rows << " rows";
    EXPECT_GT(rows, 400000);
}

TEST(DevicePixels, AWindowInsideOrTooLongStaysWhereItWasAsked) {
    EXPECT_EQ(DevicePixels::fit(300, 480, 0, 1.5, 0, 1366), 300);
    EXPECT_EQ(DevicePixels::fit(-50, 480, 0, 2, 0, 900), -50) << "longer than the screen";
    EXPECT_EQ(DevicePixels::fit(1300, 480, 1280, 1.25, 1280, 2560), 1300);
}

TEST(DevicePixels, ConvertsAsQtDoesFromTheScreensCorner) {
    EXPECT_EQ(DevicePixels::position(431, 0, 1.5), 647) << "646.5 rounds up";
    EXPECT_EQ(DevicePixels::position(1300, 1280, 1.5), 1310);
    EXPECT_EQ(DevicePixels::position(1279, 1280, 1.5), 1279) << "-1.5 rounds up to -1";
    EXPECT_EQ(DevicePixels::length(480, 1.75), 840);
}

}  // namespace
}  // namespace kolvex
