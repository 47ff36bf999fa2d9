// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// PDFs made and read with qpdf for the tests. qpdf's headers need C++17 with clang 14, so this
// header uses nothing newer and TestPdfFiles.cpp is built as C++17.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

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
    // A photo-like RGB picture of photoWidth × photoHeight pixels (smooth colour with grain),
    // stored flate-compressed and drawn over photoBox (llx, lly, urx, ury) in points.
    int photoWidth = 0;
    int photoHeight = 0;
    std::array<double, 4> photoBox{};
    bool damagedPhoto = false;  // its compressed data cut short: no reader can decode it
};

struct TestPdfOptions {
    std::string userPassword;   // set: opening needs it
    std::string ownerPassword;  // set alone: encrypted, opens without a password
    bool withMetadata = false;  // an Info dictionary and an XMP stream
    bool inheritMediaBox = false;  // media boxes on the page tree, not on the pages
    std::string version;           // set: the version the file declares at least ("1.7")
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
    std::string firstImageColourSpace;      // "/DeviceRGB", "/ICCBased", …
    int firstImageBits = 0;
    bool firstImageHasSoftMask = false;
};
PdfFacts readPdf(const std::filesystem::path& file);

}  // namespace kolvex::testing
