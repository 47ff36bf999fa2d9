// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <vips/vips8>

namespace kolvex::image {

// Removing what a picture says about its owner (camera, place, time, captions) while keeping
// what it needs to look right: the colour profile stays. libvips' own `strip` would drop the
// profile too, and its WebP saver ignores `strip` altogether.
struct ImageMetadata {
    // Removes the EXIF, XMP and IPTC fields and text comments from the image's header.
    static void removePersonalFields(vips::VImage& image);
    // WebP bytes without their EXIF and XMP chunks; nullopt when the bytes are not a WebP file.
    static std::optional<std::string> withoutWebpMetadata(std::string_view webp);
};

}  // namespace kolvex::image
