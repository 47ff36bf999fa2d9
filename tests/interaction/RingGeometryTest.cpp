// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

#include "interaction/PortalPlacement.h"
#include "interaction/RingLayout.h"
#include "interaction/RingSelector.h"

namespace kolvex {
namespace {

constexpr double kPi = std::numbers::pi;

PortalPlacement::CursorVector at(double angle, double distance) {
    return {distance * std::cos(angle), distance * std::sin(angle)};
}

TEST(RingLayout, ChipWidthsCountUserPerceivedCharacters) {
    struct Row {
        const char* label;
        double width;
    };
    const Row rows[] = {
        {"", 30},
        {"XXXX", 56.4},
        {"PNG", 49.8},
        {"é", 36.6},             // one precomposed character
        {"e\u0301", 36.6},       // e + combining accent: one character
        {"🇩🇪", 36.6},            // a flag: two code points, one character
        {"👩‍👩‍👧", 36.6},  // a family joined by zero-width joiners
    };
    for (const Row& row : rows) EXPECT_NEAR(RingLayout::estimatedChipWidth(row.label), row.width, 1e-9) << row.label;
}

TEST(RingLayout, RadiusGrowsToKeepNeighboursApart) {
    const RingLayout empty(std::vector<std::string>{});
    EXPECT_EQ(empty.count, 0);
    EXPECT_EQ(empty.radius, 118);
    EXPECT_EQ(empty.sectorAngle(), 0);
    EXPECT_EQ(empty.angle(0), 0);

    EXPECT_EQ(RingLayout(std::vector<std::string>{"A very long label indeed"}).radius, 118) << "one chip has no neighbour";
    EXPECT_EQ(RingLayout(4).radius, 118) << "short labels keep the base radius";

    const RingLayout eight(std::vector<std::string>(8, "0123456789"));
    EXPECT_NEAR(eight.chipWidths[0], 96, 1e-9);
    EXPECT_NEAR(eight.radius, (12 + 96) / (2 * std::sin(kPi / 8)), 1e-9);
    EXPECT_NEAR(eight.radius, 141.1, 0.05);
    for (int i = 0; i < 8; ++i) EXPECT_FALSE(eight.overlaps(i)) << i;

    // Uneven widths: the widest neighbouring pair decides.
    RingMetrics metrics;
    metrics.chipGap = 0;
    const double r = RingLayout::fittingRadius({100, 400, 100}, metrics);
    EXPECT_NEAR(r, 250 / (2 * std::sin(kPi / 3)), 1e-9);
}

TEST(RingLayout, AnglesOffsetsAndOverlap) {
    const RingLayout four(4);
    const double expected[] = {kPi / 2, 0, -kPi / 2, -kPi};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(four.angle(i), expected[i], 1e-12) << i;
    EXPECT_NEAR(four.offset(0).x, 0, 1e-9);
    EXPECT_NEAR(four.offset(0).y, 118, 1e-9);  // straight up
    EXPECT_NEAR(four.offset(1).x, 118, 1e-9);  // then clockwise: right
    EXPECT_NEAR(four.sectorAngle(), kPi / 2, 1e-12);

    RingLayout squeezed(std::vector<std::string>(8, "0123456789"));
    squeezed.radius = 100;  // as if the tuning window shrank it
    EXPECT_TRUE(squeezed.overlaps(0));
    EXPECT_FALSE(RingLayout(1).overlaps(0));
    EXPECT_FALSE(squeezed.overlaps(8)) << "an index outside the ring overlaps nothing";
}

TEST(RingLayout, AngularDeltaReducesToHalfOpenInterval) {
    struct Row {
        double a, b, delta;
    };
    const Row rows[] = {
        {3 * kPi / 2, 0, -kPi / 2}, {kPi, 0, kPi},     {-kPi, 0, kPi},        {0, 0, 0},
        {5 * kPi, 0, kPi},          {0.1, -0.1, 0.2},  {-3 * kPi, 0, kPi},     {kPi / 4, 7 * kPi / 4, kPi / 2},
    };
    for (const Row& row : rows)
        EXPECT_NEAR(RingLayout::angularDelta(row.a, row.b), row.delta, 1e-9) << row.a << " - " << row.b;
}

TEST(RingLayout, HysteresisShrinksWithDistanceBetweenFloorAndCap) {
    const RingLayout four(4);
    EXPECT_NEAR(four.hysteresis(60), 7.0 / 60, 1e-12);
    EXPECT_NEAR(four.hysteresis(10), 7.0 / 54, 1e-12) << "inside the dead zone the dead zone counts";
    EXPECT_NEAR(four.hysteresis(1000), 0.035, 1e-12);
    EXPECT_EQ(RingLayout(1).hysteresis(60), 0);
    RingMetrics loose;
    loose.tangentialTolerance = 1000;
    EXPECT_NEAR(RingLayout(4, loose).hysteresis(60), kPi / 2 * 0.3, 1e-12);
}

TEST(RingSelector, DeadZoneHysteresisAndTies) {
    const RingLayout four(4);
    RingSelector selector;
    EXPECT_EQ(selector.update(at(kPi / 2, 53.9), four), std::nullopt);
    EXPECT_EQ(selector.update(at(kPi / 2, 60), four), 0);
    // Near the boundary to chip 1 but within the hysteresis: chip 0 stays.
    EXPECT_EQ(selector.update(at(kPi / 4 - 0.05, 60), four), 0);
    // Clearly past it: chip 1.
    EXPECT_EQ(selector.update(at(kPi / 4 - 0.1, 60), four), 1);
    // Exactly on the boundary keeps the current chip.
    EXPECT_EQ(selector.update(at(kPi / 4, 60), four), 1);
    // Back into the dead zone clears the choice even though a chip was selected.
    EXPECT_EQ(selector.update(at(0, 53.9), four), std::nullopt);
    EXPECT_EQ(selector.selected, std::nullopt);
    // With nothing selected, a tie goes to the lower index.
    EXPECT_EQ(selector.update(at(kPi / 4, 60), four), 0);
    // Straight left is chip 3 at −π, whatever the sign of the angle.
    selector.reset();
    EXPECT_EQ(selector.update({-80, 0}, four), 3);
    EXPECT_EQ(selector.update({-80, -1e-9}, four), 3);
}

TEST(RingSelector, EmptyOneAndShrunkRings) {
    RingSelector selector;
    const RingLayout empty(0);
    EXPECT_EQ(selector.update(at(1, 200), empty), std::nullopt);

    const RingLayout one(1);
    for (double angle : {0.0, 1.0, -2.0, kPi}) EXPECT_EQ(selector.update(at(angle, 54), one), 0) << angle;

    // A choice beyond a ring that shrank is replaced, never kept.
    selector.selected = 6;
    EXPECT_EQ(selector.update(at(0, 100), RingLayout(4)), 1);

    // A broken reading selects nothing.
    EXPECT_EQ(selector.update({std::nan(""), 100}, RingLayout(4)), std::nullopt);
}

TEST(PortalPlacement, CentresOnPointerAndClampsToScreen) {
    const Size window{480, 480};
    const Rect screen{{0, 0}, {1920, 1080}};
    struct Row {
        Point cursor;
        std::optional<Rect> screen;
        Point origin;
    };
    const Row rows[] = {
        {{960, 540}, screen, {720, 300}},
        {{960, 540}, std::nullopt, {720, 300}},
        {{10, 540}, screen, {0, 300}},        // left edge on the screen's edge
        {{1915, 1075}, screen, {1440, 600}},  // pushed in from the top right
        {{10, 10}, Rect{{0, 0}, {400, 1080}}, {-230, 0}},  // too narrow: stays centred horizontally
        {{2000, 100}, Rect{{1920, 0}, {1280, 1024}}, {1920, 0}},  // a second screen to the right
    };
    for (const Row& row : rows) {
        const Point origin = PortalPlacement::origin(row.cursor, window, row.screen);
        EXPECT_DOUBLE_EQ(origin.x, row.origin.x) << row.cursor.x << "," << row.cursor.y;
        EXPECT_DOUBLE_EQ(origin.y, row.origin.y) << row.cursor.x << "," << row.cursor.y;
    }
    const auto v = PortalPlacement::cursorVector({730, 560}, {480, 300}, window);
    EXPECT_DOUBLE_EQ(v.dx, 10);
    EXPECT_DOUBLE_EQ(v.dy, 20);
    EXPECT_NEAR(v.distance(), std::sqrt(500.0), 1e-12);
    EXPECT_NEAR(v.angle(), std::atan2(20, 10), 1e-12);
}

TEST(ScreenCoordinates, UpwardConversionIsItsOwnInverse) {
    const Point up = upwardFromTopDown(100, 0, 1080);
    EXPECT_EQ(up, (Point{100, 1080}));
    EXPECT_EQ(upwardFromTopDown(5, 1080, 1080), (Point{5, 0}));
    EXPECT_EQ(topDownFromUpward(up, 1080), (Point{100, 0}));
}

}  // namespace
}  // namespace kolvex
