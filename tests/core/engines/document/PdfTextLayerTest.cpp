// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/engines/document/PdfTextLayer.h"
#include "core/engines/document/ToUnicodeMap.h"
#include "core/engines/pdf/QpdfBridge.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using pdf_text_layer::DrawnPages;

// Page content as Qt's PDF engine writes it: one text object per run, one glyph per Tj.
std::string textObject(const std::string& font, const std::vector<int>& codes) {
    std::string content = "BT\n" + font + " 12 Tf 1 0 0 -1 0 0 Tm\n";
    char glyph[32];
    for (const int code : codes) {
        std::snprintf(glyph, sizeof glyph, "6 0 Td <%04X> Tj\n", code);
        content += glyph;
    }
    return content + "ET\n";
}

std::string cmap(const std::string& entries) {
    return "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n" +
           entries + "endcmap\nCMapName currentdict /CMapResource defineresource pop\nend\nend\n";
}

qpdf_bridge::TextLayer pageOf(const std::string& content, const std::string& map) {
    qpdf_bridge::TextLayer layer;
    layer.maps = {map};
    layer.pages.push_back({content, {{"/F7", 0}}});
    return layer;
}

TEST(PdfTextLayer, FindsEachTextObjectAndItsGlyphs) {
    // The second object is drawn in synthesized bold: its second pass has a span of its own.
    const std::string content = "q\n" + textObject("/F7", {1, 2}) +
                                "BT\n/F9 12 Tf 1 0 0 -1 0 0 Tm\n6 0 Td <0003> Tj\n1 0 0 -1 0 0 Tm\n/Span << /ActualText <> >> BDC\n"
                                "0.5 0 Td <0003> Tj\nEMC\nET\nQ\n";
    bool readable = false;
    const std::vector<pdf_text_layer::TextObject> objects = pdf_text_layer::textObjects(content, &readable);
    ASSERT_TRUE(readable);
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0].font, "/F7");
    EXPECT_EQ(objects[0].codes, (std::vector<uint32_t>{1, 2}));
    ASSERT_EQ(objects[0].glyphs.size(), 2u);
    EXPECT_EQ(content.substr(objects[0].glyphs[1].first, objects[0].glyphs[1].second - objects[0].glyphs[1].first), "6 0 Td <0002> Tj");
    EXPECT_EQ(content.substr(objects[0].end, 2), "ET");
    EXPECT_EQ(objects[1].font, "/F9");
    EXPECT_EQ(objects[1].codes, (std::vector<uint32_t>{3}));
    EXPECT_EQ(content.substr(objects[1].end, 5), "/Span");
    // Text shown in a form Qt does not write leaves the page to itself.
    pdf_text_layer::textObjects("BT /F1 12 Tf [<0001> 5 <0002>] TJ ET", &readable);
    EXPECT_FALSE(readable);
}

