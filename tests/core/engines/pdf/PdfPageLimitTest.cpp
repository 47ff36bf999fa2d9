// SPDX-License-Identifier: GPL-3.0-or-later
// A page rendered larger than the image format holds is refused with the limit named, before
// anything is written.
#include <gtest/gtest.h>

#include "PdfFixtures.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/engines/pdf/PageImageWriter.h"
#include "core/format/ConversionError.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

TEST(PdfPageLimits, APageWiderThanTheFormatHoldsIsRefusedNamingTheLimit) {
    TempDir dir;
    // 4000 points at 300 dpi: 16667 px wide.
    writeTestPdf(dir / "banner.pdf", {TestPage{.width = 4000, .height = 60}});
    struct Row {
        std::string id;
        std::string type;
        std::string limit;
    };
    for (const Row& row : {Row{"webp", "image/webp", "16383"}, Row{"heic", "image/heic", "16384"}}) {
        SCOPED_TRACE(row.id);
        const Format target = imageFormat(row.id, row.type, row.id);
        if (!PageImageWriter::canWrite(target)) continue;
        const auto out = dir / ("banner." + row.id);
        try {
            PDFEngine().convert(makeJob(dir / "banner.pdf", out, pdfFormat(), target), {}, {});
            ADD_FAILURE() << "a page wider than the format holds was written";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.kind(), ConversionError::Kind::unsupportedCombination);
            const std::string message = error.shortDescription();
            EXPECT_NE(message.find("banner.pdf page 1 (16667 × 250 px)"), std::string::npos) << message;
            EXPECT_NE(message.find("at most " + row.limit + " px a side"), std::string::npos) << message;
        }
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    // Nothing but the source is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
}

}  // namespace
}  // namespace kolvex::testing
