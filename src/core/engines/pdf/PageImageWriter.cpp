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
        vips::VImage picture = wrap(bitmap);
        if (codec->maxSide > 0 && std::max(picture.width(), picture.height()) > codec->maxSide) {
            // Formats with a size limit (icons) get the page shrunk to fit.
            picture = picture.thumbnail_image(codec->maxSide, vips::VImage::option()
                                                                  ->set("height", codec->maxSide)
                                                                  ->set("size", VIPS_SIZE_DOWN));
        }
        vips::VOption* options = image::ImageFormatTable::saverOptions(*codec, quality);
        // WebP's quickest search costs a page about what PNG's deflate does; its default one
        // takes twice that for files about a fifth smaller (still a third smaller than PNG).
        if (codec->saver == "webpsave") options->set("effort", 0);
        options->set("in", picture);
        options->set("filename", output.path().c_str());
        vips::VImage::call(std::string(codec->saver).c_str(), options);
    } catch (const vips::VError&) {
        vips_error_clear();
        // The saver does not say why it failed; a full volume tells. One page needs up to its
        // pixels' bytes.
        const int64_t pixels = int64_t{bitmap.width} * bitmap.height * 3;
        if (auto full = ErrorMapper::fullVolume(ErrorMapper::Subject(destination, "pdf"), output.path(),
                                                FileManagerService::shared(), pixels)) {
            throw *full;
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
