// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include <vips/vips8>

#include "core/format/FormatManifest.h"

namespace kolvex::image {

// One image type that libvips reads or writes here, keyed by the content types that name it.
struct ImageCodec {
    std::string_view name;                    // short name for messages: "jpeg", "ico"
    std::vector<std::string_view> mimeTypes;  // every content type that means this codec
    std::string_view loader;                  // nickname of libvips' file loader
    std::string_view saver;                   // nickname of libvips' saver (its _buffer form is run)
    bool takesQuality = false;                // the saver has a Q (1…100) option
    bool streams = false;                     // the saver reads its input top to bottom only once
    bool keepsOrientation = false;            // the saver writes the EXIF orientation tag
    std::string_view magickFormat;            // ImageMagick coder when libvips has no native one
    std::string_view heifCompression;         // "av1" for AVIF; HEIC uses the saver's default
    int maxSide = 0;                          // largest side the saver accepts; 0: no limit
    bool animates = false;                    // loader and saver keep every frame, delay and loop
    // Largest side a file of this type can have and still be written and opened (WebP's format,
    // libheif's limit and the HEVC and AV1 levels, libjpeg's 65500, GIF's 16-bit sides,
    // ImageMagick's policy for BMP); 0: no limit. Unlike maxSide, a larger picture is
    // refused rather than shrunk, unless a size was asked for.
    int largestSide = 0;
    // What loading and saving one picture hold at their peak, in copies of its decoded pixels
    // (the saver's own buffers included: libwebp's ARGB and YUV planes, libheif's and
    // ImageMagick's copies), as measured on 12-megapixel photos: the most among film grain,
    // heavy noise, flat screenshots and 16-bit pictures. What grows with the content (WebP) or
    // the width comes on top (ImageEngine).
    double workingCopies = 2;
};

// The one table the engine reads and writes with: `canHandle` and `convert` both ask it, so an
// offered conversion is one the engine can carry out. Savers are chosen from a format's content
// types, never from a file name's suffix. Safe to call from any thread.
class ImageFormatTable {
public:
    // Every codec known here, whether or not this build of libvips has it.
    static const std::vector<ImageCodec>& codecs();

    // The codec a format is read as: the first of its content types whose loader this build
    // has; nullptr when none.
    static const ImageCodec* readable(const Format& format);
    // The codec a format is written as: the first of its content types whose saver this build
    // has; nullptr when none.
    static const ImageCodec* writable(const Format& format);

    // The codec libvips would decode this file's content with, or nullptr when the content is
    // none of the admitted types (unknown data, an empty file, a type whose loader is blocked,
    // or anything but an icon or bitmap that only ImageMagick could read).
    static const ImageCodec* sniff(const std::filesystem::path& file);

    // The entry of an icon file a reader should show: the largest (most pixels, then most
    // colour bits), as a page index for ImageMagick's loader; 0 when the directory is unreadable.
    static int largestIconEntry(const std::filesystem::path& file);

    // The options every save with this codec starts from: the quality (0…1, for savers that
    // take one; none leaves the saver's own), the AV1 coder for AVIF, ImageMagick's coder, and
    // deflate for TIFF, which libvips would otherwise write uncompressed.
    static vips::VOption* saverOptions(const ImageCodec& codec, std::optional<double> quality);

    // A 0…1 quality on the 1…100 scale of the encoders; not a number gives 75.
    static int encoderQuality(double quality);
};

}  // namespace kolvex::image
