// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/ImageToPdf.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include <vips/vips8>

#include "core/engines/image/ImageFormatTable.h"
#include "core/engines/image/VipsRuntime.h"
#include "core/engines/pdf/PopplerDocument.h"
#include "core/engines/pdf/QpdfDocument.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"

namespace kolvex {

namespace {

using vips::VImage;

// An image's samples as a PDF image XObject wants them.
struct PdfImage {
    int width = 0;
    int height = 0;
    std::string colourSpace;  // "/DeviceGray", "/DeviceRGB" or "/DeviceCMYK"
    int bitsPerComponent = 8;
    std::string filter;       // "" or "/DCTDecode"
    bool invertedCmyk = false;
    std::shared_ptr<const std::string> samples;
    std::shared_ptr<const std::string> alpha;  // 8- or 16-bit grey, same depth; none when opaque
    std::shared_ptr<const std::string> iccProfile;  // the samples' colour profile; none: device colour
    int orientation = 1;
};

std::optional<std::string> readWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(bytes).str();
}

// The image's embedded ICC profile when it describes samples of `components` components (its
// header names the colour space: grey, RGB or CMYK); none otherwise. A PDF reader then shows
// the colours the profile means (a Display P3 photo stays Display P3), not the raw numbers.
std::shared_ptr<const std::string> profileOf(const VImage& image, int components) {
    if (image.get_typeof(VIPS_META_ICC_NAME) == 0) return nullptr;
    size_t length = 0;
    const void* data = image.get_blob(VIPS_META_ICC_NAME, &length);
    if (!data || length < 128) return nullptr;
    const std::string profile(static_cast<const char*>(data), length);
    const std::string space = profile.substr(16, 4);
    const int described = space == "GRAY" ? 1 : space == "RGB " ? 3 : space == "CMYK" ? 4 : 0;
    if (described != components) return nullptr;
    return std::make_shared<const std::string>(profile);
}

int orientationOf(const VImage& image) {
    if (image.get_typeof(VIPS_META_ORIENTATION) == 0) return 1;
    int value = image.get_int(VIPS_META_ORIENTATION);
    return value >= 1 && value <= 8 ? value : 1;
}

// Raw samples of an 8- or 16-bit image, 16-bit ones big-endian as PDF stores them.
std::shared_ptr<const std::string> samplesOf(const VImage& image) {
    size_t length = 0;
    void* memory = image.write_to_memory(&length);
    auto bytes = std::make_shared<std::string>(static_cast<const char*>(memory), length);
    g_free(memory);
    if (image.format() == VIPS_FORMAT_USHORT) {
        for (size_t i = 0; i + 1 < bytes->size(); i += 2) std::swap((*bytes)[i], (*bytes)[i + 1]);
    }
    return bytes;
}

void throwIfTooLarge(int64_t width, int64_t height, const std::filesystem::path& source) {
    if (width < 1 || height < 1) throw ConversionError::corruptedInput(source);
    if (width * height > PopplerDocument::kMaxPagePixels) throw ConversionError::inputTooLarge(source);
}

// The largest shrink-on-load (8, 4, 2 or 1) that leaves a JPEG of this size at least a pixel a side.
int checkShrink(int width, int height) {
    const int shortest = std::min(width, height);
    for (int shrink : {8, 4, 2}) {
        if (shortest >= shrink) return shrink;
    }
    return 1;
}

// A JPEG whose compressed data can go into the PDF as they are.
std::optional<PdfImage> jpegImage(const std::filesystem::path& source, const std::string& bytes) {
    auto facts = ImageToPdf::readJpeg(bytes);
    if (facts && facts->truncated) throw ConversionError::corruptedInput(source);
    if (!facts || facts->precision != 8 || (facts->components != 1 && facts->components != 3 && facts->components != 4)) {
        return std::nullopt;
    }
    throwIfTooLarge(facts->width, facts->height, source);
    auto stripped = std::make_shared<const std::string>(std::move(facts->strippedData));
    PdfImage image;
    try {
        // The orientation lives in the metadata left out of the page; read it from the file.
        VImage header = VImage::new_from_file(source.c_str(), VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
        image.orientation = orientationOf(header);
        image.iccProfile = profileOf(header, facts->components);
        // Decode what goes into the page once, at an eighth of the size, so that a truncated or
        // damaged file is refused here rather than shown broken by every reader. libvips aborts
        // the process when the shrunk picture would have no pixels: a side under 8 px asks for less.
        VImage check = VImage::new_from_buffer(stripped->data(), stripped->size(), "",
                                               VImage::option()
                                                   ->set("shrink", checkShrink(facts->width, facts->height))
                                                   ->set("fail_on", VIPS_FAIL_ON_TRUNCATED)
                                                   ->set("access", VIPS_ACCESS_SEQUENTIAL));
        (void)check.avg();
    } catch (const vips::VError&) {
        vips_error_clear();
        throw ConversionError::corruptedInput(source);
    }
    image.width = facts->width;
    image.height = facts->height;
    image.colourSpace = facts->components == 1 ? "/DeviceGray" : facts->components == 3 ? "/DeviceRGB" : "/DeviceCMYK";
    image.invertedCmyk = facts->components == 4 && facts->adobeCmyk;
    image.filter = "/DCTDecode";
    image.samples = std::move(stripped);
    return image;
}

// Any other image, decoded upright and kept sample for sample.
PdfImage decodedImage(const std::filesystem::path& source) {
    PdfImage result;
    // Only content of an image type this program reads goes to libvips; anything else (and
    // anything only ImageMagick would take) is refused before it is decoded.
    const image::ImageCodec* codec = image::ImageFormatTable::sniff(source);
    if (!codec) throw ConversionError::corruptedInput(source);
    try {
        auto* options = VImage::option()->set("access", VIPS_ACCESS_RANDOM)->set("fail_on", VIPS_FAIL_ON_TRUNCATED);
        // An icon holds several pictures, smallest often first: the page shows the largest, as
        // every other conversion of it does.
        if (codec->name == "ico") options->set("page", image::ImageFormatTable::largestIconEntry(source));
        VImage image;
        VImage::call(std::string(codec->loader).c_str(), options->set("filename", source.c_str())->set("out", &image));
        throwIfTooLarge(image.width(), image.height(), source);
        image = image.autorot();

        const bool hasAlpha = image.has_alpha();
        VImage colour = hasAlpha ? image.extract_band(0, VImage::option()->set("n", image.bands() - 1)) : image;
        std::optional<VImage> alpha;
        if (hasAlpha) alpha = image.extract_band(image.bands() - 1);

        const VipsInterpretation interpretation = colour.interpretation();
        const bool sixteen = colour.format() == VIPS_FORMAT_USHORT &&
                             (interpretation == VIPS_INTERPRETATION_GREY16 || interpretation == VIPS_INTERPRETATION_RGB16);
        if (interpretation == VIPS_INTERPRETATION_CMYK && colour.bands() == 4) {
            result.colourSpace = "/DeviceCMYK";
            result.iccProfile = profileOf(image, 4);
        } else if (colour.bands() == 1 &&
                   (interpretation == VIPS_INTERPRETATION_B_W || interpretation == VIPS_INTERPRETATION_GREY16)) {
            result.colourSpace = "/DeviceGray";
            result.iccProfile = profileOf(image, 1);
        } else {
            // Samples already in RGB keep their profile; anything converted here is sRGB.
            const bool rgb = colour.bands() == 3 && (interpretation == VIPS_INTERPRETATION_sRGB ||
                                                     interpretation == VIPS_INTERPRETATION_RGB16);
            if (rgb) result.iccProfile = profileOf(image, 3);
            colour = colour.colourspace(sixteen ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB);
            result.colourSpace = "/DeviceRGB";
        }
        const VipsBandFormat depth = sixteen ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR;
        if (colour.format() != depth) colour = colour.cast(depth, VImage::option()->set("shift", colour.format() == VIPS_FORMAT_USHORT));
        if (alpha && alpha->format() != depth) {
            alpha = alpha->cast(depth, VImage::option()->set("shift", alpha->format() == VIPS_FORMAT_USHORT));
        }
        const int expectedBands = result.colourSpace == "/DeviceGray" ? 1 : result.colourSpace == "/DeviceRGB" ? 3 : 4;
        if (colour.bands() != expectedBands) throw ConversionError::corruptedInput(source);

        result.width = colour.width();
        result.height = colour.height();
        result.bitsPerComponent = sixteen ? 16 : 8;
        result.samples = samplesOf(colour);
        if (alpha) result.alpha = samplesOf(*alpha);
    } catch (const vips::VError&) {
        vips_error_clear();
        throw ConversionError::corruptedInput(source);
    }
    return result;
}

}  // namespace

std::optional<ImageToPdf::JpegFacts> ImageToPdf::readJpeg(const std::string& bytes) {
    const auto byteAt = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    if (bytes.size() < 4 || byteAt(0) != 0xFF || byteAt(1) != 0xD8) return std::nullopt;

    JpegFacts facts;
    std::string& out = facts.strippedData;
    out.reserve(bytes.size());
    out.append(bytes, 0, 2);
    size_t at = 2;
    bool sawFrame = false;
    while (at < bytes.size()) {
        if (byteAt(at) != 0xFF) return std::nullopt;
        size_t markerAt = at;
        while (at < bytes.size() && byteAt(at) == 0xFF) ++at;  // fill bytes
        if (at >= bytes.size()) return std::nullopt;
        const uint8_t marker = byteAt(at++);
        if (marker == 0xD8 || marker == 0xD9) return std::nullopt;  // a second start, or no picture
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            out.append(bytes, markerAt, at - markerAt);
            continue;
        }
        if (at + 2 > bytes.size()) return std::nullopt;
        const size_t length = (static_cast<size_t>(byteAt(at)) << 8) | byteAt(at + 1);
        if (length < 2 || at + length > bytes.size()) return std::nullopt;
        const size_t data = at + 2;
        const size_t end = at + length;

        if (marker == 0xDA) {  // start of scan: the entropy-coded data and the rest go as they are
            if (!sawFrame) return std::nullopt;
            // Coded data never holds FF D9 except as the end marker: without it the file was cut.
            if (bytes.find("\xFF\xD9", end) == std::string::npos) facts.truncated = true;
            out.append(bytes, markerAt, std::string::npos);
            return facts;
        }
        const bool frame = marker == 0xC0 || marker == 0xC1 || marker == 0xC2;
        if (marker >= 0xC3 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            return std::nullopt;  // lossless or arithmetic coding: not for every PDF reader
        }
        if (frame) {
            if (length < 8) return std::nullopt;
            facts.precision = byteAt(data);
            facts.height = (byteAt(data + 1) << 8) | byteAt(data + 2);
            facts.width = (byteAt(data + 3) << 8) | byteAt(data + 4);
            facts.components = byteAt(data + 5);
            if (facts.width == 0 || facts.height == 0) return std::nullopt;
            sawFrame = true;
        }
        if (marker == 0xEE && length >= 2 + 12 && bytes.compare(data, 5, "Adobe") == 0) facts.adobeCmyk = true;
        // EXIF and XMP (APP1) and IPTC (APP13) stay behind; the orientation is applied on the page.
        if (marker != 0xE1 && marker != 0xED) out.append(bytes, markerAt, end - markerAt);
        at = end;
    }
    return std::nullopt;
}

