// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/KeyframeIndex.h"

#include <gtest/gtest.h>


namespace kolvex {
namespace {

using Times = std::vector<double>;

TEST(KeyframeIndex, LooksUpNeighbours) {
    const KeyframeIndex two({0, 2});
    EXPECT_EQ(two.nearest(1.0), 0);  // a tie goes to the earlier keyframe
    EXPECT_EQ(KeyframeIndex({0, 1.9}).nearest(1.0), 1.9);
    EXPECT_EQ(KeyframeIndex({0, 1, 1, 1.5}).nearest(2), 1.5);
    EXPECT_EQ(two.nearest(-5), 0);
    EXPECT_EQ(two.nearest(50), 2);
    EXPECT_EQ(two.atOrBefore(-3), 0);
    EXPECT_EQ(two.atOrBefore(2), 2);
    EXPECT_EQ(two.atOrBefore(1.999), 0);
    EXPECT_EQ(two.atOrAfter(2.0001), std::nullopt);
    EXPECT_EQ(two.atOrAfter(2), 2);
    EXPECT_EQ(KeyframeIndex({0, 2, 7, 8}).largestGap(), 5);
    EXPECT_EQ(KeyframeIndex().largestGap(), 0);
    EXPECT_EQ(KeyframeIndex().times(), Times{0});

    const KeyframeIndex three({0, 1, 2});
    EXPECT_FALSE(three.isAllIntra(0));
    EXPECT_TRUE(three.isAllIntra(3));
    EXPECT_FALSE(three.isAllIntra(4));

    // A long video: every lookup agrees with a plain scan.
    Times times;
    for (int i = 0; i < 50'000; ++i) times.push_back(i * 2.0 + (i % 3) * 0.25);
    const KeyframeIndex many(times);
    for (double x : {-1.0, 0.0, 1.0, 1.125, 777.3, 5000.5, 99'999.0, 200'000.0}) {
        double best = many.times().front();
        for (double t : many.times())
            if (std::abs(x - t) < std::abs(x - best)) best = t;
        EXPECT_EQ(many.nearest(x), best) << x;
    }
}

TEST(TrimPlan, DecidesExactCopiesAndSnapping) {
    EXPECT_TRUE(TrimPlan::copyIsExact(0.02, KeyframeIndex({0, 10})));
    EXPECT_TRUE(TrimPlan::copyIsExact(3.0, KeyframeIndex({0, 2.99})));
    EXPECT_FALSE(TrimPlan::copyIsExact(3.0, KeyframeIndex({0, 2.9})));
    EXPECT_TRUE(TrimPlan::requiresReencode(3.0, KeyframeIndex({0, 2.9})));
    EXPECT_TRUE(TrimPlan::copyIsExact(3.0, KeyframeIndex()));
    EXPECT_FALSE(TrimPlan::requiresReencode(3.0, KeyframeIndex()));

    const KeyframeIndex four({0, 4});
    EXPECT_EQ(TrimPlan::magnetised(4.1, four, 0.01, 10), 4);
    EXPECT_EQ(TrimPlan::magnetised(4.1, four, 0.01, 5), 4.1);
    EXPECT_EQ(TrimPlan::magnetised(4.1, four, 0, 10), 4.1);
    EXPECT_EQ(TrimPlan::magnetised(4.1, KeyframeIndex(), 1, 10), 4.1);
    EXPECT_EQ(TrimPlan::copyWouldStart(5, KeyframeIndex({0, 4, 8})), 4);
    EXPECT_EQ(TrimPlan::copyWouldStart(5, KeyframeIndex()), 5);
}

}  // namespace
}  // namespace kolvex
