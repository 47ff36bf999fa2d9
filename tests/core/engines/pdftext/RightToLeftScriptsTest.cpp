// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>

#include "PdfFixtures.h"
#include "RightToLeftLines.h"
#include "RightToLeftScriptRows.h"
#include "core/engines/document/PdfLayoutWriter.h"
#include "core/engines/document/RichDocument.h"
#include "core/engines/pdf/PdfTextExtractor.h"
#include "support/ExternalTool.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

// The binary's one application (OwnPdfRightToLeftTextTest.cpp) lays out our own PDFs.

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
// order they were written, which reads "Kolvex 𐤇𐤉𐤌 42 𐤀𐤂𐤄 end" to anyone reading the page. Two
// such words after a Latin one at a line's start ("Kolvex 𐤀𐤂𐤄 𐤇𐤉𐤌") are drawn left to right
// too, letters and words.
bool drawnOtherwise(const std::string& producer, const RightToLeftRow& row) {
    const UChar32 first = icu::UnicodeString::fromUTF8(row.text.substr(std::string("Kolvex ").size())).char32At(0);
    const bool latinThenWords = row.kind.rfind("Latin first", 0) == 0 || row.kind.rfind("Latin opening", 0) == 0;
    return producer == "own" && latinThenWords && first > 0xFFFF;
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
            // A page wider than the line, as a document's is, so that the line is set against
            // the side its paragraph starts from.
            if (programOutput("/usr/bin/pango-view", {"--no-display", "--width=400", "--output=" + other.string(), text.string()}))
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

// The families of the installed fonts that cover every right-to-left character of `text`.
std::vector<std::string> familiesCovering(const std::string& text) {
    std::unique_ptr<FcCharSet, decltype(&FcCharSetDestroy)> wanted(FcCharSetCreate(), &FcCharSetDestroy);
    const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(text);
    for (int32_t i = 0; i < unicode.length(); i = unicode.moveIndex32(i, 1)) {
        const UChar32 c = unicode.char32At(i);
        const UCharDirection direction = u_charDirection(c);
        if (direction == U_RIGHT_TO_LEFT || direction == U_RIGHT_TO_LEFT_ARABIC) FcCharSetAddChar(wanted.get(), static_cast<FcChar32>(c));
    }
    std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> pattern(FcPatternCreate(), &FcPatternDestroy);
    FcPatternAddCharSet(pattern.get(), FC_CHARSET, wanted.get());
    std::unique_ptr<FcObjectSet, decltype(&FcObjectSetDestroy)> objects(FcObjectSetBuild(FC_FAMILY, nullptr), &FcObjectSetDestroy);
    std::unique_ptr<FcFontSet, decltype(&FcFontSetDestroy)> fonts(FcFontList(nullptr, pattern.get(), objects.get()), &FcFontSetDestroy);
    std::set<std::string> families;
    for (int f = 0; fonts && f < fonts->nfont; ++f) {
        FcChar8* family = nullptr;
        if (FcPatternGetString(fonts->fonts[f], FC_FAMILY, 0, &family) == FcResultMatch) families.insert(reinterpret_cast<const char*>(family));
    }
    return {families.begin(), families.end()};
}

// Fonts whose right-to-left text no reader of glyph positions can give back: Nastaliq sets the
// letters of a word on a slope, each lower than the one before, so that a word's glyphs neither
// stand on one line nor in order from the right.
bool setOnASlope(const std::string& family) { return family.find("Nastaliq") != std::string::npos; }

// A ligature a font makes beyond the ones Unicode encodes (Naskh draws lam-lam-heh as one glyph)
// is given by its glyph alone, in the order the glyph stands for, just as a replacement span of
// our own PDFs gives a word in the order it stands: the two cannot be told apart.
bool drawsUnencodedLigature(const std::string& family, const std::string& line) {
    icu::UnicodeString letters;
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(line);
    for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1))
        if (u_charType(text.char32At(i)) != U_NON_SPACING_MARK) letters.append(text.char32At(i));
    return family == "Noto Naskh Arabic" && letters.indexOf(icu::UnicodeString::fromUTF8("\u0644\u0644\u0647")) >= 0;
}

// The right-to-left and mixed lines, with and without marks, laid out by pango in every
// installed font that covers them, read back as written.
TEST(RightToLeftScripts, ReadBackFromEveryFontThatCoversThem) {
    if (!std::filesystem::exists("/usr/bin/pango-view")) GTEST_SKIP() << "pango-view is not installed";
    TempDir dir;
    std::vector<std::string> failed;
    size_t documents = 0;
    for (const std::string& line : writtenRightToLeftLines()) {
        const std::string composedLine = composed(line);
        for (const std::string& family : familiesCovering(line)) {
            if (setOnASlope(family) || drawsUnencodedLigature(family, composedLine)) continue;
            const auto text = dir.write("line-" + std::to_string(documents) + ".txt", line + "\n");
            const auto pdf = dir / ("line-" + std::to_string(documents++) + ".pdf");
            if (!programOutput("/usr/bin/pango-view", {"--no-display", "--font=" + family + " 12", "--output=" + pdf.string(), text.string()})) {
                ADD_FAILURE() << "pango-view failed with " << family;
                continue;
            }
            const std::string read = comparable(readBack(pdf, dir));
            if (read != comparable(line)) failed.push_back(family + ": wrote \"" + line + "\", read \"" + read + "\"");
        }
    }
    EXPECT_GT(documents, 10u);
    for (const auto& failure : failed) ADD_FAILURE() << failure;
}

}  // namespace
}  // namespace kolvex::testing
