// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <stop_token>
#include <string>

#include <vips/vips8>

#include "core/engines/image/ImageFormatTable.h"
#include "core/services/StagedOutput.h"

namespace kolvex::image {

// Runs a codec's saver straight into a file, so the encoded picture goes to disk as the saver
// makes it instead of being gathered in memory first (ImageMagick's savers, which write only by
// name, make the file in memory; it is then written the same way). Where libvips writes metadata that the
// header cannot hold back (its JPEG and WebP savers always add an EXIF block), it is dropped on
// the way out; the rest of the metadata is settled on the picture's header before saving.
struct ImageWriter {
    struct Request {
        std::string label;              // the target format's name, for messages
        std::optional<double> quality;  // 0…1; none leaves the saver's own
        bool strip = false;             // the output carries no EXIF, XMP or IPTC
        // EXIF to put into a TIFF, whose saver writes none; empty for no EXIF.
        std::string tiffExif;
        // Bits of the source's samples; a deep picture keeps as many as the target can hold.
        int sourceBits = 8;
        // The WebP saver's search effort; none leaves the saver's own.
        std::optional<int> effort;
    };

    // Creates `output`'s staged file and saves `picture` into it; the owner commits it, or
    // removes it by dropping `output`. Throws OperationCancelled when `stop` is triggered while
    // the bytes are written, ConversionError for a folder that refuses the file (permissions, a
    // full disk) or metadata that cannot be removed, and vips::VError when the saver (or the
    // loader behind the picture) fails. Runs on the calling thread; may block.
    static void save(const vips::VImage& picture, const ImageCodec& codec, const Request& request,
                     StagedOutput& output, const std::stop_token& stop);
};

}  // namespace kolvex::image
