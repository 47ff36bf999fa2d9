// SPDX-License-Identifier: GPL-3.0-or-later
// Structure carried from DOCX, HTML and RTF into every target, checked with readers that are not ours.
#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "core/engines/document/DocumentEngine.h"
#include "core/engines/document/OOXMLWriter.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using testing::documentJob;
using testing::TempDir;

const std::string kW = R"(xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main")";

std::filesystem::path makeDocx(const TempDir& dir, const std::string& picture) {
    const std::string run = "<w:r><w:t xml:space=\"preserve\"> </w:t></w:r>";
    const std::string document =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:document " + kW +
        R"( xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" xmlns:wp="wp" xmlns:a="a" xmlns:pic="pic"><w:body>)"
        R"(<w:p><w:pPr><w:pStyle w:val="Heading1"/></w:pPr><w:r><w:t>Quarterly Report</w:t></w:r></w:p>)"
        R"(<w:p><w:r><w:t xml:space="preserve">plain </w:t></w:r><w:r><w:rPr><w:b/></w:rPr><w:t>strong</w:t></w:r>)" + run +
        R"(<w:r><w:rPr><w:i/></w:rPr><w:t>slanted</w:t></w:r>)" + run +
        R"(<w:r><w:rPr><w:u w:val="single"/></w:rPr><w:t>under</w:t></w:r>)" + run +
        R"(<w:r><w:rPr><w:strike/></w:rPr><w:t>struck</w:t></w:r>)" + run +
        R"(<w:r><w:rPr><w:color w:val="FF0000"/></w:rPr><w:t>red</w:t></w:r>)" + run +
        R"(<w:r><w:rPr><w:rFonts w:ascii="DejaVu Serif" w:hAnsi="DejaVu Serif"/></w:rPr><w:t>serif</w:t></w:r></w:p>)"
        R"(<w:p><w:pPr><w:numPr><w:ilvl w:val="0"/><w:numId w:val="1"/></w:numPr></w:pPr><w:r><w:t>apple</w:t></w:r></w:p>)"
        R"(<w:p><w:pPr><w:numPr><w:ilvl w:val="0"/><w:numId w:val="1"/></w:numPr></w:pPr><w:r><w:t>banana</w:t></w:r></w:p>)"
        R"(<w:p><w:pPr><w:numPr><w:ilvl w:val="0"/><w:numId w:val="2"/></w:numPr></w:pPr><w:r><w:t>first</w:t></w:r></w:p>)"
        R"(<w:p><w:pPr><w:numPr><w:ilvl w:val="0"/><w:numId w:val="2"/></w:numPr></w:pPr><w:r><w:t>second</w:t></w:r></w:p>)"
        R"(<w:tbl><w:tr><w:trPr><w:tblHeader/></w:trPr><w:tc><w:p><w:r><w:t>Name</w:t></w:r></w:p></w:tc><w:tc><w:p><w:r><w:t>Qty</w:t></w:r></w:p></w:tc></w:tr>)"
        R"(<w:tr><w:tc><w:p><w:r><w:t>Pear</w:t></w:r></w:p></w:tc><w:tc><w:p><w:r><w:t>3</w:t></w:r></w:p></w:tc></w:tr>)"
        R"(<w:tr><w:tc><w:p><w:r><w:t>Plum</w:t></w:r></w:p></w:tc><w:tc><w:p><w:r><w:t>5</w:t></w:r></w:p></w:tc></w:tr></w:tbl>)"
        R"(<w:p><w:r><w:drawing><wp:inline><wp:extent cx="508000" cy="254000"/><a:graphic><a:graphicData><pic:pic><pic:blipFill>)"
        R"(<a:blip r:embed="rIdPic"/></pic:blipFill></pic:pic></a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p>)"
        R"(<w:p><w:r><w:br w:type="page"/></w:r><w:r><w:t>After the break</w:t></w:r></w:p>)"
        "</w:body></w:document>";
    const std::string styles = "<?xml version=\"1.0\"?><w:styles " + kW +
                               R"(><w:style w:type="paragraph" w:styleId="Heading1"><w:name w:val="heading 1"/><w:rPr><w:b/><w:sz w:val="32"/></w:rPr></w:style></w:styles>)";
    const std::string numbering = "<?xml version=\"1.0\"?><w:numbering " + kW +
                                  R"(><w:abstractNum w:abstractNumId="0"><w:lvl w:ilvl="0"><w:numFmt w:val="bullet"/></w:lvl></w:abstractNum>)"
                                  R"(<w:abstractNum w:abstractNumId="1"><w:lvl w:ilvl="0"><w:numFmt w:val="decimal"/></w:lvl></w:abstractNum>)"
                                  R"(<w:num w:numId="1"><w:abstractNumId w:val="0"/></w:num><w:num w:numId="2"><w:abstractNumId w:val="1"/></w:num></w:numbering>)";
    const std::string rels =
        R"(<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rIdPic" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/image" Target="media/image1.png"/></Relationships>)";
    const auto path = dir / "report.docx";
    testing::writeZip(path, {{"word/document.xml", document},
                             {"word/styles.xml", styles},
                             {"word/numbering.xml", numbering},
                             {"word/_rels/document.xml.rels", rels},
                             {"word/media/image1.png", picture}});
    return path;
}

