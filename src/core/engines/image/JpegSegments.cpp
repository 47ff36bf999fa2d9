// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/image/JpegSegments.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>

namespace kolvex::image {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The example luminance table of the JPEG standard (its Annex K), in zig-zag order as DQT
// segments store it; IJG encoders scale it by the quality.
constexpr std::array<int, 64> kLuminance{16, 11, 12, 14, 12, 10, 16, 14, 13, 14, 18, 17, 16, 19, 24, 40,
                                         26, 24, 22, 22, 24, 49, 35, 37, 29, 40, 58, 51, 61, 60, 57, 51,
                                         56, 55, 64, 72, 92, 78, 64, 68, 87, 69, 55, 56, 80, 109, 81, 87,
                                         95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};

// An EXIF block (big-endian TIFF) with one entry: the orientation.
std::string orientationExif(int orientation) {
    std::string exif("Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01", 24);
    exif += static_cast<char>(0);
    exif += static_cast<char>(orientation);
    exif.append(std::string(6, '\0'));  // value padding, then no next directory
    std::string segment("\xFF\xE1", 2);
    const size_t length = exif.size() + 2;
    segment += static_cast<char>(length >> 8);
    segment += static_cast<char>(length & 0xFF);
    return segment + exif;
}

}  // namespace

std::optional<JpegSegments> JpegSegments::read(std::string_view jpeg) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(jpeg[i]); };
    if (jpeg.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) return std::nullopt;
    JpegSegments result;
    size_t pos = 2;
    while (pos + 1 < jpeg.size()) {
        if (byte(pos) != 0xFF) return std::nullopt;
        const size_t start = pos;
        while (pos < jpeg.size() && byte(pos) == 0xFF) ++pos;  // fill bytes
        if (pos >= jpeg.size()) return std::nullopt;
        const unsigned char marker = byte(pos++);
        if (marker == 0xDA) {
            result.scanStart = start;
            return result;
        }
        if (marker == 0xD8 || marker == 0xD9) return std::nullopt;  // a second start, or no picture
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            result.segments.push_back({marker, start, pos, {}});
            continue;
        }
        if (pos + 2 > jpeg.size()) return std::nullopt;
        const size_t length = (size_t(byte(pos)) << 8) | byte(pos + 1);
        if (length < 2 || pos + length > jpeg.size()) return std::nullopt;
        result.segments.push_back({marker, start, pos + length, jpeg.substr(pos + 2, length - 2)});
        pos += length;
    }
    return std::nullopt;
}

std::optional<std::string> JpegSegments::withoutMetadata(std::string_view jpeg, int orientation) {
    auto layout = read(jpeg);
    if (!layout) return std::nullopt;
    std::string out(jpeg.substr(0, 2));
    bool orientationWritten = orientation < 2 || orientation > 8;
    for (const Segment& segment : layout->segments) {
        // JFIF wants to come first; the orientation follows it.
        if (!orientationWritten && segment.marker != 0xE0) {
            out += orientationExif(orientation);
            orientationWritten = true;
        }
        const bool exifOrXmp = segment.marker == 0xE1 && (startsWith(segment.payload, std::string_view("Exif\0\0", 6)) ||
                                                          startsWith(segment.payload, "http://ns.adobe.com/"));
        const bool iptc = segment.marker == 0xED;
        const bool comment = segment.marker == 0xFE;
        if (!exifOrXmp && !iptc && !comment) out.append(jpeg.substr(segment.start, segment.end - segment.start));
    }
    if (!orientationWritten) out += orientationExif(orientation);
    out.append(jpeg.substr(layout->scanStart));
    return out;
}

std::optional<double> JpegSegments::estimatedQuality(std::string_view jpeg) {
    auto layout = read(jpeg);
    if (!layout) return std::nullopt;
    for (const Segment& segment : layout->segments) {
        if (segment.marker != 0xDB) continue;
        std::string_view tables = segment.payload;
        while (!tables.empty()) {
            const int precision = static_cast<unsigned char>(tables[0]) >> 4;
            const int id = static_cast<unsigned char>(tables[0]) & 0x0F;
            const size_t size = 1 + 64 * (precision ? 2 : 1);
            if (tables.size() < size) return std::nullopt;
            if (id == 0) {
                std::array<int, 64> table{};
                for (size_t i = 0; i < 64; ++i) {
                    table[i] = precision ? (static_cast<unsigned char>(tables[1 + 2 * i]) << 8) |
                                               static_cast<unsigned char>(tables[2 + 2 * i])
                                         : static_cast<unsigned char>(tables[1 + i]);
                }
                // The quality whose scaled standard table lies closest.
                int best = 0;
                long bestError = std::numeric_limits<long>::max();
                for (int quality = 1; quality <= 100; ++quality) {
                    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
                    long error = 0;
                    for (size_t i = 0; i < 64; ++i) {
                        const int expected = std::clamp((kLuminance[i] * scale + 50) / 100, 1, 255);
                        error += std::labs(static_cast<long>(expected - table[i]));
                    }
                    if (error < bestError) {
                        bestError = error;
                        best = quality;
                    }
                }
                return best / 100.0;
            }
            tables.remove_prefix(size);
        }
    }
    return std::nullopt;
}

}  // namespace kolvex::image
