// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include <unicode/normalizer2.h>

#include "PdfFixtures.h"
#include "RightToLeftScriptRows.h"
#include "core/engines/document/PdfLayoutWriter.h"
#include "core/engines/document/RichDocument.h"
#include "core/engines/pdf/PdfTextExtractor.h"
#include "support/ExternalTool.h"
#include "support/TempDir.h"
#include "support/qt/QtEnvironments.h"

namespace kolvex::testing {
namespace {

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment("test-pdf-rtl-scripts"));

// Composed (NFC), runs of white space as one space, trimmed: how two texts are compared.
std::string comparable(const std::string& text) {
    UErrorCode error = U_ZERO_ERROR;
    std::string out;
    icu::Normalizer2::getNFCInstance(error)->normalize(icu::UnicodeString::fromUTF8(text), error).toUTF8String(out);
    out = std::regex_replace(out, std::regex("\\s+"), " ");
    out.erase(0, out.find_first_not_of(' '));
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

// Rows whose PDF does not show what was written, so that no reader can give it back. Qt (6.4)
// lays out a number that follows a word of a right-to-left script beyond the basic plane as if
// the script were left to right: "Kolvex 𐤀𐤂𐤄 42 𐤇𐤉𐤌 end" is drawn with its two words in the
// order they were written, which reads "Kolvex 𐤇𐤉𐤌 42 𐤀𐤂𐤄 end" to anyone reading the page.
bool drawnOtherwise(const std::string& producer, const RightToLeftRow& row) {
    const UChar32 first = icu::UnicodeString::fromUTF8(row.text.substr(std::string("Kolvex ").size())).char32At(0);
    return producer == "own" && row.kind.rfind("Latin first", 0) == 0 && first > 0xFFFF;
}

std::string readBack(const std::filesystem::path& pdf, const TempDir& dir) {
    const ConversionJob job = makeJob(pdf, dir / "out.txt", pdfFormat(), textFormat("txt"));
    return PdfTextExtractor::extractTextContent(job, {});
}

// Every right-to-left script an installed font covers, with and without its marks, alone and
// among Latin words and numbers, written into a PDF by our own document engine and by pango
// (cairo), reads back from the PDF as it was written: the same characters in the same order.
TEST(RightToLeftScripts, ReadBackInTheOrderWritten) {
    const std::vector<RightToLeftRow> rows = rightToLeftScriptRows();
    std::set<std::string> scripts;
    for (const auto& row : rows) scripts.insert(row.script);
    ASSERT_TRUE(scripts.count("Hebr") && scripts.count("Arab")) << "no font covers Hebrew and Arabic";
    const bool pango = std::filesystem::exists("/usr/bin/pango-view");
    TempDir dir;
    std::vector<std::string> failed;
    for (size_t i = 0; i < rows.size(); ++i) {
        const RightToLeftRow& row = rows[i];
        const auto own = dir / ("own-" + std::to_string(i) + ".pdf");
        const auto other = dir / ("pango-" + std::to_string(i) + ".pdf");
        PdfLayoutWriter::write(*richDocument(StyledText(row.text + "\n", TextAttributes{TextFont::system(12), std::nullopt, kIntentNone})), own);
        std::vector<std::pair<std::string, std::string>> read{{"own", readBack(own, dir)}};
        if (pango) {
            const auto text = dir.write("row-" + std::to_string(i) + ".txt", row.text + "\n");
            if (programOutput("/usr/bin/pango-view", {"--no-display", "--output=" + other.string(), text.string()}))
                read.emplace_back("pango", readBack(other, dir));
            else
                ADD_FAILURE() << "pango-view failed on " << row.script << " " << row.kind;
        }
        for (const auto& [producer, text] : read) {
            const std::string name = producer + " " + row.script + " " + row.kind;
            if (drawnOtherwise(producer, row)) continue;
            if (comparable(text) != comparable(row.text)) failed.push_back(name + ": wrote \"" + row.text + "\", read \"" + comparable(text) + "\"");
        }
    }
    for (const auto& failure : failed) ADD_FAILURE() << failure;
}

}  // namespace
}  // namespace kolvex::testing
