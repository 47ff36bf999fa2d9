// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PageImageWriter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <vips/vips8>

#include "core/services/StagedOutput.h"
#include "core/engines/image/ImageFormatTable.h"
#include "core/engines/image/ImageWriter.h"
#include "core/engines/image/VipsRuntime.h"
#include "core/format/ConversionError.h"

namespace kolvex {

namespace {

vips::VImage wrap(const PageBitmap& bitmap) {
    return vips::VImage::new_from_memory(const_cast<uint8_t*>(bitmap.pixels),
                                         static_cast<size_t>(bitmap.width) * static_cast<size_t>(bitmap.height) * 3,
                                         bitmap.width, bitmap.height, 3, VIPS_FORMAT_UCHAR);
}

// The page as the saver gets it: formats with a size limit (icons) get it shrunk to fit.
vips::VImage prepared(const PageBitmap& bitmap, const image::ImageCodec& codec) {
    vips::VImage picture = wrap(bitmap);
    if (codec.maxSide > 0 && std::max(picture.width(), picture.height()) > codec.maxSide) {
        picture = picture.thumbnail_image(codec.maxSide, vips::VImage::option()
                                                             ->set("height", codec.maxSide)
                                                             ->set("size", VIPS_SIZE_DOWN));
    }
    return picture;
}

}  // namespace

bool PageImageWriter::canWrite(const Format& format) {
    try {
        return image::ImageFormatTable::writable(format) != nullptr;
    } catch (const std::exception&) {
        return false;
    }
}

StagedOutput PageImageWriter::stage(const PageBitmap& bitmap, const Format& format,
                                    const std::filesystem::path& destination, std::optional<double> quality) {
    const image::ImageCodec* codec = image::ImageFormatTable::writable(format);
    if (!codec) throw ConversionError::unsupportedCombination("PDF", format.label);

    StagedOutput output(destination);
    image::ImageWriter::Request request;
    request.label = format.label;
    request.quality = quality;
    // WebP's quickest search costs a page about what PNG's deflate does; its default one
    // takes twice that for files about a fifth smaller (still a third smaller than PNG).
    if (codec->saver == "webpsave") request.effort = 0;
    try {
        // The common writer tells a full volume by the error of the write that met it, with
        // what the whole file takes, whatever room is left once the other pages are gone.
        image::ImageWriter::save(prepared(bitmap, *codec), *codec, request, output, {});
    } catch (const vips::VError&) {
        vips_error_clear();
        throw ConversionError::backendFailure("pdf", -1, "could not write page image");
    } catch (const std::filesystem::filesystem_error&) {
        throw ConversionError::backendFailure("pdf", -1, "could not write page image");
    }
    return output;
}

}  // namespace kolvex
