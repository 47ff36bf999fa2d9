// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <filesystem>

#include <vips/vips8>

#include "core/services/MemoryBudget.h"

namespace kolvex::image {

// How a conversion's pixel work goes, as far as the memory it holds is concerned.
struct PixelRoute {
    double copies = 1;              // working copies of its pixels the saver makes
    bool shrinksOnLoad = false;     // the loader hands the picture over already shrunk
    bool holdsWholeSource = false;  // the source is decoded whole (read out of order, or every frame)
    bool webp = false;              // a still WebP, whose encoder's memory grows with the content
};

// The memory a picture's conversion holds at its peak: the saver's working copies of the pixels
// it is given, or of the source's when the loader decodes the source at full size, with what the
// saver needs for the content and the pipeline's rows; and the whole source besides when the
// pixel work does not read it in order. `source` is the source's header as loaded, `picture`
// the pipeline the saver is given, `file` the source file. No pixel has been decoded yet; only
// the pipeline's sizes and the file's are read.
std::size_t workingMemory(const std::filesystem::path& file, const vips::VImage& source, const vips::VImage& picture,
                          const PixelRoute& route);

// Shared by every picture the process converts: a batch of large photos encodes a few at a time
// instead of holding every worker's copies at once. Never destroyed.
MemoryBudget& pictureBudget();

}  // namespace kolvex::image
