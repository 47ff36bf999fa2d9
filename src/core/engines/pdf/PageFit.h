// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "core/engines/image/ImageFormatTable.h"

namespace kolvex {

// The size a page is drawn at. A page that would be larger, at the resolution asked for, than a
// page bitmap may be (PopplerDocument's cap) or than the image format holds is drawn at the
// largest resolution that fits both, so that every page of a document still becomes a file.
// Pure; any thread.
struct PageFit {
    int width = 0;  // pixels drawn; 0 when no size fits (a page far thinner than it is long)
    int height = 0;
    double scale = 0;  // pixels per point drawn
    // The size asked for, in pixels, and its scale; larger than the drawn one when the page was
    // fitted. Below 1 for a page less than a pixel on a side.
    int64_t wantedWidth = 0;
    int64_t wantedHeight = 0;
    double wantedScale = 0;
    // The rule that made the page smaller, worded to follow "but": "WebP holds at most 16383 px a
    // side", "a page is drawn at most 32000 px a side". Empty when it is drawn as asked.
    std::string limit;

    bool fitted() const { return !limit.empty(); }
    bool drawable() const { return width >= 1 && height >= 1; }

    // The page of `width` × `height` points at `scale` pixels per point, to be saved with `codec`
    // (none: no format limit) named `label`.
    static PageFit of(double width, double height, double scale, const image::ImageCodec* codec,
                      const std::string& label);

    // One sentence for the user about a fitted page: "Page 2 of long.pdf would be 60000 × 417 px
    // at 300 dpi, but WebP holds at most 16383 px a side, so it is drawn at 82 dpi (16383 × 114 px)."
    std::string note(int page, const std::string& document) const;
};

}  // namespace kolvex
