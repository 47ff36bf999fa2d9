// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/anim/AnimatedValue.h"

#include <cmath>

namespace kolvex {

std::shared_ptr<AnimationClock> AnimationClock::steady() {
    class Steady final : public AnimationClock {
    public:
        double now() const override {
            return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        }
    };
    static const std::shared_ptr<AnimationClock> clock = std::make_shared<Steady>();
    return clock;
}

AnimatedValue::AnimatedValue(double value, std::shared_ptr<AnimationClock> clock)
    : m_clock(std::move(clock)), m_target(value), m_from(value), m_value(value) {}

void AnimatedValue::set(double value) {
    m_animation = Animation::none();
    m_spring.reset();
    m_target = m_from = m_value = value;
}

void AnimatedValue::animateTo(double target, const Animation& animation) {
    if (target == m_target && isAnimating()) return;
    const double current = value();
    const double now = m_clock->now();
    if (animation.kind == Animation::Kind::none) {
        set(target);
        return;
    }
    if (animation.kind == Animation::Kind::spring) {
        if (!m_spring) {
            m_spring.emplace(animation.response, animation.dampingFraction, current);
        } else {
            m_spring->setParameters(animation.response, animation.dampingFraction);
        }
        m_springTime = now + animation.delay;
        m_spring->setTarget(target);
    } else {
        m_spring.reset();
    }
    m_animation = animation;
    m_from = current;
    m_target = target;
    m_start = now + animation.delay;
    m_value = current;
}

void AnimatedValue::sample() const {
    const double now = m_clock->now();
    switch (m_animation.kind) {
    case Animation::Kind::none:
        m_value = m_target;
        return;
    case Animation::Kind::spring:
        if (now > m_springTime) {
            m_spring->step(now - m_springTime);
            m_springTime = now;
        }
        m_value = m_spring->isSettled() ? m_target : m_spring->position();
        return;
    case Animation::Kind::timingCurve: {
        if (now <= m_start) {
            m_value = m_from;
            return;
        }
        const double duration = m_animation.duration;
        double t = duration > 0 ? (now - m_start) / duration : 1;
        if (m_animation.repeatsForever) {
            t -= std::floor(t);
        } else if (t >= 1) {
            m_value = m_target;
            return;
        }
        const CubicBezier curve(m_animation.x1, m_animation.y1, m_animation.x2, m_animation.y2);
        m_value = m_from + (m_target - m_from) * curve.value(t);
        return;
    }
    }
}

double AnimatedValue::value() const {
    sample();
    return m_value;
}

bool AnimatedValue::isAnimating() const {
    switch (m_animation.kind) {
    case Animation::Kind::none: return false;
    case Animation::Kind::spring:
        sample();
        return !m_spring->isSettled();
    case Animation::Kind::timingCurve:
        return m_animation.repeatsForever || m_clock->now() < m_start + m_animation.duration;
    }
    return false;
}

}  // namespace kolvex
