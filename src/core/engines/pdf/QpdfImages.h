// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The images embedded in a PDF's pages, for the compress tool. Built as C++17 like the rest of
// the qpdf bridge (see QpdfBridge.h).

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "core/engines/pdf/QpdfBridge.h"

namespace kolvex::qpdf_bridge {

// One embedded image, decoded, offered for recompression.
struct DecodedImage {
    int width = 0;
    int height = 0;
    int components = 0;      // 1 grey, 3 RGB
    std::string samples;     // 8 bits per sample, top row first
    double shownWidth = 0;   // the largest size a page draws it at, in points; 0 when unknown
    double shownHeight = 0;
    size_t storedBytes = 0;  // what its stream takes in the file now
};

// What takes an image's place: baseline JPEG data of this size, in the same colour space.
struct JpegReplacement {
    int width = 0;
    int height = 0;
    std::string data;
};

using Recompress = std::function<std::optional<JpegReplacement>(const DecodedImage&)>;
using ImageProgress = std::function<void(int done, int total)>;

// Offers every 8-bit grey or RGB image that the pages draw (directly or through forms) to
// `recompress`, once each; an image whose replacement is smaller than what it stores now takes
// the replacement, keeping its colour space, masks and everything else. Images qpdf cannot
// decode (JPEG 2000, JBIG2, fax, damaged data), stencil masks, colour-keyed, indexed, CMYK and
// other colour spaces, and images with a /Decode array stay as they are. Page content that
// cannot be parsed only leaves the shown size of its images unknown. Returns how many images
// were replaced; passes on what the callbacks throw. One thread at a time per document.
int recompressImages(Document& document, const Recompress& recompress, const ImageProgress& progress);

}  // namespace kolvex::qpdf_bridge
