// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kolvex::image {

// Puts a photo's EXIF into a TIFF file: libvips 8.14's TIFF saver writes none, so camera,
// exposure, time and GPS would be lost where every other target keeps them. Pure functions
// over bytes; any thread.
struct TiffExif {
    // `tiff` is a classic TIFF file as libvips writes it; `exif` an EXIF block as libvips keeps
    // it ("Exif\0\0" and a TIFF structure in either byte order). Returns the TIFF with the EXIF
    // and GPS directories appended (values converted to the file's byte order) and pointed to
    // from its first directory, which also gains the descriptive tags of the EXIF's first
    // directory that it lacks (make, model, date, artist, copyright, description, software).
    // The picture data are not touched. None when either cannot be read.
    static std::optional<std::string> embed(std::string_view tiff, std::string_view exif);
};

}  // namespace kolvex::image
