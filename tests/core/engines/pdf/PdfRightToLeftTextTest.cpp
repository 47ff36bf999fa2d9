// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "PdfFixtures.h"
#include "RightToLeftLines.h"
#include "core/engines/pdf/PageTextOrder.h"
#include "core/engines/pdf/PdfTextExtractor.h"
#include "support/ExternalTool.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

// Right-to-left and mixed lines laid out by another program (pango and cairo, through
// pango-view) read back from the PDF in the order they were written: no ligature reversed
// (lam-alef stays lam-alef), no clause of a mixed line moved.
TEST(PdfRightToLeftText, ReadsBackAnotherProgramsPdfInLogicalOrder) {
    if (!std::filesystem::exists("/usr/bin/pango-view")) GTEST_SKIP() << "pango-view is not installed";
    TempDir dir;
    std::string written;
    for (const auto& line : writtenRightToLeftLines()) written += line + "\n";
    const auto text = dir.write("lines.txt", written);
    ASSERT_TRUE(programOutput("/usr/bin/pango-view", {"--no-display", "--output=" + (dir / "lines.pdf").string(),
                                                      text.string()}));
    const ConversionJob job = makeJob(dir / "lines.pdf", dir / "lines.txt", pdfFormat(), textFormat("txt"));
    EXPECT_EQ(nonEmptyLines(PdfTextExtractor::extractTextContent(job, {})), writtenRightToLeftLines());
}

}  // namespace
}  // namespace kolvex::testing
