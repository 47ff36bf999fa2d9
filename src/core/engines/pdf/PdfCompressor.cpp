// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PdfCompressor.h"

#include <algorithm>
#include <cmath>

#include <vips/vips8>

#include "core/conversion/CompressionGuard.h"
#include "core/engines/image/VipsRuntime.h"
#include "core/engines/pdf/QpdfDocument.h"
#include "core/services/Cancellation.h"
#include "core/engines/image/ImageFormatTable.h"

namespace kolvex {

std::optional<qpdf_bridge::JpegReplacement> PdfCompressor::shrink(const qpdf_bridge::DecodedImage& image,
                                                                  double quality, double pixelsPerInch) {
    image::ensureVipsStarted();
    try {
        vips::VImage picture = vips::VImage::new_from_memory(const_cast<char*>(image.samples.data()),
                                                             image.samples.size(), image.width, image.height,
                                                             image.components, VIPS_FORMAT_UCHAR)
                                   .copy(vips::VImage::option()->set(
                                       "interpretation",
                                       image.components == 1 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB));
        if (image.shownWidth > 0 && image.shownHeight > 0 && pixelsPerInch > 0) {
            // The resolution the page shows it at; the lower of the two axes decides, so that
            // no direction ends up below the target.
            const double shown = std::min(image.width * 72.0 / image.shownWidth, image.height * 72.0 / image.shownHeight);
            if (shown > pixelsPerInch * kDownsampleThreshold) {
                const double scale = pixelsPerInch / shown;
                picture = picture.resize(scale, vips::VImage::option()->set("kernel", VIPS_KERNEL_LANCZOS3));
            }
        }
        // The colour space stays in the PDF's image dictionary: the JPEG carries no metadata.
        VipsBlob* blob = picture.jpegsave_buffer(vips::VImage::option()
                                                     ->set("Q", image::ImageFormatTable::encoderQuality(quality))
                                                     ->set("strip", true)
                                                     ->set("optimize_coding", true));
        size_t length = 0;
        const void* data = vips_blob_get(blob, &length);
        qpdf_bridge::JpegReplacement replacement;
        replacement.width = picture.width();
        replacement.height = picture.height();
        replacement.data.assign(static_cast<const char*>(data), length);
        vips_area_unref(VIPS_AREA(blob));
        return replacement;
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
}

std::filesystem::path PdfCompressor::compress(qpdf_bridge::Document& document, const ConversionJob& job,
                             const ProgressCallback& progress, std::stop_token stop) {
    const double quality = job.options.quality.value_or(0.5);
    const double pixelsPerInch = job.options.dpi ? static_cast<double>(std::max<int64_t>(*job.options.dpi, 1))
                                                 : kDefaultPixelsPerInch;
    // Pages are never redrawn as pictures: only the images on them are made smaller.
    qpdf_bridge::recompressImages(
        document,
        [&](const qpdf_bridge::DecodedImage& image) {
            throwIfStopRequested(stop);
            return shrink(image, quality, pixelsPerInch);
        },
        [&](int done, int total) {
            if (progress) progress(0.15 + 0.75 * done / std::max(total, 1));
        });
    throwIfStopRequested(stop);
    StagedOutput output = QpdfDocument::stage(document, job.destination, {.encryptionOf = &document, .compact = true});
    CompressionGuard::keepSmaller(job, output.path());
    output.commit();
    if (progress) progress(1.0);
    return output.destination();
}

}  // namespace kolvex
