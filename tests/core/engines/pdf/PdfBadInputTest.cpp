// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "PdfFixtures.h"
#include "core/engines/pdf/PDFEngine.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

// A PDF written by hand without a cross-reference table (readers rebuild it), around `objects`.
std::string handMadePdf(const std::string& objects) {
    return "%PDF-1.4\n" + objects + "trailer << /Root 1 0 R >>\n%%EOF\n";
}

const std::string kSquare = "5 0 obj << /Length 24 >> stream\n1 0 0 rg 0 0 40 40 re f\nendstream endobj\n";

// The page tree's second child is a node whose only child is the root again.
const std::string kPageTreeLoop = handMadePdf(
    "1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
    "2 0 obj << /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >> endobj\n"
    "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 5 0 R >> endobj\n"
    "4 0 obj << /Type /Pages /Parent 2 0 R /Kids [2 0 R] /Count 1 >> endobj\n" +
    kSquare);

// Page 2 draws with an unknown font, unbalanced saves and a truncated operator list.
const std::string kDamagedPage = handMadePdf(
    "1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
    "2 0 obj << /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >> endobj\n"
    "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 5 0 R >> endobj\n"
    "4 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 6 0 R >> endobj\n" +
    kSquare + "6 0 obj << /Length 44 >> stream\nq q BT /F9 12 Tf (lost) Tj ET 1 0 0 rg 0 0 re\nendstream endobj\n");

// A clear error naming the source with nothing left behind, or outputs a reader opens.
void expectCleanOutcome(const ConversionJob& job, const std::filesystem::path& folder, const std::string& source) {
    try {
        const auto outputs = PDFEngine().convert(job, {}, {});
        ASSERT_FALSE(outputs.empty());
        for (const auto& output : outputs) {
            if (output.extension() == ".pdf") {
                EXPECT_NE(pdfInfoField(output, "Pages"), "") << output;
            } else {
                EXPECT_GT(imageSize(output).first, 0) << output;
            }
        }
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::corruptedInput) << error.what();
        EXPECT_EQ(filesIn(folder), std::vector<std::string>{source});
    }
}

TEST(PdfBadInput, DamagedPagesAndPageTreeLoopsEndCleanly) {
    ConversionOptions tools[] = {ConversionOptions::defaults(), ConversionOptions::defaults(),
                                 ConversionOptions::defaults(), ConversionOptions::defaults()};
    tools[0].tool = "compress";
    tools[1].tool = "rotate";
    tools[1].rotation = 90;
    tools[2].tool = "split";
    tools[3].tool = "extract-pages";
    for (const auto& [name, bytes] : {std::pair{"loop.pdf", kPageTreeLoop}, std::pair{"damaged.pdf", kDamagedPage}}) {
        SCOPED_TRACE(name);
        {
            TempDir dir;
            const auto source = dir.write(name, bytes);
            ConversionOptions dpi = ConversionOptions::defaults();
            dpi.dpi = 36;
            expectCleanOutcome(makeJob(source, dir / "page.png", pdfFormat(), imageFormat("png", "image/png", "png"), dpi),
                               dir.path(), name);
        }
        for (const auto& options : tools) {
            SCOPED_TRACE(*options.tool);
            TempDir dir;
            const auto source = dir.write(name, bytes);
            expectCleanOutcome(toolJob(*options.tool, source, dir / "out.pdf", options), dir.path(), name);
        }
    }
}

}  // namespace
}  // namespace kolvex::testing