std::array<double, 6> ImageToPdf::placement(int orientation, double w, double h) {
    switch (orientation) {
        case 2: return {-w, 0, 0, h, w, 0};
        case 3: return {-w, 0, 0, -h, w, h};
        case 4: return {w, 0, 0, -h, 0, h};
        case 5: return {0, -h, -w, 0, w, h};
        case 6: return {0, -h, w, 0, 0, h};
        case 7: return {0, h, w, 0, 0, 0};
        case 8: return {0, h, -w, 0, w, 0};
        default: return {w, 0, 0, h, 0, 0};
    }
}

std::filesystem::path ImageToPdf::write(const std::filesystem::path& source, const std::filesystem::path& destination,
                       double pointsPerPixel, const ProgressCallback& progress, std::stop_token stop) {
    image::ensureVipsStarted();
    auto bytes = readWhole(source);
    if (!bytes) throw ConversionError::corruptedInput(source);
    std::optional<PdfImage> image = jpegImage(source, *bytes);
    bytes.reset();
    if (!image) image = decodedImage(source);

    if (progress) progress(0.5);
    throwIfStopRequested(stop);

    const bool turned = image->orientation >= 5;
    const double pageWidth = (turned ? image->height : image->width) * pointsPerPixel;
    const double pageHeight = (turned ? image->width : image->height) * pointsPerPixel;

    qpdf_bridge::PicturePage page;
    page.mediaBox = {0, 0, pageWidth, pageHeight};
    page.placement = placement(image->orientation, pageWidth, pageHeight);
    page.pixelWidth = image->width;
    page.pixelHeight = image->height;
    page.colourSpace = image->colourSpace;
    page.iccProfile = image->iccProfile;
    page.bitsPerComponent = image->bitsPerComponent;
    page.filter = image->filter;
    page.invertedCmyk = image->invertedCmyk;
    page.samples = image->samples;
    page.alpha = image->alpha;
    auto document = QpdfDocument::makeEmpty();
    try {
        qpdf_bridge::appendPicturePage(*document, page);
    } catch (const std::exception&) {
        throw ConversionError::backendFailure("pdf", -1, "qpdf could not write the document");
    }
    return QpdfDocument::write(*document, destination, {});
}

}  // namespace kolvex
