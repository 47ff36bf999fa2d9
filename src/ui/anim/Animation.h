// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

namespace kolvex {

// How a change of a shown value moves to its new value: a spring, a timing curve of fixed
// duration, or nothing (the value jumps). A plain value, copied freely; the views turn it
// into motion with AnimatedValue.
struct Animation {
    enum class Kind { none, spring, timingCurve };

    Kind kind = Kind::none;
    // Spring: the time one undamped oscillation would take, and the damping as a fraction
    // of critical damping (1 = no overshoot).
    double response = 0;
    double dampingFraction = 1;
    // Timing curve: its length and the two inner control points of a cubic Bézier from
    // (0, 0) to (1, 1).
    double duration = 0;
    double x1 = 0, y1 = 0, x2 = 1, y2 = 1;
    // Seconds before the motion starts.
    double delay = 0;
    // Starts over from the beginning each time it ends (never reverses).
    bool repeatsForever = false;

    static Animation none() { return {}; }
    static Animation spring(double response, double dampingFraction);
    static Animation timingCurve(double x1, double y1, double x2, double y2, double duration);
    static Animation easeOut(double duration) { return timingCurve(0, 0, 0.58, 1, duration); }
    static Animation easeInOut(double duration) { return timingCurve(0.42, 0, 0.58, 1, duration); }
    static Animation linear(double duration) { return timingCurve(0, 0, 1, 1, duration); }

    Animation delayed(double seconds) const;
    Animation repeatingForever() const;

    bool operator==(const Animation&) const = default;
};

inline Animation Animation::spring(double response, double dampingFraction) {
    Animation a;
    a.kind = Kind::spring;
    a.response = response;
    a.dampingFraction = dampingFraction;
    return a;
}

inline Animation Animation::timingCurve(double x1, double y1, double x2, double y2, double duration) {
    Animation a;
    a.kind = Kind::timingCurve;
    a.duration = duration;
    a.x1 = x1;
    a.y1 = y1;
    a.x2 = x2;
    a.y2 = y2;
    return a;
}

inline Animation Animation::delayed(double seconds) const {
    Animation a = *this;
    a.delay = seconds;
    return a;
}

inline Animation Animation::repeatingForever() const {
    Animation a = *this;
    a.repeatsForever = true;
    return a;
}

}  // namespace kolvex
