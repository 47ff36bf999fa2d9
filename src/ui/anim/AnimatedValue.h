// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>

#include "ui/anim/Animation.h"
#include "ui/anim/AnimationClock.h"
#include "ui/anim/CubicBezier.h"
#include "ui/anim/Spring.h"

namespace kolvex {

// One shown number that moves to each new target with the Animation it was given: a spring
// that keeps its velocity when retargeted, a timing curve from wherever it is now, or a jump.
// Reads the time from its clock; GUI thread.
class AnimatedValue {
public:
    explicit AnimatedValue(double value = 0, std::shared_ptr<AnimationClock> clock = AnimationClock::steady());

    // Moves toward `target`; a target equal to the current one with a motion already under
    // way keeps that motion.
    void animateTo(double target, const Animation& animation);
    // Jumps (no motion).
    void set(double value);

    // The value now.
    double value() const;
    double target() const { return m_target; }
    // Still moving (a forever-repeating motion always is).
    bool isAnimating() const;

private:
    void sample() const;

    std::shared_ptr<AnimationClock> m_clock;
    Animation m_animation;
    double m_target = 0;
    double m_from = 0;
    double m_start = 0;  // when the motion starts (after its delay)
    mutable std::optional<Spring> m_spring;
    mutable double m_springTime = 0;
    mutable double m_value = 0;
};

}  // namespace kolvex
