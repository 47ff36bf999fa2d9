// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/image/ImageEngine.h"

#include <regex>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <vips/vips8>

#include "core/conversion/CompressionGuard.h"
#include "core/conversion/ResizePlan.h"
#include "core/engines/image/ImageFormatTable.h"
#include "core/engines/image/ImageLimits.h"
#include "core/engines/image/ImageMemory.h"
#include "core/engines/image/ImageMetadata.h"
#include "core/engines/image/ImageTransforms.h"
#include "core/engines/image/ImageWriter.h"
#include "core/engines/image/MagickScratch.h"
#include "core/engines/image/JpegSegments.h"
#include "core/engines/image/VipsRuntime.h"
#include "core/services/Cancellation.h"
#include "core/services/MemoryBudget.h"
#include "core/services/StagedOutput.h"

namespace kolvex {

namespace {

namespace fs = std::filesystem;
using image::ImageCodec;
using image::ImageFormatTable;
using image::ImageLimits;
using image::ImageMetadata;
using image::ImageTransforms;
using vips::VImage;

constexpr const char* kEngine = "image";
// A JPEG written from a JPEG whose quality cannot be told keeps this much.
constexpr double kUnknownJpegQuality = 0.92;

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

std::string readWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int orientationOf(const VImage& image) {
    return image.get_typeof(VIPS_META_ORIENTATION) != 0 ? image.get_int(VIPS_META_ORIENTATION) : 1;
}

int pagesIn(const VImage& image) { return image.get_typeof(VIPS_META_N_PAGES) != 0 ? image.get_int(VIPS_META_N_PAGES) : 1; }

// libvips hands a deep HEIF's samples over as 16 bits and keeps the depth they had in the file.
int bitsOf(const VImage& image) {
    if (image.get_typeof("heif-bitdepth") != 0) return std::clamp(image.get_int("heif-bitdepth"), 8, 16);
    return image.format() == VIPS_FORMAT_UCHAR || image.format() == VIPS_FORMAT_CHAR ? 8 : 16;
}

struct Plan {
    const ImageCodec* source = nullptr;
    const ImageCodec* target = nullptr;
    int page = 0;           // the source's picture: the largest entry of an icon, else the first
    bool animated = false;  // every frame goes to the output
    int orientation = 1;    // the source's EXIF orientation
    int64_t longest = 1;    // longest side of the upright source (of one frame)
    int64_t cap = 1;        // longest side wanted
    int sourceBits = 8;     // bits of the source's samples: 10 or 12 for a deep HEIF, 16 for 16-bit PNG and TIFF
    double degrees = 0;
    bool strip = false;
};

// Whether a saver writes the picture's colour profile into its file.
bool carriesProfile(const ImageCodec& codec) {
    return codec.saver != "gifsave" && codec.name != "ico";
}

VImage load(const ImageCodec& codec, const fs::path& file, VipsAccess access, const Plan& plan) {
    VImage out;
    auto* options = VImage::option()
                        ->set("filename", file.c_str())
                        ->set("access", access)
                        ->set("fail_on", VIPS_FAIL_ON_ERROR);
    if (plan.page > 0) options->set("page", plan.page);
    if (plan.animated) options->set("n", -1);
    VImage::call(std::string(codec.loader).c_str(), options->set("out", &out));
    return out;
}

// Whether the source decodes from start to end. Asked only after an encode failed, to tell a
// damaged source from a saver that gave up, and before a JPEG is copied without decoding.
bool failedInALoader(const std::string& vipsMessage) {
    static const std::regex loader(R"((^|\s)[a-z0-9]+load(_[a-z]+)?: )");
    return std::regex_search(vipsMessage, loader);
}

bool decodesFully(const ImageCodec& codec, const fs::path& file, const Plan& plan) {
    try {
        (void)load(codec, file, VIPS_ACCESS_SEQUENTIAL, plan).avg();
        return true;
    } catch (const vips::VError& error) {
        takeVipsError(error);
        return false;
    }
}

// Every frame through the same pixel work, joined again with the source's timing and loop.
VImage decodeAnimation(const ConversionJob& job, const Plan& plan) {
    VImage all = load(*plan.source, job.source, VIPS_ACCESS_RANDOM, plan);
    const int frames = pagesIn(all);
    const int frameHeight = all.get_typeof(VIPS_META_PAGE_HEIGHT) != 0 ? all.get_int(VIPS_META_PAGE_HEIGHT)
                                                                       : all.height() / std::max(frames, 1);
    if (frameHeight < 1 || frameHeight * frames != all.height()) throw ConversionError::corruptedInput(job.source);
    std::vector<VImage> done;
    done.reserve(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        done.push_back(ImageTransforms::apply(all.extract_area(0, i * frameHeight, all.width(), frameHeight), job,
                                              plan.cap, plan.degrees));
    }
    VImage joined = VImage::arrayjoin(done, VImage::option()->set("across", 1)).copy();
    joined.set(VIPS_META_PAGE_HEIGHT, done.front().height());
    joined.set(VIPS_META_N_PAGES, frames);
    if (all.get_typeof("delay") != 0) joined.set("delay", all.get_array_int("delay"));
    if (all.get_typeof("loop") != 0) joined.set("loop", all.get_int("loop"));
    return joined;
}

// Whether the pixel work reads the source once from top to bottom, so the loader can stream it
// instead of decoding the whole picture first. Not when the picture is turned or mirrored top to
// bottom (by its orientation tag, a rotation or a vertical flip), nor for a saver that reads its
// input more than once.
bool readsInOrder(const ConversionJob& job, const Plan& plan) {
    return plan.target->streams && plan.orientation == 1 && plan.degrees == 0 && !job.options.flipVertical;
}

// Whether the loader shrinks the picture while decoding it, so a large source is never held at
// full size. Not for a deep picture: the shrinking loader hands back 8 bits.
bool shrinksOnLoad(const Plan& plan) {
    const std::string_view loader = plan.source->loader;
    return !plan.animated && plan.cap < plan.longest && plan.sourceBits <= 8 &&
           (loader == "jpegload" || loader == "webpload" || loader == "heifload");
}

// Orientation and size cap in one decode, then crop, then flips and the turn.
VImage decode(const ConversionJob& job, const Plan& plan) {
    if (plan.animated) return decodeAnimation(job, plan);
    if (shrinksOnLoad(plan)) {
        const int cap = static_cast<int>(plan.cap);
        VImage image = VImage::thumbnail(job.source.c_str(), cap,
                                         VImage::option()
                                             ->set("height", cap)
                                             ->set("size", VIPS_SIZE_DOWN)
                                             ->set("fail_on", VIPS_FAIL_ON_ERROR));
        return ImageTransforms::apply(image, job, plan.cap, plan.degrees);
    }
    const VipsAccess access = readsInOrder(job, plan) ? VIPS_ACCESS_SEQUENTIAL : VIPS_ACCESS_RANDOM;
    VImage image = load(*plan.source, job.source, access, plan).autorot();
    return ImageTransforms::apply(image, job, plan.cap, plan.degrees);
}

// A JPEG's headers, read up to its first scan (which is all the quality needs), or as much of
// the file as there is when no scan is found.
std::string jpegHeaders(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes;
    for (size_t chunk = 64 * 1024; in; chunk *= 2) {
        const size_t had = bytes.size();
        bytes.resize(had + chunk);
        in.read(bytes.data() + had, static_cast<std::streamsize>(chunk));
        bytes.resize(had + static_cast<size_t>(in.gcount()));
        if (auto layout = image::JpegSegments::read(bytes); layout && layout->scanStart > 0) break;
    }
    return bytes;
}

// The quality a lossy target is written at: the one asked for; for a JPEG made from a JPEG
// without one, the source's own (so a turn or a resize does not lower it); else the saver's.
std::optional<double> qualityFor(const ConversionJob& job, const Plan& plan) {
    if (!job.to.has(FormatCapability::lossy)) return std::nullopt;
    if (job.options.quality && std::isfinite(*job.options.quality)) return job.options.quality;
    if (plan.source->saver != "jpegsave" || plan.target->saver != "jpegsave") return std::nullopt;
    return image::JpegSegments::estimatedQuality(jpegHeaders(job.source)).value_or(kUnknownJpegQuality);
}

// The EXIF a TIFF is given: libvips' TIFF saver leaves it behind.
std::string tiffExif(const VImage& picture, const Plan& plan) {
    if (plan.strip || plan.target->saver != "tiffsave" || picture.get_typeof(VIPS_META_EXIF_NAME) == 0) return {};
    size_t length = 0;
    const void* exif = picture.get_blob(VIPS_META_EXIF_NAME, &length);
    return std::string(static_cast<const char*>(exif), length);
}

std::string pictureName(const ConversionJob& job, int64_t width, int64_t height) {
    return fmt::format("{} ({} × {} px)", job.source.filename().string(), width, height);
}

// The saver would write a file nobody can open (libheif refuses more than 16384 pixels a side,
// the HEVC encoder very thin strips) or fail with a bare error (WebP): the limit is named before
// anything is written. Only the pipeline's size is read; no pixel has been decoded yet.
void refuseIfTooLargeFor(const ConversionJob& job, const Plan& plan, const VImage& picture) {
    const int64_t width = picture.width();
    const int64_t height =
        plan.animated && picture.get_typeof(VIPS_META_PAGE_HEIGHT) != 0 ? picture.get_int(VIPS_META_PAGE_HEIGHT)
                                                                        : picture.height();
    if (auto refusal = ImageLimits::sizeRefusal(*plan.target, job.to.label, width, height))
        throw ConversionError::unsupportedCombination(pictureName(job, width, height), *refusal);
}

// What the pixel work of `plan` holds of the pictures, for the memory they are given.
image::PixelRoute routeOf(const ConversionJob& job, const Plan& plan) {
    image::PixelRoute route;
    route.copies = plan.target->workingCopies;
    route.shrinksOnLoad = shrinksOnLoad(plan);
    route.holdsWholeSource = plan.animated || !readsInOrder(job, plan);
    route.webp = plan.target->saver == "webpsave" && !plan.animated;
    return route;
}

// The HEVC encoder can end without a picture (a strip only a few pixels high but thousands
// wide, beyond what its levels allow) while libheif still writes the container: a file no
// reader opens. Its header is read back before it takes its name.
void ensureReadable(const ConversionJob& job, const ImageCodec& target, const VImage& picture, const fs::path& written) {
    if (target.saver != "heifsave") return;
    try {
        VImage back;
        VImage::call("heifload", VImage::option()->set("filename", written.c_str())->set("out", &back));
        if (back.width() > 0 && back.height() > 0) return;
    } catch (const vips::VError& error) {
        takeVipsError(error);
    }
    throw ConversionError::unsupportedCombination(
        pictureName(job, picture.width(), picture.height()),
        fmt::format("{}, whose encoder cannot make a picture of that shape", job.to.label));
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

namespace {

// Removing a JPEG's metadata needs no decoding: its segments go and the compressed picture is
// copied byte for byte. Only when nothing else is asked of the pixels.
bool isLosslessJpegStrip(const ConversionJob& job, const ImageCodec& source, const ImageCodec& target) {
    const bool strip = !job.options.preserveMetadata || job.options.tool == "strip-metadata";
    return strip && source.saver == "jpegsave" && target.saver == "jpegsave" && !job.options.quality &&
           !ResizePlan::asksSize(job.options) && !job.options.cropRect && job.options.rotationDegrees() == 0 &&
           !job.options.flipHorizontal && !job.options.flipVertical;
}

}  // namespace

bool ImageEngine::copiedEncodedData(const ConversionJob& job) const {
    if (!job.canPassthrough()) return false;
    try {
        image::ensureVipsStarted();
        const ImageCodec* source = ImageFormatTable::sniff(job.source);
        const ImageCodec* target = ImageFormatTable::writable(job.to);
        return source && target && isLosslessJpegStrip(job, *source, *target);
    } catch (const ConversionError&) {
        return false;
    }
}

std::vector<fs::path> ImageEngine::convert(const ConversionJob& job, const ProgressCallback& progress,
                                           std::stop_token stop) const {
    std::optional<std::string> note;
    bool leftAsItIs = false;
    return run(job, progress, std::move(stop), note, leftAsItIs);
}

ConversionOutcome ImageEngine::convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                               std::stop_token stop) const {
    ConversionOutcome outcome;
    outcome.outputs = run(job, progress, std::move(stop), outcome.note, outcome.leftAsItIs);
    if (outcome.leftAsItIs) return outcome;
    outcome.usedPassthrough = copiedEncodedData(job);
    return outcome;
}

std::vector<fs::path> ImageEngine::run(const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop,
                                       std::optional<std::string>& note, bool& leftAsItIs) const {
    throwIfStopRequested(stop);
    report(progress, 0.05);
    image::ensureVipsStarted();
    // Taken once the picture may be computed, so that the threads are shared out among the
    // pictures that run, not those waiting for memory.
    std::optional<image::VipsThreadShare> threads;

    Plan plan;
    std::error_code ec;
    if (!fs::is_regular_file(job.source, ec)) throw ConversionError::corruptedInput(job.source);
    plan.source = ImageFormatTable::sniff(job.source);
    if (!plan.source) throw ConversionError::corruptedInput(job.source);

    if (job.to.contentTypes.empty()) throw ConversionError::unsupportedCombination(job.from.label, job.to.label);
    plan.target = ImageFormatTable::writable(job.to);
    if (!plan.target) throw ConversionError::unsupportedCombination(job.from.label, job.to.label);
    // An icon holds several pictures: the one a reader would show is the largest.
    if (plan.source->name == "ico") plan.page = ImageFormatTable::largestIconEntry(job.source);
    // Before any picture: ImageMagick's files go with the job, and with a killed run's sweep.
    std::optional<image::MagickScratch> magickFiles;
    if (!plan.source->magickFormat.empty() || !plan.target->magickFormat.empty()) magickFiles.emplace();

    // Only the header is read here: the pixel count is checked before anything is decoded.
    VImage header;
    try {
        header = load(*plan.source, job.source, plan.target->streams ? VIPS_ACCESS_SEQUENTIAL : VIPS_ACCESS_RANDOM, plan);
        plan.animated = plan.source->animates && plan.target->animates && job.to.has(FormatCapability::animation) &&
                        pagesIn(header) > 1;
        if (plan.animated) header = load(*plan.source, job.source, VIPS_ACCESS_RANDOM, plan);
    } catch (const vips::VError& error) {
        takeVipsError(error);
        throw ConversionError::corruptedInput(job.source);
    }
    const int64_t width = header.width();
    const int64_t height = header.height();  // every frame, for an animation
    if (width * height > kMaxPixels) {
        throw ConversionError::inputTooLarge(job.source);
    }

    const double degrees = job.options.rotationDegrees();
    if (!std::isfinite(degrees)) throw ConversionError::backendFailure(kEngine, -1, "The rotation angle is not a number");
    plan.degrees = degrees;
    plan.orientation = orientationOf(header);
    plan.sourceBits = bitsOf(header);
    plan.strip = !job.options.preserveMetadata || job.options.tool == "strip-metadata";
    const int64_t frameHeight =
        plan.animated && header.get_typeof(VIPS_META_PAGE_HEIGHT) != 0 ? header.get_int(VIPS_META_PAGE_HEIGHT) : height;
    plan.longest = std::max<int64_t>(1, std::max(width, frameHeight));
    plan.cap = plan.longest;
    // A share is of this picture's own size; a side is never more than the picture has.
    if (ResizePlan::asksSize(job.options)) plan.cap = ResizePlan::longestSide(job.options, plan.longest);
    if (plan.target->maxSide > 0) plan.cap = std::min<int64_t>(plan.cap, plan.target->maxSide);
    // A size that was asked for is fitted to what the target can hold; otherwise the picture
    // keeps its size or is refused below.
    if (plan.target->largestSide > 0 && ResizePlan::asksSize(job.options) && plan.cap > plan.target->largestSide) {
        note = fmt::format("{} holds at most {} px a side, so the picture is {} px on its longest side instead of {}.",
                           job.to.label, plan.target->largestSide, plan.target->largestSide, plan.cap);
        plan.cap = plan.target->largestSide;
    }
    // A resize that would not shrink the picture (and that the target does not make smaller
    // either) leaves it as it is.
    if (plan.cap >= plan.longest) {
        if (auto why = ResizePlan::leftAsItIs(job.options, width, frameHeight)) {
            note = std::move(why);
            leftAsItIs = true;
            report(progress, 1.0);
            return {};
        }
    }

    report(progress, 0.2);
    throwIfStopRequested(stop);

    if (isLosslessJpegStrip(job, *plan.source, *plan.target)) {
        // A damaged source is refused, never copied on as if it were whole.
        threads.emplace();
        if (!decodesFully(*plan.source, job.source, plan)) throw ConversionError::corruptedInput(job.source);
        auto stripped = image::JpegSegments::withoutMetadata(readWhole(job.source), orientationOf(header));
        if (!stripped) throw ConversionError::corruptedInput(job.source);
        report(progress, 0.85);
        const auto written = StagedOutput::writeAtomically(job.destination, *stripped);
        report(progress, 1.0);
        return {written};
    }

    // Nothing changes the pixels: the source goes straight to the saver with its metadata,
    // orientation tag included.
    const bool straight = !ResizePlan::asksSize(job.options) && !job.options.cropRect && plan.degrees == 0 &&
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

    refuseIfTooLargeFor(job, plan, picture);
    const MemoryBudget::Share memory(image::pictureBudget(),
                                     image::workingMemory(job.source, header, picture, routeOf(job, plan)), stop);
    threads.emplace();

    StagedOutput output(job.destination);
    try {
        // A target without alpha gets the picture on white, never on libvips' default black.
        if (picture.has_alpha() && !job.to.has(FormatCapability::alpha)) {
            const double opaque = ImageTransforms::maxAlpha(picture);
            picture = picture.flatten(
                VImage::option()->set("background", std::vector<double>{opaque})->set("max_alpha", opaque));
        }
        if (plan.strip) {
            picture = picture.copy();
            ImageMetadata::removePersonalFields(picture);
        }
        // A target that cannot carry a colour profile (GIF, ICO) gets its numbers in sRGB, which
        // is what every reader takes profile-less numbers for: Adobe RGB's would look dull.
        if (!carriesProfile(*plan.target) && picture.get_typeof(VIPS_META_ICC_NAME) != 0) {
            picture = picture.icc_transform("srgb", VImage::option()->set("embedded", true)).copy();
            picture.remove(VIPS_META_ICC_NAME);
        }
        image::ImageWriter::save(picture, *plan.target,
                                 {job.to.label, qualityFor(job, plan), plan.strip, tiffExif(picture, plan), plan.sourceBits}, output,
                                 stop);
    } catch (const vips::VError& error) {
        std::string detail = takeVipsError(error);
        // The saver pulls the pixels through the loader, so a damaged frame can fail here; the
        // loader names itself in the message ("gifload: Invalid frame data").
        if (failedInALoader(detail) || !decodesFully(*plan.source, job.source, plan))
            throw ConversionError::corruptedInput(job.source);
        throw ConversionError::backendFailure(kEngine, -1,
                                              fmt::format("Encoding failed for {}: {}", job.to.label, detail));
    }
    report(progress, 0.85);
    ensureReadable(job, *plan.target, picture, output.path());

    CompressionGuard::keepSmaller(job, output.path());
    output.commit();
    report(progress, 1.0);
    return {output.destination()};
}

}  // namespace kolvex
