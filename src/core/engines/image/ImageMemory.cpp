// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/image/ImageMemory.h"

#include <algorithm>
#include <system_error>

#include "core/engines/image/ImageEngine.h"

namespace kolvex::image {

namespace {

using vips::VImage;

size_t pixelBytes(const VImage& image) {
    return static_cast<size_t>(image.width()) * static_cast<size_t>(image.height()) *
           static_cast<size_t>(image.bands()) * vips_format_sizeof(image.format());
}

// What libwebp holds beyond its fixed copies grows with what the picture holds: a photo of pure
// noise needs twice what a flat one does. The source's compressed size tells how much it holds
// before a pixel is decoded. Measured on 12-megapixel JPEGs from flat to pure noise: nothing
// more up to 0.08 bytes of source a sample, then 10 bytes for every further byte, never more
// than 3.5 copies of the picture's samples.
size_t contentMemory(const std::filesystem::path& file, const VImage& source, const VImage& picture,
                     const PixelRoute& route) {
    if (!route.webp) return 0;
    std::error_code ec;
    const auto fileBytes = std::filesystem::file_size(file, ec);
    if (ec) return 0;
    const double samples = static_cast<double>(picture.width()) * picture.height() * picture.bands();
    const double sourceSamples = static_cast<double>(source.width()) * source.height() * source.bands();
    // A picture shrunk on loading holds its share of what the source holds.
    const double held = static_cast<double>(fileBytes) * std::min(samples / std::max(sourceSamples, 1.0), 1.0);
    const double extra = std::clamp(10.0 * (held - 0.08 * samples), 0.0, 3.5 * samples);
    return static_cast<size_t>(extra);
}

// The rows the pipeline's threads hold at once grow with a picture's width, not its area: a
// 24000 × 500 panorama held 50 MB more than a 4000 × 3000 photo of as many pixels, whatever the
// saver. About 800 rows' worth.
size_t rowMemory(const VImage& image) {
    return static_cast<size_t>(image.width()) * static_cast<size_t>(image.bands()) *
           vips_format_sizeof(image.format()) * 800;
}

}  // namespace

size_t workingMemory(const std::filesystem::path& file, const VImage& source, const VImage& picture,
                     const PixelRoute& route) {
    const double copies = std::max(route.copies, 1.0);
    const size_t content = contentMemory(file, source, picture, route);
    if (route.shrinksOnLoad) {
        return static_cast<size_t>(static_cast<double>(pixelBytes(picture)) * copies) + content + rowMemory(picture);
    }
    const size_t decoded = std::max(pixelBytes(source), pixelBytes(picture));
    const size_t rows = std::max(rowMemory(source), rowMemory(picture));
    const size_t whole = route.holdsWholeSource ? pixelBytes(source) : 0;
    return static_cast<size_t>(static_cast<double>(decoded) * copies) + content + rows + whole;
}

MemoryBudget& pictureBudget() {
    // Never destroyed: work still running as the process ends gives its share back here.
    static auto* const shared = new MemoryBudget(ImageEngine::kWorkingMemoryLimit);
    return *shared;
}

}  // namespace kolvex::image
