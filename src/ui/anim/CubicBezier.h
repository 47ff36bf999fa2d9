// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kolvex {

// A timing curve from (0, 0) to (1, 1) with two inner control points, as CSS and the
// platforms define it: for a fraction of the time elapsed it gives the fraction of the change done.
class CubicBezier {
public:
    CubicBezier(double x1, double y1, double x2, double y2);

    // `t` in 0…1 (clamped); the curve's y at the point whose x is `t`.
    double value(double t) const;

private:
    double sampleX(double s) const;
    double sampleY(double s) const;
    double slopeX(double s) const;
    double solveS(double x) const;

    double m_ax, m_bx, m_cx, m_ay, m_by, m_cy;
};

}  // namespace kolvex
