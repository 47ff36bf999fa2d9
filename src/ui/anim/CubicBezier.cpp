// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/anim/CubicBezier.h"

#include <algorithm>
#include <cmath>

namespace kolvex {

CubicBezier::CubicBezier(double x1, double y1, double x2, double y2) {
    // Polynomial form of B(s) = 3(1−s)²s·p1 + 3(1−s)s²·p2 + s³.
    m_cx = 3 * x1;
    m_bx = 3 * (x2 - x1) - m_cx;
    m_ax = 1 - m_cx - m_bx;
    m_cy = 3 * y1;
    m_by = 3 * (y2 - y1) - m_cy;
    m_ay = 1 - m_cy - m_by;
}

double CubicBezier::sampleX(double s) const { return ((m_ax * s + m_bx) * s + m_cx) * s; }
double CubicBezier::sampleY(double s) const { return ((m_ay * s + m_by) * s + m_cy) * s; }
double CubicBezier::slopeX(double s) const { return (3 * m_ax * s + 2 * m_bx) * s + m_cx; }

double CubicBezier::solveS(double x) const {
    // Newton's method first (fast where the slope is healthy), bisection when it is not.
    double s = x;
    for (int i = 0; i < 8; ++i) {
        const double error = sampleX(s) - x;
        if (std::abs(error) < 1e-7) return s;
        const double slope = slopeX(s);
        if (std::abs(slope) < 1e-6) break;
        s -= error / slope;
    }
    double lo = 0, hi = 1;
    s = x;
    for (int i = 0; i < 60; ++i) {
        const double value = sampleX(s);
        if (std::abs(value - x) < 1e-7) break;
        if (value < x) lo = s; else hi = s;
        s = (lo + hi) / 2;
    }
    return s;
}

double CubicBezier::value(double t) const {
    if (!(t > 0)) return 0;  // also NaN
    if (t >= 1) return 1;
    return sampleY(solveS(t));
}

}  // namespace kolvex
