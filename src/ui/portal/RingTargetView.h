// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPainter>
#include <QSizeF>

#include "core/format/RingTarget.h"

namespace kolvex {

// One chip of the ring: a capsule with the target's label, plain or selected. `selected` runs
// from 0 (plain) to 1 (selected) while the look changes, and may overshoot a little with the
// hover spring. No state of its own. GUI thread.
struct RingTargetView {
    // The chip's size before its scale, for a look between plain and selected.
    static QSizeF size(const RingTarget& target, double selected);
    // The scale around the chip's centre: 1 plain, 1.14 selected.
    static double scale(double selected) { return 1.0 + 0.14 * selected; }
    // Paints the chip centred on `centre`.
    static void paint(QPainter& painter, QPointF centre, const RingTarget& target, double selected);
};

}  // namespace kolvex
