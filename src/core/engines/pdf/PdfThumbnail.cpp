// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PdfThumbnail.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "core/engines/pdf/PopplerDocument.h"
#include "core/engines/pdf/QpdfDocument.h"

namespace kolvex {

std::optional<image::ThumbnailPixels> pdfThumbnail(const std::filesystem::path& file, int maxSide) {
    if (maxSide <= 0) return std::nullopt;
    try {
        QpdfDocument::refuseTooDeep(file);
        const PopplerDocument document = PopplerDocument::load(file);
        if (document.status() != PopplerDocument::Status::opened || document.pageCount() < 1) return std::nullopt;
        const auto shown = document.shownSize(0);
        if (!shown || !(shown->width > 0) || !(shown->height > 0)) return std::nullopt;
        const double scale = maxSide / std::max(shown->width, shown->height);
        const int width = std::clamp(static_cast<int>(std::lround(shown->width * scale)), 1, maxSide);
        const int height = std::clamp(static_cast<int>(std::lround(shown->height * scale)), 1, maxSide);
        const PageBitmap page = document.render(0, scale, width, height);

        image::ThumbnailPixels pixels;
        pixels.width = page.width;
        pixels.height = page.height;
        const size_t count = static_cast<size_t>(page.width) * static_cast<size_t>(page.height);
        pixels.rgba.resize(count * 4);
        for (size_t i = 0; i < count; ++i) {
            pixels.rgba[i * 4] = page.pixels[i * 3];
            pixels.rgba[i * 4 + 1] = page.pixels[i * 3 + 1];
            pixels.rgba[i * 4 + 2] = page.pixels[i * 3 + 2];
            pixels.rgba[i * 4 + 3] = 255;
        }
        return pixels;
    } catch (const std::exception&) {
        // A page poppler cannot draw, or a file too deep to give it: no picture, the caller
        // shows the file's icon.
        return std::nullopt;
    }
}

}  // namespace kolvex
