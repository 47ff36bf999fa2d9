// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/image/ImageFormatTable.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <string>

#include <vips/vips8>

#include "core/engines/image/VipsRuntime.h"
#include "core/format/ConversionError.h"

namespace kolvex::image {

namespace {

bool operationExists(std::string_view nickname) {
    if (nickname.empty()) return false;
    try {
        ensureVipsStarted();
    } catch (const ConversionError&) {
        return false;  // without libvips nothing can be read or written
    }
    return vips_type_find("VipsOperation", std::string(nickname).c_str()) != 0;
}

bool canLoad(const ImageCodec& codec) { return operationExists(codec.loader); }
bool canSave(const ImageCodec& codec) { return operationExists(codec.saver); }

const ImageCodec* findByMime(const Format& format, bool (*available)(const ImageCodec&)) {
    for (const auto& type : format.contentTypes) {
        for (const auto& codec : ImageFormatTable::codecs()) {
            for (auto mime : codec.mimeTypes) {
                if (mime == type && available(codec)) return &codec;
            }
        }
    }
    return nullptr;
}

// ImageMagick would decode almost anything (PostScript, SVG, raw camera data, …); only content
// that starts like one of the formats it is needed for is handed to it.
std::string_view magickFormatOf(const std::filesystem::path& file) {
    std::array<unsigned char, 6> head{};
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(head.data()), head.size());
    if (in.gcount() < static_cast<std::streamsize>(head.size())) return {};
    // ICONDIR: reserved 0, type 1 (icon), at least one image.
    if (head[0] == 0 && head[1] == 0 && head[2] == 1 && head[3] == 0 && (head[4] != 0 || head[5] != 0)) return "ICO";
    if (head[0] == 'B' && head[1] == 'M') return "BMP";
    return {};
}

}  // namespace

const std::vector<ImageCodec>& ImageFormatTable::codecs() {
    static const std::vector<ImageCodec> table{
        {"jpeg", {"image/jpeg", "image/jpg", "image/pjpeg"}, "jpegload", "jpegsave", true, true, true, {}, {}, 0, false,
         65500, 1},
        {"png", {"image/png", "image/apng"}, "pngload", "pngsave", false, true, true, {}, {}, 0, false, 0, 1},
        {"webp", {"image/webp"}, "webpload", "webpsave", true, true, true, {}, {}, 0, true, 16383, 2.2},
        {"gif", {"image/gif"}, "gifload", "gifsave", false, false, false, {}, {}, 0, true, 65535, 6},
        {"tiff", {"image/tiff", "image/tiff-fx"}, "tiffload", "tiffsave", false, true, true, {}, {}, 0, false, 0, 2.8},
        {"heic", {"image/heic", "image/heif", "image/heic-sequence", "image/heif-sequence"}, "heifload", "heifsave",
         true, false, false, {}, {}, 0, false, 16384, 8},
        {"avif", {"image/avif"}, "heifload", "heifsave", true, false, false, {}, "av1", 0, false, 16384, 9.2},
        // ImageMagick's savers make the file in memory (ImageWriter): one copy more than measured
        // when they wrote straight to the file.
        {"ico", {"image/vnd.microsoft.icon", "image/x-icon", "image/ico"}, "magickload", "magicksave", false, false,
         false, "ICO", {}, 256, false, 0, 6},
        // ImageMagick writes a wider BMP, but its policy here refuses to read one back: a file that
        // neither Kolvex nor any other ImageMagick reader would open.
        {"bmp", {"image/bmp", "image/x-bmp", "image/x-ms-bmp"}, "magickload", "magicksave", false, false, false, "BMP",
         {}, 0, false, 16000, 6},
    };
    return table;
}

const ImageCodec* ImageFormatTable::readable(const Format& format) { return findByMime(format, canLoad); }

const ImageCodec* ImageFormatTable::writable(const Format& format) { return findByMime(format, canSave); }

const ImageCodec* ImageFormatTable::sniff(const std::filesystem::path& file) {
    ensureVipsStarted();
    // Only the admitted loaders are asked, in table order: libvips' own search would also name
    // loaders that are blocked here (and claim some plain TIFFs for OpenSlide).
    for (const auto& codec : codecs()) {
        if (!codec.magickFormat.empty() || !canLoad(codec)) continue;
        if (vips_foreign_is_a(std::string(codec.loader).c_str(), file.c_str())) return &codec;
    }
    vips_error_clear();
    const std::string_view magick = magickFormatOf(file);
    if (magick.empty()) return nullptr;
    for (const auto& codec : codecs()) {
        if (codec.magickFormat == magick && canLoad(codec)) return &codec;
    }
    return nullptr;
}

int ImageFormatTable::largestIconEntry(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::array<unsigned char, 6> head{};
    in.read(reinterpret_cast<char*>(head.data()), head.size());
    if (in.gcount() < 6 || head[0] != 0 || head[1] != 0 || head[2] != 1 || head[3] != 0) return 0;
    const int count = head[4] | (head[5] << 8);
    int best = 0;
    long bestPixels = -1;
    int bestBits = -1;
    for (int index = 0; index < count; ++index) {
        // ICONDIRENTRY: width, height (0 means 256), colours, reserved, planes, bit count, …
        std::array<unsigned char, 16> entry{};
        in.read(reinterpret_cast<char*>(entry.data()), entry.size());
        if (in.gcount() < 16) break;
        const long width = entry[0] == 0 ? 256 : entry[0];
        const long height = entry[1] == 0 ? 256 : entry[1];
        const int bits = entry[6] | (entry[7] << 8);
        if (width * height > bestPixels || (width * height == bestPixels && bits > bestBits)) {
            best = index;
            bestPixels = width * height;
            bestBits = bits;
        }
    }
    return best;
}

vips::VOption* ImageFormatTable::saverOptions(const ImageCodec& codec, std::optional<double> quality) {
    vips::VOption* options = vips::VImage::option();
    if (quality && codec.takesQuality) options->set("Q", encoderQuality(*quality));
    if (codec.heifCompression == "av1") options->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1);
    if (!codec.magickFormat.empty()) options->set("format", std::string(codec.magickFormat).c_str());
    if (codec.saver == "tiffsave") {
        options->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE)
            ->set("predictor", VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL);
    }
    return options;
}

int ImageFormatTable::encoderQuality(double quality) {
    if (!std::isfinite(quality)) return 75;
    return std::clamp(static_cast<int>(std::lround(quality * 100.0)), 1, 100);
}

}  // namespace kolvex::image
