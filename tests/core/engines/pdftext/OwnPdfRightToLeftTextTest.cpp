// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "PdfFixtures.h"
#include "RightToLeftLines.h"
#include "core/engines/document/PdfLayoutWriter.h"
#include "core/engines/document/PdfTextDocument.h"
#include "core/engines/document/RichDocument.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/services/FileManagerService.h"
#include "support/TempDir.h"
#include "support/qt/QtEnvironments.h"

namespace kolvex::testing {
namespace {

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment("test-pdf-text"));

// Right-to-left and mixed paragraphs laid out by our own document engine, turned back into
// text by the PDF engine as the user's PDF → TXT does: every paragraph reads as written, its
// ligatures (lam-alef, the word Allah) and the order of its clauses kept.
TEST(OwnPdfRightToLeftText, ReadsBackAsWritten) {
    const std::vector<std::string>& paragraphs = writtenRightToLeftLines();
    TempDir dir;
    std::string body;
    for (const auto& paragraph : paragraphs) body += paragraph + "\n\n";
    const auto source = dir / "lines.pdf";
    PdfLayoutWriter::write(*richDocument(StyledText(body, TextAttributes{TextFont::system(12), std::nullopt, kIntentNone})),
                           source);

    const PDFEngine engine(FileManagerService::shared(), &PdfTextDocument::write);
    const ConversionJob job = makeJob(source, dir / "lines.txt", pdfFormat(), textFormat("txt"));
    ASSERT_TRUE(engine.canHandle(job));
    engine.convert(job, {}, {});
    EXPECT_EQ(nonEmptyLines(readFile(dir / "lines.txt")), paragraphs);
}

}  // namespace
}  // namespace kolvex::testing
