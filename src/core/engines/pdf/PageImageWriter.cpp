#include "core/engines/pdf/PageImageWriter.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>

#include <vips/vips8>

#include "core/engines/pdf/StagedOutput.h"
#include "core/engines/pdf/VipsRuntime.h"
#include "core/format/ConversionError.h"

namespace kolvex {

namespace {

struct Saver {
    const char* operation;   // the libvips saver
    bool takesQuality;       // has a lossy "Q"
    const char* heifCodec;   // heifsave's compression, when that is the saver
    const char* magickName;  // magicksave's format, when that is the saver
};

const std::map<std::string, Saver, std::less<>>& saverTable() {
    static const std::map<std::string, Saver, std::less<>> table{
        {"image/png", {"pngsave", false, nullptr, nullptr}},
        {"image/jpeg", {"jpegsave", true, nullptr, nullptr}},
        {"image/webp", {"webpsave", true, nullptr, nullptr}},
        {"image/tiff", {"tiffsave", false, nullptr, nullptr}},
        {"image/gif", {"gifsave", false, nullptr, nullptr}},
        {"image/heic", {"heifsave", true, "hevc", nullptr}},
        {"image/heif", {"heifsave", true, "hevc", nullptr}},
        {"image/avif", {"heifsave", true, "av1", nullptr}},
        {"image/jxl", {"jxlsave", true, nullptr, nullptr}},
        {"image/jp2", {"jp2ksave", true, nullptr, nullptr}},
        {"image/bmp", {"magicksave", false, nullptr, "BMP"}},
        {"image/x-portable-pixmap", {"ppmsave", false, nullptr, nullptr}},
    };
    return table;
}

const Saver* saverFor(const Format& format) {
    if (format.contentTypes.empty()) return nullptr;
    const auto& table = saverTable();
    auto found = table.find(format.contentTypes.front());
    return found == table.end() ? nullptr : &found->second;
}

bool saverAvailable(const Saver& saver) {
    try {
        ensureVipsStarted();
    } catch (const std::exception&) {
        return false;
    }
    return vips_type_find("VipsOperation", saver.operation) != 0;
}

vips::VImage wrap(const PageBitmap& bitmap) {
    return vips::VImage::new_from_memory(const_cast<uint8_t*>(bitmap.pixels),
                                         static_cast<size_t>(bitmap.width) * static_cast<size_t>(bitmap.height) * 3,
                                         bitmap.width, bitmap.height, 3, VIPS_FORMAT_UCHAR);
}

}  // namespace

int PageImageWriter::encoderQuality(double quality) {
    if (!std::isfinite(quality)) return 75;
    return std::clamp(static_cast<int>(std::lround(quality * 100.0)), 1, 100);
}

bool PageImageWriter::canWrite(const Format& format) {
    const Saver* saver = saverFor(format);
    return saver && saverAvailable(*saver);
}

void PageImageWriter::save(const PageBitmap& bitmap, const Format& format, const std::filesystem::path& destination,
                           std::optional<double> quality) {
    const Saver* saver = saverFor(format);
    if (!saver || !saverAvailable(*saver)) throw ConversionError::unsupportedCombination("PDF", format.label);

    StagedOutput output(destination);
    try {
        vips::VImage image = wrap(bitmap);
        vips::VOption* options = vips::VImage::option();
        if (saver->takesQuality && quality) options->set("Q", encoderQuality(*quality));
        if (saver->heifCodec) {
            options->set("compression", vips_enum_from_nick("kolvex", VIPS_TYPE_FOREIGN_HEIF_COMPRESSION, saver->heifCodec));
        }
        if (saver->magickName) options->set("format", saver->magickName);
        options->set("in", image);
        options->set("filename", output.temporaryPath().c_str());
        vips::VImage::call(saver->operation, options);
    } catch (const vips::VError&) {
        vips_error_clear();
        std::error_code ec;
        if (!std::filesystem::exists(output.temporaryPath(), ec)) {
            // Nothing could be created at all: the folder refuses new files.
            FILE* probe = std::fopen(output.temporaryPath().c_str(), "wb");
            if (!probe) throw ConversionError::insufficientPermissions(destination);
            std::fclose(probe);
        }
        throw ConversionError::backendFailure("pdf", -1, "could not write page image");
    }
    output.commit();
}

std::string PageImageWriter::encodeJpeg(const PageBitmap& bitmap, double quality) {
    ensureVipsStarted();
    try {
        vips::VImage image = wrap(bitmap);
        VipsBlob* blob = image.jpegsave_buffer(vips::VImage::option()->set("Q", encoderQuality(quality)));
        size_t length = 0;
        const void* data = vips_blob_get(blob, &length);
        std::string bytes(static_cast<const char*>(data), length);
        vips_area_unref(VIPS_AREA(blob));
        return bytes;
    } catch (const vips::VError& error) {
        vips_error_clear();
        throw std::runtime_error(error.what());
    }
}

}  // namespace kolvex
