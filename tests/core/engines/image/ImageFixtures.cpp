// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageFixtures.h"

#include <map>

#include <gtest/gtest.h>

#include "core/engines/image/VipsRuntime.h"
#include "support/ExternalTool.h"

namespace kolvex::testing {

namespace fs = std::filesystem;
using vips::VImage;

Format imageFormat(const std::string& id) {
    using C = FormatCapability;
    static const std::map<std::string, Format> formats{
        {"jpg", {"jpg", FormatCategory::image, {"jpg", "jpeg"}, {"image/jpeg"}, {C::lossy, C::metadata}, "JPEG"}},
        {"png", {"png", FormatCategory::image, {"png"}, {"image/png"}, {C::lossless, C::alpha, C::metadata}, "PNG"}},
        {"webp",
         {"webp", FormatCategory::image, {"webp"}, {"image/webp"}, {C::lossy, C::alpha, C::animation, C::metadata},
          "WebP"}},
        {"gif", {"gif", FormatCategory::image, {"gif"}, {"image/gif"}, {C::lossless, C::alpha, C::animation}, "GIF"}},
        {"tiff",
         {"tiff", FormatCategory::image, {"tiff", "tif"}, {"image/tiff"}, {C::lossless, C::alpha, C::metadata}, "TIFF"}},
        {"heic", {"heic", FormatCategory::image, {"heic"}, {"image/heic"}, {C::lossy, C::alpha, C::metadata}, "HEIC"}},
        {"avif", {"avif", FormatCategory::image, {"avif"}, {"image/avif"}, {C::lossy, C::alpha}, "AVIF"}},
        {"ico", {"ico", FormatCategory::image, {"ico"}, {"image/vnd.microsoft.icon", "image/x-icon"}, {C::alpha}, "ICO"}},
        {"bmp", {"bmp", FormatCategory::image, {"bmp"}, {"image/bmp"}, {C::lossless}, "BMP"}},
        {"svg", {"svg", FormatCategory::image, {"svg"}, {"image/svg+xml"}, {C::alpha}, "SVG"}},
        {"mp4", {"mp4", FormatCategory::video, {"mp4"}, {"video/mp4"}, {C::lossy}, "MP4"}},
    };
    return formats.at(id);
}

ConversionJob imageJob(const fs::path& source, const fs::path& destination, const std::string& from,
                       const std::string& to, ConversionOptions options) {
    return ConversionJob(source, {}, destination, imageFormat(from), imageFormat(to),
                         ConversionCapability{FormatID(from), FormatID(to), engine_ids::image}, options);
}

VImage quadrants(int width, int height, bool alpha) {
    image::ensureVipsStarted();
    const int halfW = width / 2;
    const int halfH = height / 2;
    auto block = [](int w, int h, std::vector<double> colour) {
        return (VImage::black(std::max(w, 1), std::max(h, 1), VImage::option()->set("bands", 3)) + colour)
            .cast(VIPS_FORMAT_UCHAR);
    };
    VImage top = block(halfW, halfH, {255, 0, 0}).join(block(width - halfW, halfH, {0, 255, 0}), VIPS_DIRECTION_HORIZONTAL);
    VImage bottom = block(halfW, height - halfH, {0, 0, 255})
                        .join(block(width - halfW, height - halfH, {255, 255, 0}), VIPS_DIRECTION_HORIZONTAL);
    VImage out = top.join(bottom, VIPS_DIRECTION_VERTICAL).copy(
        VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    if (alpha) {
        // Left half opaque, right half fully transparent.
        VImage mask = (VImage::black(halfW, height) + 255).join(VImage::black(width - halfW, height),
                                                                VIPS_DIRECTION_HORIZONTAL);
        out = out.bandjoin(mask.cast(VIPS_FORMAT_UCHAR));
    }
    return out;
}

VImage withMetadata(const VImage& image, std::optional<int> orientation) {
    VImage out = image.copy();
    out.set("exif-ifd0-Make", kCameraMake);
    vips_image_set_blob_copy(out.get_image(), "xmp-data", kXmpPacket, std::string(kXmpPacket).size());
    if (orientation) out.set("orientation", *orientation);
    return out;
}

void save(const VImage& image, const fs::path& file, const std::string& saver, bool profile) {
    auto* options = VImage::option()->set("in", image)->set("filename", file.c_str());
    if (profile) options->set("profile", "srgb");
    if (saver == "magicksave") options->set("format", file.extension() == ".ico" ? "ICO" : "BMP");
    VImage::call(saver.c_str(), options);
}

VImage reload(const fs::path& file) {
    try {
        return VImage::new_from_file(file.c_str(), VImage::option()->set("access", VIPS_ACCESS_RANDOM))
            .copy_memory();
    } catch (const vips::VError& error) {
        ADD_FAILURE() << "cannot read back " << file << ": " << error.what();
        vips_error_clear();
        return VImage::black(1, 1);
    }
}

std::vector<double> pixel(const VImage& image, int x, int y) { return const_cast<VImage&>(image)(x, y); }

bool hasField(const VImage& image, const char* name) { return image.get_typeof(name) != 0; }

std::string headerField(const fs::path& file, const std::string& field) {
    std::string text = programOutput("/usr/bin/vipsheader", {"-f", field, file.string()}).value_or("");
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

void saveAnimation(const std::vector<VImage>& frames, const std::vector<int>& delays, int loop, const fs::path& file,
                   const std::string& saver) {
    VImage strip = VImage::arrayjoin(frames, VImage::option()->set("across", 1)).copy();
    strip.set("page-height", frames.front().height());
    strip.set("delay", delays);
    strip.set("loop", loop);
    VImage::call(saver.c_str(), VImage::option()->set("in", strip)->set("filename", file.c_str()));
}

}  // namespace kolvex::testing
