#include "PdfFixtures.h"

#include <algorithm>

#include <vips/vips8>

#include "core/engines/pdf/PopplerDocument.h"
#include "core/engines/image/VipsRuntime.h"

namespace kolvex::testing {

std::vector<std::string> pageTexts(const std::filesystem::path& file) {
    PopplerDocument document = PopplerDocument::load(file);
    std::vector<std::string> texts;
    for (int i = 0; i < document.pageCount(); ++i) texts.push_back(document.pageText(i));
    return texts;
}

std::vector<double> pixelAt(const std::filesystem::path& image, int x, int y) {
    image::ensureVipsStarted();
    return vips::VImage::new_from_file(image.c_str()).getpoint(x, y);
}

std::pair<int, int> imageSize(const std::filesystem::path& image) {
    image::ensureVipsStarted();
    vips::VImage loaded = vips::VImage::new_from_file(image.c_str());
    return {loaded.width(), loaded.height()};
}

std::vector<std::string> filesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Format pdfFormat() {
    Format format;
    format.id = FormatID("pdf");
    format.category = FormatCategory::pdf;
    format.extensions = {"pdf"};
    format.contentTypes = {"application/pdf"};
    format.label = "PDF";
    return format;
}

Format imageFormat(const std::string& id, const std::string& contentType, const std::string& extension) {
    Format format;
    format.id = FormatID(id);
    format.category = FormatCategory::image;
    format.extensions = {extension};
    if (!contentType.empty()) format.contentTypes = {contentType};
    format.label = id;
    return format;
}

Format textFormat(const std::string& id) {
    Format format;
    format.id = FormatID(id);
    format.category = FormatCategory::document;
    format.extensions = {id};
    format.contentTypes = {"text/plain"};
    format.label = id;
    return format;
}

ConversionJob makeJob(const std::filesystem::path& source, const std::filesystem::path& destination, Format from,
                      Format to, ConversionOptions options, std::vector<std::filesystem::path> additional) {
    ConversionCapability capability;
    capability.from = from.id;
    capability.to = to.id;
    capability.engine = EngineID("pdf");
    return ConversionJob(source, std::move(additional), destination, std::move(from), std::move(to), capability,
                         std::move(options));
}

ConversionJob toolJob(const std::string& tool, const std::filesystem::path& source,
                      const std::filesystem::path& destination, ConversionOptions options,
                      std::vector<std::filesystem::path> additional) {
    options.tool = tool;
    return makeJob(source, destination, pdfFormat(), pdfFormat(), std::move(options), std::move(additional));
}

}  // namespace kolvex::testing
