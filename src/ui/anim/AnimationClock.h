// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <memory>

namespace kolvex {

// Where animations read the time, in seconds on a steady clock. Tests move a manual clock
// instead of waiting.
class AnimationClock {
public:
    virtual ~AnimationClock() = default;
    virtual double now() const = 0;

    // The process's steady clock, shared.
    static std::shared_ptr<AnimationClock> steady();
};

// A clock that moves only when told. For tests.
class ManualAnimationClock final : public AnimationClock {
public:
    double now() const override { return m_now; }
    void advance(double seconds) { m_now += seconds; }
    void set(double seconds) { m_now = seconds; }

private:
    double m_now = 0;
};

}  // namespace kolvex
