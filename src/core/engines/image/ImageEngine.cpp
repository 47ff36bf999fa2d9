#include "core/engines/image/ImageEngine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

#include <fmt/format.h>
#include <vips/vips8>

#include "core/conversion/CompressionGuard.h"
#include "core/engines/image/ImageFormatTable.h"
#include "core/engines/image/ImageMetadata.h"
#include "core/engines/image/VipsRuntime.h"
#include "core/services/Cancellation.h"
#include "core/services/StagedOutput.h"

namespace kolvex {

namespace {

namespace fs = std::filesystem;
using image::ImageCodec;
using image::ImageFormatTable;
using image::ImageMetadata;
using vips::VImage;

constexpr const char* kEngine = "image";

void report(const ProgressCallback& progress, double fraction) {
    if (progress) progress(fraction);
}

std::string firstLine(const char* text) {
    std::string line(text ? text : "");
    if (auto end = line.find('\n'); end != std::string::npos) line.resize(end);
    return line;
}

// libvips keeps one error text for the whole process; each failure is read and then cleared
// so the next one does not carry it along.
std::string takeVipsError(const vips::VError& error) {
    std::string text = firstLine(error.what());
    vips_error_clear();
    return text;
}

VImage load(const ImageCodec& codec, const fs::path& file, VipsAccess access) {
    VImage out;
    VImage::call(std::string(codec.loader).c_str(), VImage::option()
                                                        ->set("filename", file.c_str())
                                                        ->set("access", access)
                                                        ->set("fail_on", VIPS_FAIL_ON_ERROR)
                                                        ->set("out", &out));
    return out;
}

// Whether the source decodes from start to end. Asked only after an encode failed, to tell a
// damaged source from a saver that gave up.
bool decodesFully(const ImageCodec& codec, const fs::path& file) {
    try {
        (void)load(codec, file, VIPS_ACCESS_SEQUENTIAL).avg();
        return true;
    } catch (const vips::VError& error) {
        takeVipsError(error);
        return false;
    }
}

int orientationOf(const VImage& image) {
    return image.get_typeof(VIPS_META_ORIENTATION) != 0 ? image.get_int(VIPS_META_ORIENTATION) : 1;
}

// Opaque alpha, and white, in the image's own sample range.
double maxAlpha(const VImage& image) {
    const VipsInterpretation interpretation = image.interpretation();
    return interpretation == VIPS_INTERPRETATION_RGB16 || interpretation == VIPS_INTERPRETATION_GREY16 ? 65535 : 255;
}

VImage cropped(const VImage& image, const UnitRect& rect) {
    const ConversionError noArea = ConversionError::unsupportedCombination("crop region", "an image with area");
    if (!std::isfinite(rect.x) || !std::isfinite(rect.y) || !std::isfinite(rect.width) ||
        !std::isfinite(rect.height)) {
        throw noArea;
    }
    const double width = image.width();
    const double height = image.height();
    // Unit coordinates grow upward from the bottom-left; pixel rows grow downward from the top.
    const double x = std::floor(rect.minX() * width);
    const double y = std::floor((1 - rect.maxY()) * height);
    const double w = std::round(rect.width * width);
    const double h = std::round(rect.height * height);
    const double left = std::max(x, 0.0);
    const double top = std::max(y, 0.0);
    const double right = std::min(x + w, width);
    const double bottom = std::min(y + h, height);
    if (!(right - left >= 1) || !(bottom - top >= 1)) throw noArea;
    return image.extract_area(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                              static_cast<int>(bottom - top));
}

// Turns the picture clockwise by `degrees` onto a canvas of exactly rotatedSize(); the corners
// it uncovers are transparent (flattened onto white later when the target has no alpha).
VImage turned(VImage image, double degrees) {
    if (degrees == 90) return image.rot(VIPS_ANGLE_D90);
    if (degrees == 180) return image.rot(VIPS_ANGLE_D180);
    if (degrees == 270) return image.rot(VIPS_ANGLE_D270);

    if (image.interpretation() == VIPS_INTERPRETATION_CMYK) image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    const VipsBandFormat format = image.format();
    const double alphaMax = maxAlpha(image);
    if (!image.has_alpha()) image = image.bandjoin_const({alphaMax});

    const auto [canvasWidth, canvasHeight] =
        ImageEngine::rotatedSize(image.width(), image.height(), degrees);
    const double radians = degrees * std::numbers::pi / 180;
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    // Pixel rows grow downward, so this matrix turns clockwise as seen.
    VImage out = image.premultiply(VImage::option()->set("max_alpha", alphaMax))
                     .affine({c, -s, s, c}, VImage::option()
                                                ->set("interpolate", vips::VInterpolate::new_from_name("bicubic"))
                                                ->set("oarea", std::vector<int>{0, 0, static_cast<int>(canvasWidth),
                                                                                static_cast<int>(canvasHeight)})
                                                ->set("idx", -image.width() / 2.0)
                                                ->set("idy", -image.height() / 2.0)
                                                ->set("odx", canvasWidth / 2.0)
                                                ->set("ody", canvasHeight / 2.0)
                                                ->set("background", std::vector<double>{0}));
    return out.unpremultiply(VImage::option()->set("max_alpha", alphaMax)).cast(format);
}

struct Plan {
    const ImageCodec* source = nullptr;
    const ImageCodec* target = nullptr;
    int64_t longest = 1;  // longest side of the upright source
    int64_t cap = 1;      // longest side wanted
    double degrees = 0;
    bool strip = false;
};

// Orientation and size cap in one decode, then crop, then flips and the turn.
VImage decode(const ConversionJob& job, const Plan& plan) {
    VImage image;
    const std::string_view loader = plan.source->loader;
    if (plan.cap < plan.longest && (loader == "jpegload" || loader == "webpload" || loader == "heifload")) {
        // These loaders can shrink while decoding, so a large source is never held at full size.
        const int cap = static_cast<int>(plan.cap);
        image = VImage::thumbnail(job.source.c_str(), cap, VImage::option()
                                                               ->set("height", cap)
                                                               ->set("size", VIPS_SIZE_DOWN)
                                                               ->set("fail_on", VIPS_FAIL_ON_ERROR));
    } else {
        image = load(*plan.source, job.source, VIPS_ACCESS_RANDOM).autorot();
        if (plan.cap < plan.longest) {
            const int cap = static_cast<int>(plan.cap);
            image = image.thumbnail_image(
                cap, VImage::option()->set("height", cap)->set("size", VIPS_SIZE_DOWN)->set("no_rotate", true));
        }
    }

    if (job.options.cropRect) image = cropped(image, *job.options.cropRect);

    // Flips act on the picture before it is turned.
    if (job.options.flipHorizontal) image = image.flip(VIPS_DIRECTION_HORIZONTAL);
    if (job.options.flipVertical) image = image.flip(VIPS_DIRECTION_VERTICAL);
    if (plan.degrees != 0) image = turned(image, plan.degrees);
    return image;
}

std::string encode(const VImage& image, const ImageCodec& codec, const ConversionJob& job) {
    auto* options = VImage::option();
    if (job.options.quality && std::isfinite(*job.options.quality) && codec.takesQuality &&
        job.to.has(FormatCapability::lossy)) {
        options->set("Q", static_cast<int>(std::clamp(std::lround(*job.options.quality * 100), 1L, 100L)));
    }
    if (codec.heifCompression == "av1") options->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1);
    if (!codec.magickFormat.empty()) options->set("format", std::string(codec.magickFormat).c_str());

