// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/engines/image/ImageFormatTable.h"

namespace kolvex::image {

// What a file of a codec can hold: the sizes that can be written and still be opened, and the
// sample depth its saver keeps. Pure; any thread.
struct ImageLimits {
    // The HEVC encoder finds no level for a picture this thin and longer than this: it ends
    // without a picture while libheif still writes a file nobody can open.
    static constexpr int64_t kHevcThinSide = 32;
    static constexpr int64_t kHevcThinLongest = 4216;

    // The limit a width × height picture passes when written as `codec`: the longest side a
    // picture of that shape may have, and the rule as a phrase that follows the format's name
    // ("holds at most 16384 px a side"). None when the picture can be written.
    struct SizeLimit {
        int64_t longest = 0;
        std::string rule;
    };
    static std::optional<SizeLimit> sizeLimit(const ImageCodec& codec, int64_t width, int64_t height);

    // Why a width × height picture cannot be written as `codec`, worded to end "Can't convert
    // <picture> to …" ("HEIC, which holds at most 16384 px a side"); none when it can be.
    static std::optional<std::string> sizeRefusal(const ImageCodec& codec, std::string_view label, int64_t width,
                                                  int64_t height);

    // The bits a sample gets in a HEIC or AVIF written from a picture whose samples have
    // `sourceBits` (8 for 8-bit pictures; 10 or 12 for HEIF sources, 16 for 16-bit PNG and TIFF):
    // as many as the source had where the encoder can write that depth, else the next it can.
    static int heifBitDepth(const ImageCodec& codec, int sourceBits);
};

}  // namespace kolvex::image
