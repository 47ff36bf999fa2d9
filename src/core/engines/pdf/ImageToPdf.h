// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>

#include "core/conversion/ConversionEngine.h"

namespace kolvex {

// One image placed upright on a one-page PDF. A JPEG keeps its compressed data unchanged
// (only EXIF/XMP/IPTC segments are left out) and its orientation becomes the placement on the
// page; other images are decoded and embedded losslessly. Stateless; any thread.
struct ImageToPdf {
    // What a JPEG file's markers say about its picture.
    struct JpegFacts {
        int width = 0;
        int height = 0;
        int components = 0;     // 1 grey, 3 colour, 4 CMYK
        int precision = 0;      // bits per sample
        bool adobeCmyk = false; // Adobe's inverted CMYK
        bool truncated = false; // the data stop before the end-of-image marker
        std::string strippedData;  // the file without its metadata segments
    };

    // Reads the markers of a JPEG file's bytes; none when it is no baseline/progressive JPEG.
    static std::optional<JpegFacts> readJpeg(const std::string& bytes);

    // The page placement of an image with EXIF `orientation` (1…8) on a page of `pageWidth` ×
    // `pageHeight` points: the six numbers of a PDF "cm" operator mapping the image's unit square.
    static std::array<double, 6> placement(int orientation, double pageWidth, double pageHeight);

    // Writes the PDF at `destination` with `pointsPerPixel`. Reports 0.5 once the image is
    // decoded. Throws ConversionError::corruptedInput(source) for an unreadable image,
    // OperationCancelled when stopped after decoding, and the errors of QpdfDocument::write.
    // Returns where the PDF went (see QpdfDocument::write).
    static std::filesystem::path write(const std::filesystem::path& source, const std::filesystem::path& destination,
                      double pointsPerPixel, const ProgressCallback& progress, std::stop_token stop);
};

}  // namespace kolvex