    VipsBlob* blob = nullptr;
    const std::string saver = std::string(codec.saver) + "_buffer";
    VImage::call(saver.c_str(), options->set("in", image)->set("buffer", &blob));
    std::unique_ptr<VipsArea, decltype(&vips_area_unref)> owned(VIPS_AREA(blob), vips_area_unref);
    return std::string(static_cast<const char*>(owned->data), owned->length);
}

std::string withoutMetadata(std::string bytes, const ImageCodec& codec, const ConversionJob& job) {
    std::optional<std::string> stripped;
    if (codec.saver == "jpegsave") {
        stripped = ImageMetadata::withoutJpegMetadata(bytes);
    } else if (codec.saver == "webpsave") {
        stripped = ImageMetadata::withoutWebpMetadata(bytes);
    } else {
        return bytes;
    }
    if (!stripped) {
        throw ConversionError::backendFailure(kEngine, -1, "Could not remove the metadata from the " + job.to.label +
                                                               " file");
    }
    return std::move(*stripped);
}

}  // namespace

const std::set<std::string>& ImageEngine::supportedTools() {
    static const std::set<std::string> tools{"compress", "resize", "crop", "rotate", "flip", "strip-metadata"};
    return tools;
}

bool ImageEngine::canRead(const Format& format) { return ImageFormatTable::readable(format) != nullptr; }

bool ImageEngine::canWrite(const Format& format) { return ImageFormatTable::writable(format) != nullptr; }

bool ImageEngine::canHandle(const ConversionJob& job) const {
    if (job.from.category != FormatCategory::image || job.to.category != FormatCategory::image) return false;
    if (job.options.tool && !supportedTools().contains(*job.options.tool)) return false;
    return canRead(job.from) && canWrite(job.to);
}

