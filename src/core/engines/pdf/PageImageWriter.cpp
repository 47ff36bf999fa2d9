// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PageImageWriter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <vips/vips8>

#include "core/services/ErrorMapper.h"
#include "core/services/StagedOutput.h"
#include "core/engines/image/ImageFormatTable.h"
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

vips::VOption* options(const image::ImageCodec& codec, std::optional<double> quality) {
    vips::VOption* options = image::ImageFormatTable::saverOptions(codec, quality);
    // WebP's quickest search costs a page about what PNG's deflate does; its default one
    // takes twice that for files about a fifth smaller (still a third smaller than PNG).
    if (codec.saver == "webpsave") options->set("effort", 0);
    return options;
}

// What the page takes as a file, encoded in memory: asked only when the volume was too full to
// write it. 0 when the saver cannot write to memory.
int64_t encodedSize(const PageBitmap& bitmap, const image::ImageCodec& codec, std::optional<double> quality) {
    VipsBlob* blob = nullptr;
    try {
        vips::VImage::call((std::string(codec.saver) + "_buffer").c_str(),
                           options(codec, quality)->set("in", prepared(bitmap, codec))->set("buffer", &blob));
    } catch (const vips::VError&) {
        vips_error_clear();
    }
    if (!blob) return 0;
    const auto size = static_cast<int64_t>(VIPS_AREA(blob)->length);
    vips_area_unref(VIPS_AREA(blob));
    return size;
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
    try {
        vips::VImage::call(std::string(codec->saver).c_str(), options(*codec, quality)
                                                                  ->set("in", prepared(bitmap, *codec))
                                                                  ->set("filename", output.path().c_str()));
    } catch (const vips::VError&) {
        vips_error_clear();
        // The saver does not say why it failed; a full volume tells, and the page, encoded in
        // memory, what it needed (at least what it had written when the volume filled up).
        const auto partial = FileManagerService::shared().size(output.path());
        if (auto full = ErrorMapper::fullVolume(ErrorMapper::Subject(destination, "pdf"), output.path(),
                                                FileManagerService::shared(), partial.value_or(0) + 1)) {
            throw ConversionError::insufficientDiskSpace(
                std::max(full->required(), encodedSize(bitmap, *codec, quality)), full->available());
        }
        std::error_code ec;
        if (!std::filesystem::exists(output.path(), ec)) {
            // Nothing could be created at all: the folder refuses new files.
            FILE* probe = std::fopen(output.path().c_str(), "wb");
            if (!probe) throw ConversionError::insufficientPermissions(destination);
            std::fclose(probe);
        }
        throw ConversionError::backendFailure("pdf", -1, "could not write page image");
    }
    return output;
}

}  // namespace kolvex
