// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "interaction/Geometry.h"

namespace kolvex {

// Tuning constants of the ring. Lengths in points, angles in radians.
struct RingMetrics {
    double baseRadius = 118;           // smallest ring radius
    double deadZone = 54;              // pointer distance below which nothing is selected
    double tangentialTolerance = 7;    // sideways pointer travel the hysteresis tolerates
    double hysteresisFloor = 0.035;    // least hysteresis angle
    double sectorCapFraction = 0.3;    // greatest hysteresis as a fraction of one sector
    double chipGap = 12;               // least gap between neighbouring chips along the chord

    static const RingMetrics defaultMetrics;
    bool operator==(const RingMetrics&) const = default;
};

// One ring of up to eight chips around the Portal's centre. Chip 0 is straight up; the
// others follow clockwise (y upwards). The radius grows just enough to keep neighbouring
// chips `chipGap` apart and never falls below `baseRadius`.
struct RingLayout {
    int count = 0;
    double radius = RingMetrics{}.baseRadius;
    RingMetrics metrics;
    std::vector<double> chipWidths;

    RingLayout(const std::vector<std::string>& labels, const RingMetrics& metrics = RingMetrics{});
    // A placeholder layout of `count` chips labelled "XXXX".
    RingLayout(int count, const RingMetrics& metrics = RingMetrics{});

    // Characters (grapheme clusters) × 6.6 + 22 + 8.
    static double estimatedChipWidth(const std::string& label);
    static double fittingRadius(const std::vector<double>& widths, const RingMetrics& metrics);
    // a − b reduced to (−π, π].
    static double angularDelta(double a, double b);

    double deadZone() const { return metrics.deadZone; }
    // 2π / count; 0 for an empty ring.
    double sectorAngle() const;
    // π/2 − i·2π/count; 0 for an empty ring.
    double angle(int index) const;
    // The chip's centre relative to the ring's centre, y upwards.
    Point offset(int index) const;
    // True when chip `index` and its clockwise neighbour are closer than their mean width.
    bool overlaps(int index) const;
    // The angle the pointer must travel past a boundary before the selection changes.
    double hysteresis(double distance) const;

    bool operator==(const RingLayout&) const = default;
};

}  // namespace kolvex