std::filesystem::path makeHtml(const TempDir& dir, const std::string& picture) {
    const std::string data = QByteArray::fromStdString(picture).toBase64().toStdString();
    return dir.write("report.html",
                     "<html><body><h1>Quarterly Report</h1>"
                     "<p>plain <b>strong</b> <i>slanted</i> <u>under</u> <s>struck</s> <span style=\"color:#ff0000\">red</span> "
                     "<span style=\"font-family:'DejaVu Serif'\">serif</span></p>"
                     "<ul><li>apple</li><li>banana</li></ul><ol><li>first</li><li>second</li></ol>"
                     "<table><thead><tr><th>Name</th><th>Qty</th></tr></thead><tr><td>Pear</td><td>3</td></tr><tr><td>Plum</td><td>5</td></tr></table>"
                     "<p><img src=\"data:image/png;base64," + data + "\" width=\"40\" height=\"20\"></p>"
                     "<p style=\"page-break-before:always\">After the break</p></body></html>");
}

// RTF carries the character styles, the table, the picture and the page break; its list markers
// are text.
std::filesystem::path makeRtf(const TempDir& dir, const std::string& picture) {
    const std::string hex = QByteArray::fromStdString(picture).toHex().toStdString();
    return dir.write("report.rtf",
                     R"({\rtf1\ansi{\fonttbl{\f0 Helvetica;}{\f1 DejaVu Serif;}}{\colortbl;\red255\green0\blue0;})"
                     R"({\b\fs32 Quarterly Report}\par plain {\b strong} {\i slanted} {\ul under} {\strike struck} {\cf1 red} {\f1 serif}\par)"
                     R"(\trowd\cellx2000\cellx4000\pard\intbl Name\cell Qty\cell\row)"
                     R"(\trowd\cellx2000\cellx4000\pard\intbl Pear\cell 3\cell\row)"
                     R"(\trowd\cellx2000\cellx4000\pard\intbl Plum\cell 5\cell\row\pard)"
                     R"({\*\shppict{\pict{\*\picprop{\sp{\sn x}{\sv 1}}}\pngblip\picwgoal800\pichgoal400 )" + hex + "}}"
                     R"({\nonshppict{\pict\wmetafile8 00ff}}\par)"
                     R"(\page After the break\par})");
}

struct Source {
    std::string format;
    std::filesystem::path path;
    bool structured;  // headings, lists and a table header row
};

class DocumentStructure : public ::testing::Test {
protected:
    TempDir dir;
    std::vector<Source> sources;

    void SetUp() override {
        const std::string picture = testing::solidPng(40, 20, Qt::red).toStdString();
        sources = {{"docx", makeDocx(dir, picture), true}, {"html", makeHtml(dir, picture), true}, {"rtf", makeRtf(dir, picture), false}};
    }

    std::filesystem::path convert(const Source& source, const std::string& target) {
        const auto destination = dir / ("out-" + source.format + "." + target);
        DocumentEngine().convert(documentJob(source.path, destination, source.format, target), {}, {});
        return destination;
    }
};

