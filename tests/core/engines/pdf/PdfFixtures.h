#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/format/ConversionJob.h"

namespace kolvex::testing {

// One page of a PDF made for a test: a red 40 × 40 point square in the media box's bottom-left
// corner and, when given, a line of Helvetica text.
struct TestPage {
    double width = 200;
    double height = 100;
    std::string text;
    int rotate = 0;                              // /Rotate
    std::optional<std::array<double, 4>> cropBox;  // llx, lly, urx, ury
    double originX = 0;                          // media box origin
    double originY = 0;
};

struct TestPdfOptions {
    std::string userPassword;   // set: opening needs it
    std::string ownerPassword;  // set alone: encrypted, opens without a password
    bool withMetadata = false;  // an Info dictionary and an XMP stream
    bool inheritMediaBox = false;  // media boxes on the page tree, not on the pages
};

// Writes a PDF with qpdf.
void writeTestPdf(const std::filesystem::path& file, const std::vector<TestPage>& pages,
                  const TestPdfOptions& options = {});

// `count` pages, each with the text "Page <n>".
std::vector<TestPage> numberedPages(int count, double width = 200, double height = 100);

// What a written PDF holds, read with qpdf.
struct PdfFacts {
    int pages = 0;
    bool encrypted = false;
    bool hasInfo = false;
    bool hasXmp = false;
    std::vector<std::array<double, 4>> mediaBoxes;
    std::vector<int> rotations;
    std::vector<std::string> imageFilters;  // per page: the filter of its first image, "" when none
    std::string firstImageData;             // the first page's first image, as stored
    std::string firstImageColourSpace;
    int firstImageBits = 0;
    bool firstImageHasSoftMask = false;
};
PdfFacts readPdf(const std::filesystem::path& file);

// The text of each page, read with poppler.
std::vector<std::string> pageTexts(const std::filesystem::path& file);

// The pixel at (x, y) of an image file, as RGB(A) values.
std::vector<double> pixelAt(const std::filesystem::path& image, int x, int y);
// Width and height of an image file.
std::pair<int, int> imageSize(const std::filesystem::path& image);

// Formats as the manifest describes them.
Format pdfFormat();
Format imageFormat(const std::string& id, const std::string& contentType, const std::string& extension);
Format textFormat(const std::string& id);

ConversionJob makeJob(const std::filesystem::path& source, const std::filesystem::path& destination, Format from,
                      Format to, ConversionOptions options = ConversionOptions::defaults(),
                      std::vector<std::filesystem::path> additional = {});

// A job for one of the PDF tools, PDF to PDF.
ConversionJob toolJob(const std::string& tool, const std::filesystem::path& source,
                      const std::filesystem::path& destination, ConversionOptions options = ConversionOptions::defaults(),
                      std::vector<std::filesystem::path> additional = {});

// The ConversionError `action` throws; a test failure when it throws none.
template <typename Action>
ConversionError conversionErrorOf(Action&& action) {
    try {
        action();
    } catch (const ConversionError& error) {
        return error;
    } catch (const std::exception& error) {
        ADD_FAILURE() << "threw something else: " << error.what();
        return ConversionError::cancelled();
    }
    ADD_FAILURE() << "threw nothing";
    return ConversionError::cancelled();
}

// The files in `folder`, by name.
std::vector<std::string> filesIn(const std::filesystem::path& folder);

}  // namespace kolvex::testing
