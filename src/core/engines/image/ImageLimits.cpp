// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/image/ImageLimits.h"

#include <algorithm>

#include <fmt/format.h>

namespace kolvex::image {

namespace {

bool isHevc(const ImageCodec& codec) { return codec.saver == "heifsave" && codec.heifCompression.empty(); }

}  // namespace

std::optional<ImageLimits::SizeLimit> ImageLimits::sizeLimit(const ImageCodec& codec, int64_t width, int64_t height) {
    const int64_t longest = std::max(width, height);
    const int64_t shortest = std::min(width, height);
    if (codec.largestSide > 0 && longest > codec.largestSide)
        return SizeLimit{codec.largestSide, fmt::format("holds at most {} px a side", codec.largestSide)};
    if (isHevc(codec) && shortest < kHevcThinSide && longest > kHevcThinLongest)
        return SizeLimit{kHevcThinLongest, fmt::format("holds at most {} px a side when the other side is under {} px",
                                                       kHevcThinLongest, kHevcThinSide)};
    return std::nullopt;
}

std::optional<std::string> ImageLimits::sizeRefusal(const ImageCodec& codec, std::string_view label, int64_t width,
                                                     int64_t height) {
    if (auto limit = sizeLimit(codec, width, height)) return fmt::format("{}, which {}", label, limit->rule);
    return std::nullopt;
}

int ImageLimits::heifBitDepth(const ImageCodec& codec, int sourceBits) {
    if (sourceBits <= 8) return 8;
    // The AV1 encoder here aborts the whole process when asked for 10 bits: 12 holds them.
    if (!isHevc(codec)) return 12;
    return sourceBits <= 10 ? 10 : 12;
}

}  // namespace kolvex::image