TEST_F(DocumentStructure, ReadersKeepHeadingsListsTablesPicturesBreaksAndStyles) {
    for (const Source& source : sources) {
        SCOPED_TRACE(source.format);
        const std::string text = testing::describe(*DocumentEngine::read(source.path, testing::documentFormat(source.format)));
        for (const char* expected : {"strong[b", "slanted[i", "under[u", "struck[s", "red[ #ff0000", "serif[ DejaVu Serif", "break |After the break",
                                     "cell 0,0 |Name", "cell 2,1 |5", "<image 40x20>"})
            EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
        if (!source.structured) continue;
        for (const char* expected : {"h1 |Quarterly Report", "list bullet 1 |apple", "list bullet 1 |banana", "list decimal 1 |first",
                                     "table 3x2 header 1"})
            EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
}

TEST_F(DocumentStructure, PdfShowsEveryPartOnItsPage) {
    for (const Source& source : sources) {
        SCOPED_TRACE(source.format);
        const auto pdf = convert(source, "pdf");
        const auto first = testing::pdfText(pdf, 1, 1);
        if (!first) GTEST_SKIP() << "poppler-utils are not installed";
        EXPECT_EQ(testing::pdfPageCount(pdf), 2);
        for (const char* word : {"Quarterly Report", "strong", "slanted", "under", "struck", "red", "serif", "Plum"})
            EXPECT_NE(first->find(word), std::string::npos) << word << "\n" << *first;
        EXPECT_NE(testing::pdfText(pdf, 2, 2)->find("After the break"), std::string::npos);
        EXPECT_NE(testing::pdfFonts(pdf)->find("DejaVuSerif"), std::string::npos) << *testing::pdfFonts(pdf);
        EXPECT_EQ(testing::pdfImageCount(pdf), 1);
        if (source.structured) {
            for (const char* word : {"apple", "second"}) EXPECT_NE(first->find(word), std::string::npos) << word << "\n" << *first;
            EXPECT_NE(first->find("1."), std::string::npos);  // the numbered list's markers are drawn
        }
    }
}

TEST_F(DocumentStructure, DocxIsWellFormedAndStructured) {
    for (const Source& source : sources) {
        SCOPED_TRACE(source.format);
        const auto package = testing::unpackDocx(convert(source, "docx"), dir / ("unpacked-" + source.format));
        if (!package) GTEST_SKIP() << "bsdtar or xmllint is not installed";
        EXPECT_TRUE(package->malformed.empty()) << package->malformed.front();
        const std::string body = "word/document.xml";
        EXPECT_EQ(package->count(body, "pageBreakBefore"), 1);
        EXPECT_GE(package->count(body, "u"), 1);
        EXPECT_GE(package->count(body, "strike"), 1);
        EXPECT_GE(package->count(body, "color"), 1);
        EXPECT_GE(package->count(body, "rFonts"), 1);
        EXPECT_EQ(package->count(body, "tbl"), 1);
        EXPECT_EQ(package->count(body, "tc"), 6);
        EXPECT_EQ(package->count(body, "drawing"), 1);
        EXPECT_NE(std::find(package->parts.begin(), package->parts.end(), "word/media/image1.png"), package->parts.end());
        if (!source.structured) continue;
        EXPECT_EQ(package->count(body, "tblHeader"), 1);
        EXPECT_EQ(package->count(body, "numPr"), 4);
        EXPECT_EQ(package->count(body, "pStyle"), 1);
        EXPECT_EQ(package->count("word/numbering.xml", "abstractNum"), 2);
    }
}

TEST_F(DocumentStructure, HtmlAndRtfCarryTheirOwnMarkup) {
    for (const Source& source : sources) {
        SCOPED_TRACE(source.format);
        const std::string html = testing::readFile(convert(source, "html"));
        for (const char* expected : {"page-break-before:always", "underline", "line-through", "#ff0000", "DejaVu Serif", "font-weight:700", "<table",
                                     "<img src=\"data:image/png;base64,"})
            EXPECT_NE(html.find(expected), std::string::npos) << expected;
        const std::string rtf = testing::readFile(convert(source, "rtf"));
        for (const char* expected : {"\\page", "\\ul ", "\\strike ", "\\cf1 ", "DejaVu Serif;", "\\red255\\green0\\blue0;", "\\b ", "\\trowd", "\\cell", "\\row",
                                     "\\pict\\pngblip"})
            EXPECT_NE(rtf.find(expected), std::string::npos) << expected;
        if (!source.structured) continue;
        for (const char* expected : {"<h1", "<ul", "<ol", "<li", "<thead"})
            EXPECT_NE(html.find(expected), std::string::npos) << expected;
        for (const char* expected : {"\\outlinelevel0", "\\trhdr", "1.\\tab"})
            EXPECT_NE(rtf.find(expected), std::string::npos) << expected;
    }
}

TEST_F(DocumentStructure, MarkdownAndPlainTextGetTheirNaturalForms) {
    for (const Source& source : sources) {
        SCOPED_TRACE(source.format);
        const std::string md = testing::readFile(convert(source, "md"));
        for (const char* expected : {"plain **strong** *slanted* under ~~struck~~ red serif"}) EXPECT_NE(md.find(expected), std::string::npos) << md;
        const std::string txt = testing::readFile(convert(source, "txt"));
        EXPECT_NE(txt.find("\fAfter the break"), std::string::npos) << txt;
        EXPECT_NE(md.find("| Name | Qty |\n| --- | --- |\n| Pear | 3 |\n| Plum | 5 |"), std::string::npos) << md;
        EXPECT_NE(txt.find("Name  Qty\nPear  3\nPlum  5"), std::string::npos) << txt;
        if (!source.structured) continue;
        for (const char* expected : {"# Quarterly Report\n", "\n- apple\n- banana\n1. first\n2. second\n"})
            EXPECT_NE(md.find(expected), std::string::npos) << expected << "\n" << md;
        EXPECT_NE(txt.find("\u2022 apple\n\u2022 banana\n1. first\n2. second\n"), std::string::npos) << txt;
    }
}

}  // namespace
}  // namespace kolvex
