// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>

#include "ui/anim/AnimatedValue.h"
#include "ui/anim/CubicBezier.h"
#include "ui/anim/Spring.h"

namespace kolvex {
namespace {

TEST(CubicBezier, EndsAndShapes) {
    const CubicBezier linear(0, 0, 1, 1);
    const CubicBezier easeOut(0, 0, 0.58, 1);
    const CubicBezier collapse(0.4, 0.0, 0.9, 0.4);
    for (double t : {0.0, 0.1, 0.25, 0.5, 0.9, 1.0}) EXPECT_NEAR(linear.value(t), t, 1e-6) << t;
    for (const auto* c : {&easeOut, &collapse}) {
        EXPECT_EQ(c->value(0), 0);
        EXPECT_EQ(c->value(1), 1);
        EXPECT_EQ(c->value(-1), 0);
        EXPECT_EQ(c->value(2), 1);
        EXPECT_EQ(c->value(std::nan("")), 0);
        double previous = 0;
        for (int i = 1; i <= 100; ++i) {
            const double v = c->value(i / 100.0);
            EXPECT_GE(v, previous - 1e-9);
            previous = v;
        }
    }
    EXPECT_GT(easeOut.value(0.5), 0.5);    // fast start, slow end
    EXPECT_LT(collapse.value(0.5), 0.25);  // slow start: the Portal gathers itself, then goes
}

TEST(Spring, SettlesOnItsTargetAndOvershootsOnlyWhenUnderdamped) {
    for (double damping : {0.5, 0.78, 1.0}) {
        Spring spring(0.26, damping, 0);
        spring.setTarget(1);
        double peak = 0;
        for (int i = 0; i < 240; ++i) {
            spring.step(1.0 / 120);
            peak = std::max(peak, spring.position());
        }
        EXPECT_TRUE(spring.isSettled()) << damping;
        EXPECT_NEAR(spring.position(), 1, 1e-3);
        if (damping < 1) {
            EXPECT_GT(peak, 1.0) << damping;
        } else {
            EXPECT_LE(peak, 1.0 + 1e-6);
        }
    }
}

TEST(Spring, RetargetKeepsVelocityAndSplitStepsAgree) {
    Spring a(0.3, 0.7, 0);
    a.setTarget(100);
    a.step(0.05);
    const double position = a.position();
    const double velocity = a.velocity();
    ASSERT_GT(velocity, 0);
    a.setTarget(-100);
    EXPECT_EQ(a.position(), position);
    EXPECT_EQ(a.velocity(), velocity);

    Spring whole(0.3, 0.7, 0), split(0.3, 0.7, 0);
    whole.setTarget(1);
    split.setTarget(1);
    whole.step(0.1);
    for (int i = 0; i < 10; ++i) split.step(0.01);
    EXPECT_NEAR(whole.position(), split.position(), 1e-9);
}

class AnimatedValueTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualAnimationClock> clock = std::make_shared<ManualAnimationClock>();
};

TEST_F(AnimatedValueTest, TimingCurveRunsItsDurationAfterItsDelay) {
    AnimatedValue v(0, clock);
    v.animateTo(10, Animation::linear(1).delayed(0.5));
    EXPECT_EQ(v.value(), 0);
    clock->advance(0.5);
    EXPECT_EQ(v.value(), 0);
    clock->advance(0.25);
    EXPECT_NEAR(v.value(), 2.5, 1e-6);
    EXPECT_TRUE(v.isAnimating());
    clock->advance(1);
    EXPECT_EQ(v.value(), 10);
    EXPECT_FALSE(v.isAnimating());
}

TEST_F(AnimatedValueTest, RetargetStartsFromWhereTheValueIs) {
    AnimatedValue v(0, clock);
    v.animateTo(10, Animation::linear(1));
    clock->advance(0.5);
    v.animateTo(0, Animation::linear(1));
    EXPECT_NEAR(v.value(), 5, 1e-6);
    clock->advance(0.5);
    EXPECT_NEAR(v.value(), 2.5, 1e-6);
}

TEST_F(AnimatedValueTest, SpringRetargetDoesNotJump) {
    AnimatedValue v(0, clock);
    v.animateTo(1, Animation::spring(0.26, 0.78));
    clock->advance(0.05);
    const double mid = v.value();
    EXPECT_GT(mid, 0);
    EXPECT_LT(mid, 1);
    v.animateTo(0, Animation::spring(0.26, 0.78));
    EXPECT_EQ(v.value(), mid);
    clock->advance(0.005);
    EXPECT_GT(v.value(), mid);  // still carried on by its velocity
    clock->advance(3);
    EXPECT_EQ(v.value(), 0);
    EXPECT_FALSE(v.isAnimating());
}

TEST_F(AnimatedValueTest, RepeatingSwirlWrapsAndNoneJumps) {
    AnimatedValue swirl(0, clock);
    swirl.animateTo(360, Animation::linear(9).repeatingForever());
    clock->advance(4.5);
    EXPECT_NEAR(swirl.value(), 180, 1e-6);
    clock->advance(9);
    EXPECT_NEAR(swirl.value(), 180, 1e-6);
    EXPECT_TRUE(swirl.isAnimating());
    swirl.animateTo(0, Animation::none());
    EXPECT_EQ(swirl.value(), 0);
    EXPECT_FALSE(swirl.isAnimating());
}

}  // namespace
}  // namespace kolvex
