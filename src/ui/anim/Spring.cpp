// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/anim/Spring.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kolvex {

Spring::Spring(double response, double dampingFraction, double position)
    : m_position(position), m_target(position) {
    setParameters(response, dampingFraction);
}

void Spring::setParameters(double response, double dampingFraction) {
    const double r = response > 1e-4 ? response : 1e-4;
    const double omega = 2 * std::numbers::pi / r;
    m_stiffness = omega * omega;
    m_damping = 2 * std::max(dampingFraction, 0.0) * omega;
}

void Spring::reset(double position) {
    m_position = position;
    m_target = position;
    m_velocity = 0;
    m_pending = 0;
}

void Spring::integrate(double h) {
    // Semi-implicit Euler: stable for these stiffnesses at the fixed small step.
    const double acceleration = -m_stiffness * (m_position - m_target) - m_damping * m_velocity;
    m_velocity += acceleration * h;
    m_position += m_velocity * h;
}

void Spring::step(double dt) {
    if (!(dt > 0)) return;
    m_pending += dt;
    while (m_pending >= kStep - 1e-12) {  // sums of small steps fall a hair short
        integrate(kStep);
        m_pending = std::max(0.0, m_pending - kStep);
    }
}

bool Spring::isSettled() const {
    const double scale = std::max(1.0, std::abs(m_target));
    return std::abs(m_position - m_target) < 1e-3 * scale && std::abs(m_velocity) < 1e-2 * scale;
}

}  // namespace kolvex
