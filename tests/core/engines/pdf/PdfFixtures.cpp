// SPDX-License-Identifier: GPL-3.0-or-later
#include "PdfFixtures.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include <vips/vips8>

#include "core/engines/pdf/PopplerDocument.h"
#include "core/engines/image/VipsRuntime.h"
#include "support/ExternalTool.h"

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

std::string popplerWords(const std::filesystem::path& pdf) {
    std::istringstream text(programOutput("/usr/bin/pdftotext", {pdf.string(), "-"}).value_or(""));
    std::string words;
    for (std::string word; text >> word;) words += (words.empty() ? "" : " ") + word;
    return words;
}

std::string pdfInfoField(const std::filesystem::path& pdf, const std::string& field, bool pages) {
    std::vector<std::string> arguments;
    if (pages) arguments = {"-f", "1", "-l", "9999"};
    arguments.push_back(pdf.string());
    std::istringstream report(programOutput("/usr/bin/pdfinfo", arguments).value_or(""));
    for (std::string line; std::getline(report, line);) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos || line.substr(0, colon) != field) continue;
        const size_t start = line.find_first_not_of(' ', colon + 1);
        return start == std::string::npos ? "" : line.substr(start);
    }
    return "";
}

std::vector<std::string> pdfFontNames(const std::filesystem::path& pdf) {
    std::istringstream report(programOutput("/usr/bin/pdffonts", {pdf.string()}).value_or(""));
    std::vector<std::string> names;
    int line = 0;
    for (std::string text; std::getline(report, text);) {
        if (++line <= 2) continue;  // heading and rule
        std::istringstream fields(text);
        std::string name;
        if (fields >> name) names.push_back(name);
    }
    return names;
}

std::vector<ListedImage> pdfImages(const std::filesystem::path& pdf) {
    std::istringstream report(programOutput("/usr/bin/pdfimages", {"-list", pdf.string()}).value_or(""));
    std::vector<ListedImage> images;
    int line = 0;
    for (std::string text; std::getline(report, text);) {
        if (++line <= 2) continue;
        // page num type width height color comp bpc enc interp object ID x-ppi y-ppi size ratio
        std::istringstream fields(text);
        ListedImage image;
        std::string num, type, color, comp, bpc, interp, object, id;
        double xppi = 0, yppi = 0;
        fields >> image.page >> num >> type >> image.width >> image.height >> color >> comp >> bpc >> image.encoding >>
            interp >> object >> id >> xppi >> yppi;
        if (type != "image") continue;
        image.ppi = std::min(xppi, yppi);
        images.push_back(image);
    }
    return images;
}

std::filesystem::path popplerRender(const std::filesystem::path& pdf, int dpi, const std::filesystem::path& folder) {
    const std::filesystem::path stem = folder / "poppler";
    programOutput("/usr/bin/pdftoppm",
                  {"-r", std::to_string(dpi), "-cropbox", "-png", "-singlefile", "-f", "1", "-l", "1", pdf.string(), stem.string()});
    return stem.string() + ".png";
}

std::string pdfOfObjects(const std::map<int, std::string>& objects) {
    std::string pdf = "%PDF-1.7\n";
    std::map<int, size_t> offsets;
    for (const auto& [number, body] : objects) {
        offsets[number] = pdf.size();
        pdf += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
    }
    const int size = objects.rbegin()->first + 1;
    const size_t table = pdf.size();
    pdf += "xref\n0 " + std::to_string(size) + "\n";
    char line[32];
    for (int number = 0; number < size; ++number) {
        auto found = offsets.find(number);
        if (found == offsets.end()) {
            pdf += "0000000000 65535 f \n";
        } else {
            std::snprintf(line, sizeof line, "%010zu 00000 n \n", found->second);
            pdf += line;
        }
    }
    return pdf + "trailer << /Root 1 0 R /Size " + std::to_string(size) + " >>\nstartxref\n" + std::to_string(table) +
           "\n%%EOF\n";
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
