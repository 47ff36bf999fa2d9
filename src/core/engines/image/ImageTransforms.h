// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include <vips/vips8>

#include "core/format/ConversionJob.h"

namespace kolvex::image {

// The pixel work of the image tools on one picture (or one frame of an animation), in the
// fixed order: size cap → crop → flips → turn. Pure functions of their inputs; any thread.
struct ImageTransforms {
    // Shrinks to `cap` on the longer side (never enlarges), crops to the job's crop rectangle,
    // mirrors as the job asks and turns clockwise by `degrees`. Throws
    // unsupportedCombination("crop region", "an image with area") for a crop without area and
    // vips::VError when libvips fails.
    static vips::VImage apply(vips::VImage picture, const ConversionJob& job, int64_t cap, double degrees);

    // Shrunk to `cap` on the longer side, aspect kept; never enlarged. Keeps the picture's
    // sample format (8-bit, 16-bit, float) and colour space.
    static vips::VImage shrunk(vips::VImage picture, int64_t cap);

    // The crop rectangle (unit coordinates, origin bottom-left) cut out of the picture.
    static vips::VImage cropped(const vips::VImage& picture, const UnitRect& rect);

    // Turned clockwise by `degrees` onto a canvas of exactly rotatedSize() (core/conversion/RotatedSize.h); right
    // angles move pixels without resampling; other angles uncover transparent corners.
    static vips::VImage turned(vips::VImage picture, double degrees);

    // Opaque alpha (and white) in the picture's own sample range: 255 or 65535.
    static double maxAlpha(const vips::VImage& picture);
};

}  // namespace kolvex::image