std::pair<int64_t, int64_t> ImageEngine::rotatedSize(int64_t width, int64_t height, double degrees) {
    if (!std::isfinite(degrees)) degrees = 0;
    const double radians = degrees * std::numbers::pi / 180;
    const double c = std::abs(std::cos(radians));
    const double s = std::abs(std::sin(radians));
    const double w = static_cast<double>(width);
    const double h = static_cast<double>(height);
    auto side = [](double value) { return std::max<int64_t>(1, std::llround(value)); };
    return {side(c * w + s * h), side(s * w + c * h)};
}

std::vector<fs::path> ImageEngine::convert(const ConversionJob& job, const ProgressCallback& progress,
                                           std::stop_token stop) const {
    throwIfStopRequested(stop);
    report(progress, 0.05);
    image::ensureVipsStarted();

    Plan plan;
    std::error_code ec;
    if (!fs::is_regular_file(job.source, ec)) throw ConversionError::corruptedInput(job.source);
    plan.source = ImageFormatTable::sniff(job.source);
    if (!plan.source) throw ConversionError::corruptedInput(job.source);

    if (job.to.contentTypes.empty()) throw ConversionError::unsupportedCombination(job.from.label, job.to.label);
    plan.target = ImageFormatTable::writable(job.to);
    if (!plan.target) throw ConversionError::unsupportedCombination(job.from.label, job.to.label);

    // Only the header is read here: the pixel count is checked before anything is decoded.
    VImage header;
    try {
        header = load(*plan.source, job.source, plan.target->streams ? VIPS_ACCESS_SEQUENTIAL : VIPS_ACCESS_RANDOM);
    } catch (const vips::VError& error) {
        takeVipsError(error);
        throw ConversionError::corruptedInput(job.source);
    }
    const int64_t width = header.width();
    const int64_t height = header.height();
    if (width * height > kMaxPixels) {
        throw ConversionError::backendFailure(
            kEngine, -1, fmt::format("The image is too large to convert ({} × {} pixels)", width, height));
    }

    const double degrees = job.options.rotationDegrees();
    if (!std::isfinite(degrees)) throw ConversionError::backendFailure(kEngine, -1, "The rotation angle is not a number");
    plan.degrees = degrees;
    plan.strip = !job.options.preserveMetadata || job.options.tool == "strip-metadata";
    plan.longest = std::max<int64_t>(1, std::max(width, height));
    plan.cap = plan.longest;
    if (job.options.maxDimension) plan.cap = std::clamp<int64_t>(*job.options.maxDimension, 1, plan.cap);
    if (plan.target->maxSide > 0) plan.cap = std::min<int64_t>(plan.cap, plan.target->maxSide);

    report(progress, 0.2);
    throwIfStopRequested(stop);

    // Nothing changes the pixels: the source goes straight to the saver with its metadata,
    // orientation tag included.
    const bool straight = !job.options.maxDimension && !job.options.cropRect && plan.degrees == 0 &&
                          !job.options.flipHorizontal && !job.options.flipVertical && !plan.strip &&
                          plan.cap == plan.longest;
    VImage picture;
    if (straight) {
        picture = header;
        // A saver that cannot carry the orientation tag gets the picture turned upright instead,
        // or it would come out sideways; the rest of the metadata still goes along.
        if (!plan.target->keepsOrientation && orientationOf(header) != 1) {
            try {
                picture = header.autorot();
            } catch (const vips::VError& error) {
                takeVipsError(error);
                throw ConversionError::corruptedInput(job.source);
            }
        }
    } else {
        try {
            picture = decode(job, plan);
        } catch (const vips::VError& error) {
            takeVipsError(error);
            throw ConversionError::corruptedInput(job.source);
        }
        report(progress, 0.6);
    }

    std::string bytes;
    try {
        // A target without alpha gets the picture on white, never on libvips' default black.
        if (picture.has_alpha() && !job.to.has(FormatCapability::alpha)) {
            picture = picture.flatten(VImage::option()
                                          ->set("background", std::vector<double>{maxAlpha(picture)})
                                          ->set("max_alpha", maxAlpha(picture)));
        }
        if (plan.strip) {
            picture = picture.copy();
            ImageMetadata::removePersonalFields(picture);
        }
        throwIfStopRequested(stop);
        bytes = encode(picture, *plan.target, job);
    } catch (const vips::VError& error) {
        std::string detail = takeVipsError(error);
        if (!decodesFully(*plan.source, job.source)) throw ConversionError::corruptedInput(job.source);
        throw ConversionError::backendFailure(kEngine, -1,
                                              fmt::format("Encoding failed for {}: {}", job.to.label, detail));
    }
    if (plan.strip) bytes = withoutMetadata(std::move(bytes), *plan.target, job);
    report(progress, 0.85);

    StagedOutput output(job.destination);
    output.write(bytes);
    CompressionGuard::keepSmaller(job, output.path());
    output.commit();
    report(progress, 1.0);
    return {job.destination};
}

}  // namespace kolvex
