// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/image/Thumbnailer.h"

#include <cstring>

#include <vips/vips8>

#include "core/engines/image/VipsRuntime.h"

namespace kolvex::image {

std::optional<ThumbnailPixels> makeThumbnail(const std::filesystem::path& file, int maxSide) {
    if (maxSide <= 0) return std::nullopt;
    try {
        ensureVipsStarted();
        vips::VImage thumb = vips::VImage::thumbnail(file.c_str(), maxSide,
                                                     vips::VImage::option()->set("height", maxSide)->set(
                                                         "size", VIPS_SIZE_DOWN));
        thumb = thumb.colourspace(VIPS_INTERPRETATION_sRGB).cast(VIPS_FORMAT_UCHAR);
        if (thumb.bands() == 1) thumb = thumb.bandjoin(thumb).bandjoin(thumb);
        if (thumb.bands() == 2) thumb = thumb[0].bandjoin(thumb[0]).bandjoin(thumb[0]).bandjoin(thumb[1]);
        if (thumb.bands() == 3) thumb = thumb.bandjoin(255);
        if (thumb.bands() > 4) thumb = thumb.extract_band(0, vips::VImage::option()->set("n", 4));
        size_t size = 0;
        void* memory = thumb.write_to_memory(&size);
        ThumbnailPixels pixels;
        pixels.width = thumb.width();
        pixels.height = thumb.height();
        const size_t expected = static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height) * 4;
        if (!memory || size != expected) {
            g_free(memory);
            return std::nullopt;
        }
        pixels.rgba.resize(size);
        std::memcpy(pixels.rgba.data(), memory, size);
        g_free(memory);
        return pixels;
    } catch (const std::exception&) {
        // vips::VError or our own start-up error: no picture, the caller falls back to an icon.
        return std::nullopt;
    }
}

}  // namespace kolvex::image
