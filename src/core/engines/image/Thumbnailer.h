// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace kolvex::image {

// A small picture of a file, as 8-bit RGBA pixels, row after row without padding.
struct ThumbnailPixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
};

// Shrinks an image to fit within `maxSide` pixels on each side,
// keeping its aspect and its EXIF orientation. Nothing when libvips cannot read the file or
// the side is not positive. Any thread; blocking.
std::optional<ThumbnailPixels> makeThumbnail(const std::filesystem::path& file, int maxSide);

}  // namespace kolvex::image
