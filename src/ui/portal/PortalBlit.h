// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QPointF>
#include <QRect>

class QPainter;

namespace kolvex {

// Image blends that stay on the calling thread. Qt's raster engine hands any blend of more than
// about 96 rows of spans to its thread pool and waits for it; under the Portal window's round
// mask every image blend is a span blend, and for the Portal's small images the hand-over costs
// far more than the blend. These draw in strips of a few dozen device rows, each its own small
// blend. GUI thread.
namespace PortalBlit {

// Device rows per strip: a strip's spans stay below what Qt splits over its pool.
inline constexpr int kRows = 56;

// Draws `source` (image pixels; the whole image when empty) of `image` with its top-left at
// `at` in the painter's coordinates, one image pixel to one device pixel. The painter has no
// transform beyond translation and the device's scale.
void draw(QPainter& p, QPointF at, const QImage& image, QRect source = {});

// Draws `image` at the origin through the painter's whole transform (scaled, turned).
void drawTransformed(QPainter& p, const QImage& image);

// The rectangle of `image` holding every pixel that is not fully transparent.
QRect opaqueBounds(const QImage& image);

}  // namespace PortalBlit

}  // namespace kolvex
