// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "PdfFixtures.h"
#include "core/engines/pdf/PageTextOrder.h"
#include "core/engines/pdf/PdfTextExtractor.h"
#include "support/ExternalTool.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

// Lines of right-to-left and mixed text, each as it was written (logical order): ligatures
// (lam-alef, the word Allah), a Latin clause inside an Arabic line and the other way round,
// numbers, and Hebrew.
const std::vector<std::string>& writtenLines() {
    static const std::vector<std::string> lines{
        "لا سلام للاختبار الله",
        "Hello world مرحبا بالعالم and more",
        "مرحبا بالعالم Hello world نص عربي",
        "العدد 123 هنا والسلام",
        "שלום עולם זה טקסט",
        "The word שלום means peace",
    };
    return lines;
}

// The lines of `text` without empty ones, each trimmed.
std::vector<std::string> nonEmptyLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        line.erase(0, line.find_first_not_of(" \t\f\r"));
        line.erase(line.find_last_not_of(" \t\f\r") + 1);
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Right-to-left and mixed lines laid out by another program (pango and cairo, through
// pango-view) read back from the PDF in the order they were written: no ligature reversed
// (lam-alef stays lam-alef), no clause of a mixed line moved.
TEST(PdfRightToLeftText, ReadsBackAnotherProgramsPdfInLogicalOrder) {
    if (!std::filesystem::exists("/usr/bin/pango-view")) GTEST_SKIP() << "pango-view is not installed";
    TempDir dir;
    std::string written;
    for (const auto& line : writtenLines()) written += line + "\n";
    const auto text = dir.write("lines.txt", written);
    ASSERT_TRUE(programOutput("/usr/bin/pango-view", {"--no-display", "--output=" + (dir / "lines.pdf").string(),
                                                      text.string()}));
    const ConversionJob job = makeJob(dir / "lines.pdf", dir / "lines.txt", pdfFormat(), textFormat("txt"));
    EXPECT_EQ(nonEmptyLines(PdfTextExtractor::extractTextContent(job, {})), writtenLines());
}

}  // namespace
}  // namespace kolvex::testing
