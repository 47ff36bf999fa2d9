// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kolvex {

// A damped spring pulling a value toward its target (unit mass). Described the way the
// interface's motion constants are: `response` is the period of the undamped oscillation in
// seconds, `dampingFraction` the damping as a fraction of critical (1 = no overshoot). A new
// target keeps the current position and velocity, so a retargeted motion never jumps.
class Spring {
public:
    Spring(double response, double dampingFraction, double position = 0);

    void setTarget(double target) { m_target = target; }
    void setParameters(double response, double dampingFraction);
    // Puts the value somewhere at rest.
    void reset(double position);

    // Advances by `dt` seconds in small fixed steps; the same total gives the same result
    // however it is split.
    void step(double dt);

    double position() const { return m_position; }
    double velocity() const { return m_velocity; }
    double target() const { return m_target; }
    // Close enough to rest on the target that a viewer sees no further motion.
    bool isSettled() const;

    static constexpr double kStep = 1.0 / 480;

private:
    void integrate(double h);

    double m_stiffness = 0;
    double m_damping = 0;
    double m_position = 0;
    double m_velocity = 0;
    double m_target = 0;
    double m_pending = 0;  // time not yet integrated (less than one step)
};

}  // namespace kolvex
