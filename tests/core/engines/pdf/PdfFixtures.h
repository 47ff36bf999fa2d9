// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestPdfFiles.h"
#include "core/format/ConversionJob.h"

namespace kolvex::testing {

// The text of each page, read with poppler.
std::vector<std::string> pageTexts(const std::filesystem::path& file);

// The pixel at (x, y) of an image file, as RGB(A) values.
std::vector<double> pixelAt(const std::filesystem::path& image, int x, int y);
// Width and height of an image file.
std::pair<int, int> imageSize(const std::filesystem::path& image);

// A PDF of numbered objects ("<< … >>" bodies, streams with them) with the catalog as object 1 and
// a true cross-reference table, written by hand as a writer that means harm would.
std::string pdfOfObjects(const std::map<int, std::string>& objects);

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

// Readers that are not ours: poppler's command-line tools. Each gives "" when the tool fails.
// pdftotext's text of the whole document, words separated by single spaces.
std::string popplerWords(const std::filesystem::path& pdf);
// One line of pdfinfo's report ("Encrypted", "Pages", "Page    2 rot"…): the text after the
// colon, trimmed. `pages` asks for the per-page lines.
std::string pdfInfoField(const std::filesystem::path& pdf, const std::string& field, bool pages = false);
// The font names pdffonts lists.
std::vector<std::string> pdfFontNames(const std::filesystem::path& pdf);
// One image as `pdfimages -list` describes it.
struct ListedImage {
    int page = 0;
    int width = 0;
    int height = 0;
    std::string encoding;  // "jpeg", "image", …
    double ppi = 0;        // the lower of the two axes
};
std::vector<ListedImage> pdfImages(const std::filesystem::path& pdf);
// The first page rendered by pdftoppm at `dpi` into `folder`, as a PNG file.
std::filesystem::path popplerRender(const std::filesystem::path& pdf, int dpi, const std::filesystem::path& folder);

}  // namespace kolvex::testing
