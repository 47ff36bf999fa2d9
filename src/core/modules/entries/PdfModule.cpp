// kolvex-engine-pdf: the PDF engine, over poppler, qpdf and libvips.
#include <algorithm>
#include <cmath>

#include "core/engines/pdf/PDFEngine.h"
#include "core/engines/pdf/PopplerDocument.h"
#include "core/modules/EngineModule.h"
#include "core/modules/entries/ModuleEntry.h"

namespace kolvex::modules {
namespace {

std::optional<image::ThumbnailPixels> firstPage(const std::filesystem::path& file, int maxSide) {
    if (maxSide <= 0) return std::nullopt;
    try {
        const PopplerDocument document = PopplerDocument::load(file);
        if (document.status() != PopplerDocument::Status::opened || document.pageCount() < 1) return std::nullopt;
        const auto size = document.shownSize(0);
        if (!size || !(size->width > 0) || !(size->height > 0)) return std::nullopt;
        const double scale = maxSide / std::max(size->width, size->height);
        const int width = std::max(1, static_cast<int>(std::lround(size->width * scale)));
        const int height = std::max(1, static_cast<int>(std::lround(size->height * scale)));
        const PageBitmap bitmap = document.render(0, scale, width, height);
        image::ThumbnailPixels pixels;
        pixels.width = bitmap.width;
        pixels.height = bitmap.height;
        const auto count = static_cast<size_t>(bitmap.width) * static_cast<size_t>(bitmap.height);
        pixels.rgba.resize(count * 4);
        for (size_t i = 0; i < count; ++i) {
            pixels.rgba[i * 4] = bitmap.pixels[i * 3];
            pixels.rgba[i * 4 + 1] = bitmap.pixels[i * 3 + 1];
            pixels.rgba[i * 4 + 2] = bitmap.pixels[i * 3 + 2];
            pixels.rgba[i * 4 + 3] = 255;
        }
        return pixels;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

const PdfModule kTable{
    [](const FileManagerService& files, PdfTextDocumentWriter textWriter) -> EnginePtr {
        return std::make_shared<PDFEngine>(files, std::move(textWriter));
    },
    &firstPage,
};

}  // namespace
}  // namespace kolvex::modules

KOLVEX_ENGINE_MODULE(kolvex::modules::kTable)
