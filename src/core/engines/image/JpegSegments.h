// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kolvex::image {

// The marker segments of a JPEG file up to its first scan, read without decoding anything.
// Pure functions over bytes; any thread.
struct JpegSegments {
    struct Segment {
        uint8_t marker = 0;
        size_t start = 0;          // offset of its 0xFF
        size_t end = 0;            // offset just past it
        std::string_view payload;  // after the length field
    };
    std::vector<Segment> segments;  // in file order, SOI excluded
    size_t scanStart = 0;           // offset of the first start-of-scan marker

    // None when the bytes are not a JPEG or its headers are damaged.
    static std::optional<JpegSegments> read(std::string_view jpeg);

    // The JPEG without what it says about its owner (EXIF and XMP in APP1, IPTC in APP13,
    // comments), byte for byte otherwise: the compressed picture is not touched. When
    // `orientation` (EXIF, 1…8) is not 1, a minimal EXIF block holding only it is put back, so
    // the picture still shows upright. None when the bytes are not a JPEG.
    static std::optional<std::string> withoutMetadata(std::string_view jpeg, int orientation = 1);

    // The quality (0…1) an IJG-style encoder would have been given to make this file's
    // luminance quantisation table; none when the file has no such table.
    static std::optional<double> estimatedQuality(std::string_view jpeg);
};

}  // namespace kolvex::image