// What each drawn run turns into: ToUnicode entries where its glyphs stand for its characters,
// an ActualText span where they cannot. (Pages of Latin-1 alone are left to Qt's names.)
TEST(PdfTextLayer, MakesEveryRunReadBackAsWhatWasDrawn) {
    const struct {
        const char* name;
        std::vector<int> codes;
        std::string entries;               // the map Qt wrote
        DrawnItem item;
        to_unicode::Map expectedMap;       // entries that must hold afterwards
        std::string expectedActualText;    // "" for no span
    } cases[] = {
        // The glyph of 長 that the font's cmap also gives to the radical ⻑.
        {"ideograph", {1, 2}, "1 beginbfrange\n<0001> <0002> [<793E> <2ED1>]\nendbfrange\n", {QString::fromUtf8("社長"), false},
         {{1, U"社"}, {2, U"長"}}, ""},
        // A ligature glyph reads as the characters it joins.
        {"ligature", {1, 2, 3}, "3 beginbfchar\n<0001> <FB01>\n<0002> <0078>\n<0003> <2192>\nendbfchar\n", {QString::fromUtf8("fix→"), false},
         {{1, U"fi"}, {2, U"x"}, {3, U"→"}}, ""},
        // A conjunct: no character maps to its glyph.
        {"conjunct", {1, 2}, "1 beginbfchar\n<0001> <0915>\nendbfchar\n", {QString::fromUtf8("क्षि"), false}, {},
         "FEFF0915094D0937093F"},
        // Beyond the Basic Multilingual Plane.
        {"supplementary", {1}, "", {QString::fromUtf8("𠮷"), false}, {{1, U"𠮷"}}, ""},
        // An emoji sequence drawn as one glyph.
        {"emoji", {1}, "", {QString::fromUtf8("👍🏽"), false}, {}, "FEFFD83DDC4DD83CDFFD"},
        // Pointed Hebrew: marks over letters, the span in the order the glyphs stand on the page.
        {"pointed", {1, 2, 3}, "1 beginbfrange\n<0001> <0003> [<05E9> <05B8> <05DC>]\nendbfrange\n", {QString::fromUtf8("שָל"), true}, {},
         "FEFF05DC05B805E9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qpdf_bridge::TextLayer layer = pageOf(textObject("/F7", c.codes), cmap(c.entries));
        const DrawnPages drawn = {{c.item}};
        pdf_text_layer::rewrite(layer, drawn);
        const to_unicode::Map map = to_unicode::parse(layer.maps[0]);
        for (const auto& [code, text] : c.expectedMap) {
            ASSERT_TRUE(map.contains(code)) << code;
            EXPECT_EQ(map.at(code), text) << code;
        }
        const std::string& content = layer.pages[0].content;
        if (c.expectedActualText.empty()) {
            EXPECT_EQ(content.find("ActualText"), std::string::npos) << content;
        } else {
            EXPECT_NE(content.find("/Span <</ActualText <" + c.expectedActualText + ">>> BDC"), std::string::npos) << content;
            // Still one readable text object, its glyphs inside the span.
            EXPECT_EQ(pdf_text_layer::textObjects(content).size(), 1u);
            EXPECT_LT(content.find("BDC"), content.find("Tj"));
            EXPECT_GT(content.find("EMC"), content.rfind("Tj"));
        }
    }
}

// A run of joiners or selectors alone may be drawn without a glyph; a page whose runs cannot be
// matched with its text objects at all is left as Qt wrote it.
TEST(PdfTextLayer, PairsRunsWithObjectsOrLeavesThePage) {
    const std::string map = cmap("");
    {
        qpdf_bridge::TextLayer layer = pageOf(textObject("/F7", {1}) + textObject("/F7", {2}), map);
        const DrawnPages drawn = {{{QString::fromUtf8("🏳"), false}, {QString::fromUtf8("\uFE0F\u200D"), false}, {QString::fromUtf8("🌈"), false}}};
        EXPECT_TRUE(pdf_text_layer::rewrite(layer, drawn));
        const to_unicode::Map read = to_unicode::parse(layer.maps[0]);
        EXPECT_EQ(read.at(1), U"🏳");
        EXPECT_EQ(read.at(2), U"🌈");
    }
    {
        // Unpaired: the glyph named after the Kangxi radical ⽇ is still mended to the 日 written.
        const std::string content = textObject("/F7", {1}) + textObject("/F7", {2});
        qpdf_bridge::TextLayer layer = pageOf(content, cmap("1 beginbfchar\n<0001> <2F47>\nendbfchar\n"));
        const DrawnPages drawn = {{{QString::fromUtf8("日"), false}}};
        EXPECT_TRUE(pdf_text_layer::rewrite(layer, drawn));
        EXPECT_EQ(layer.pages[0].content, content);
        EXPECT_EQ(to_unicode::parse(layer.maps[0]).at(1), U"日");
    }
    {
        // A run drawn without any object (no font draws it) costs the runs around it nothing, and
        // reaches the text layer as an invisible glyph of a font the page has, where it was drawn.
        const std::string content = textObject("/F7", {1}) + textObject("/F7", {2});
        qpdf_bridge::TextLayer layer = pageOf(content, cmap("2 beginbfchar\n<0001> <0915>\n<0002> <0916>\nendbfchar\n"));
        const DrawnPages drawn = {{{QString::fromUtf8("क"), false}, {QString::fromUtf8("ދި"), true, QPointF(100, 50), 12}, {QString::fromUtf8("ख"), false}}};
        EXPECT_TRUE(pdf_text_layer::rewrite(layer, drawn));
        const std::string& rewritten = layer.pages[0].content;
        EXPECT_EQ(rewritten.substr(0, content.size()), content);
        EXPECT_NE(rewritten.find("3 Tr /F7 12.00 Tf"), std::string::npos) << rewritten;
        EXPECT_NE(rewritten.find("/ActualText <FEFF07A8078B>"), std::string::npos) << rewritten;  // ދި as readers turn it round
        EXPECT_NE(rewritten.find("100.00 50.00 Tm <0001> Tj"), std::string::npos) << rewritten;
    }
    {
        // Latin-1 alone is left to Qt's names.
        qpdf_bridge::TextLayer layer = pageOf(textObject("/F7", {1}), map);
        EXPECT_FALSE(pdf_text_layer::rewrite(layer, DrawnPages{{{QStringLiteral("caf\u00e9"), false}}}));
    }
}

// A file that is not a readable PDF is refused with an exception and left as it was.
TEST(PdfTextLayer, RefusesADamagedFileAndLeavesIt) {
    testing::TempDir dir;
    const std::string damaged = "%PDF-1.4\nthe rest of this file was lost\n";
    const auto pdf = dir.write("damaged.pdf", damaged);
    EXPECT_ANY_THROW(pdf_text_layer::rewriteFile(pdf, DrawnPages{{{QString::fromUtf8("日本"), false}}}));
    EXPECT_EQ(testing::readFile(pdf), damaged);
}

}  // namespace
}  // namespace kolvex
