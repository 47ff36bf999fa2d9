// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PageFit.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "core/engines/image/ImageLimits.h"
#include "core/engines/pdf/PopplerDocument.h"

namespace kolvex {

namespace {

// Far beyond any page, small enough that no product of two overflows.
constexpr double kHuge = 1e9;

int64_t pixels(double points, double scale) { return static_cast<int64_t>(std::min(std::round(points * scale), kHuge)); }

// The format's own rule for a picture of that size, when it has one that applies (an icon is
// shrunk to its size instead).
std::optional<image::ImageLimits::SizeLimit> formatLimit(const image::ImageCodec* codec, int64_t width, int64_t height) {
    if (!codec || codec->maxSide > 0) return std::nullopt;
    return image::ImageLimits::sizeLimit(*codec, width, height);
}

bool fits(const image::ImageCodec* codec, int64_t width, int64_t height) {
    return PopplerDocument::fitsBitmapCap(width, height) && !formatLimit(codec, width, height);
}

}  // namespace

PageFit PageFit::of(double width, double height, double scale, const image::ImageCodec* codec,
                    const std::string& label) {
    PageFit fit;
    if (!(width > 0) || !(height > 0) || !(scale > 0)) return fit;
    fit.wantedScale = scale;
    fit.wantedWidth = pixels(width, scale);
    fit.wantedHeight = pixels(height, scale);
    if (fit.wantedWidth < 1 || fit.wantedHeight < 1) return fit;
    fit.scale = scale;

    // Each rule lowers the resolution in turn; a shape's rule (a very thin strip) may only apply
    // once another has made the page smaller.
    const double longestPoints = std::max(width, height);
    for (int round = 0; round < 4 && !fits(codec, pixels(width, fit.scale), pixels(height, fit.scale)); ++round) {
        const int64_t w = pixels(width, fit.scale);
        const int64_t h = pixels(height, fit.scale);
        if (w < 1 || h < 1) break;  // too thin for the length that fits: no size will do
        if (auto limit = formatLimit(codec, w, h)) {
            fit.scale = std::min(fit.scale, static_cast<double>(limit->longest) / longestPoints);
            fit.limit = fmt::format("{} {}", label, limit->rule);
        } else if (std::max(w, h) > PopplerDocument::kMaxPageSide) {
            fit.scale = std::min(fit.scale, PopplerDocument::kMaxPageSide / longestPoints);
            fit.limit = fmt::format("a page is drawn at most {} px a side", PopplerDocument::kMaxPageSide);
        } else {
            fit.scale = std::min(fit.scale, std::sqrt(static_cast<double>(PopplerDocument::kMaxPagePixels) / (width * height)));
            fit.limit = fmt::format("a page is drawn at most {} million pixels", PopplerDocument::kMaxPagePixels / 1'000'000);
        }
    }
    // Rounding may still leave a side a pixel over: a pixel less on the longest side each time.
    for (int step = 0; step < 8 && !fits(codec, pixels(width, fit.scale), pixels(height, fit.scale)); ++step) {
        const double longest = static_cast<double>(std::max(pixels(width, fit.scale), pixels(height, fit.scale)));
        if (std::min(pixels(width, fit.scale), pixels(height, fit.scale)) < 1 || longest < 2) break;
        fit.scale *= (longest - 1) / longest;
    }
    const int64_t w = pixels(width, fit.scale);
    const int64_t h = pixels(height, fit.scale);
    if (w < 1 || h < 1 || !fits(codec, w, h)) return fit;
    fit.width = static_cast<int>(w);
    fit.height = static_cast<int>(h);
    return fit;
}

std::string PageFit::note(int page, const std::string& document) const {
    return fmt::format("Page {} of {} would be {} × {} px at {} dpi, but {}, so it is drawn at {} dpi ({} × {} px).",
                       page, document, wantedWidth, wantedHeight, std::lround(wantedScale * 72.0), limit,
                       std::lround(scale * 72.0), width, height);
}

}  // namespace kolvex
