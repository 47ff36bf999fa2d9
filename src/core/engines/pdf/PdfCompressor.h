// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <stop_token>

#include "core/conversion/ConversionEngine.h"

#include "core/engines/pdf/QpdfImages.h"

namespace kolvex {

// The compress tool's work on one document: pictures get smaller, nothing else is lost. Text,
// fonts and vector drawing stay exactly as they are; each embedded photo is downsampled to the
// chosen resolution and stored as JPEG at the chosen quality when that makes it smaller; every
// stream is then compressed again at flate's best level. Stateless; any thread.
struct PdfCompressor {
    // Resolution images are brought down to, in pixels per inch, without a dpi option.
    static constexpr double kDefaultPixelsPerInch = 144;
    // An image is downsampled only when it is this much sharper than the target resolution;
    // a small excess is not worth a second generation of resampling.
    static constexpr double kDownsampleThreshold = 1.2;

    // The JPEG that would replace `image`: downsampled when the page shows it at more than
    // `pixelsPerInch` × kDownsampleThreshold, encoded at `quality` (0…1). None when libvips
    // cannot encode it.
    static std::optional<qpdf_bridge::JpegReplacement> shrink(const qpdf_bridge::DecodedImage& image, double quality,
                                                              double pixelsPerInch);

    // The compress tool on `document` (job.source, opened): writes job.destination, or keeps the
    // original when nothing got smaller (CompressionGuard). Progress runs from 0.15 to 1. Returns
    // where the output went (see StagedOutput::commit).
    static std::filesystem::path compress(qpdf_bridge::Document& document, const ConversionJob& job, const ProgressCallback& progress,
                         std::stop_token stop);
};

}  // namespace kolvex
