// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QTextBlock>
#include <QTextFragment>
#include <QTextImageFormat>

#include "DocumentTestSupport.h"
#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/DocxReader.h"
#include "core/engines/document/OOXMLWriter.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

const std::string kOpen =
    R"(<?xml version="1.0" encoding="UTF-8"?><w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006"><w:body>)";
const std::string kClose = "<w:sectPr/></w:body></w:document>";

TEST(DocxReader, ReadsParagraphsRunsAndToggles) {
    const std::string xml = kOpen +
        R"(<w:p><w:r><w:t>plain </w:t></w:r><w:r><w:rPr><w:b/></w:rPr><w:t>bold</w:t></w:r>)"
        R"(<w:r><w:rPr><w:b w:val="0"/><w:i w:val="true"/></w:rPr><w:t xml:space="preserve"> it</w:t></w:r>)"
        R"(<w:r><w:rPr><w:b w:val="false"/><w:i w:val="off"/></w:rPr><w:t>x</w:t><w:tab/><w:t>y</w:t><w:br/><w:t>z</w:t></w:r></w:p>)"
        R"(<w:p/>)"
        R"(<w:p><w:del><w:r><w:delText>gone</w:delText></w:r></w:del><w:ins><w:r><w:t>kept</w:t></w:r></w:ins></w:p>)"
        R"(<w:p><w:r><mc:AlternateContent><mc:Choice Requires="x"><w:t>choice</w:t></mc:Choice><mc:Fallback><w:t>fallback</w:t></mc:Fallback></mc:AlternateContent></w:r></w:p>)"
        R"(<w:tbl><w:tr><w:tc><w:p><w:r><w:t>cell</w:t></w:r></w:p></w:tc></w:tr></w:tbl>)"
        R"(<w:p><w:hyperlink r:id="rId5"><w:r><w:t>link</w:t></w:r></w:hyperlink></w:p>)" +
        kClose;
    const std::string rels =
        R"(<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId5" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink" Target="https://example.org" TargetMode="External"/></Relationships>)";
    EXPECT_EQ(testing::describe(*DocxReader::readParts({xml, rels})),
              "|plain bold[b] it[i]x\ty\nz\n|\n|kept\n|choice\ntable 1x1 header 0\ncell 0,0 |cell\n|link[ ->https://example.org]\n");
}

// Word's symbols of Symbol and Wingdings (Greek, maths, ticks and boxes) read as the characters
// they draw, codes written either way Word writes them; what no table knows is left out with a
// note naming its font.
TEST(DocxReader, ReadsSymbolFontCharactersAndNotesThoseItCannot) {
    const std::string xml = kOpen +
        R"(<w:p><w:r><w:t xml:space="preserve">a </w:t><w:sym w:font="Symbol" w:char="F061"/><w:sym w:font="Symbol" w:char="B3"/>)"
        R"(<w:sym w:font="Wingdings" w:char="F0FC"/><w:sym w:font="Wingdings" w:char="F0FE"/>)"
        R"(<w:sym w:font="Webdings" w:char="F021"/><w:sym w:font="Symbol" w:char="zz"/><w:t xml:space="preserve"> b</w:t></w:r></w:p>)" +
        kClose;
    const auto document = DocxReader::readParts({xml, ""});
    EXPECT_EQ(document->toPlainText().toStdString(), "a α≥✓☑ b");
    EXPECT_EQ(document->notes(), std::vector<std::string>{"2 symbols (from Symbol, Webdings) could not be read and were left out."});
}

TEST(DocxReader, AppliesDefaultsAndStyles) {
    const std::string styles =
        R"(<?xml version="1.0"?><w:styles xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">)"
        R"(<w:docDefaults><w:rPrDefault><w:rPr><w:sz w:val="22"/></w:rPr></w:rPrDefault></w:docDefaults>)"
        R"(<w:style w:type="paragraph" w:default="1" w:styleId="Normal"><w:name w:val="Normal"/></w:style>)"
        R"(<w:style w:type="paragraph" w:styleId="Title"><w:basedOn w:val="Heading1"/><w:rPr><w:i/></w:rPr></w:style>)"
        R"(<w:style w:type="paragraph" w:styleId="Heading1"><w:basedOn w:val="Normal"/><w:rPr><w:b/><w:sz w:val="32"/></w:rPr></w:style>)"
        R"(<w:style w:type="character" w:styleId="Code"><w:rPr><w:rFonts w:ascii="Courier New" w:hAnsi="Courier New"/></w:rPr></w:style>)"
        R"(<w:style w:type="paragraph" w:styleId="Loop"><w:basedOn w:val="Loop"/><w:rPr><w:b/></w:rPr></w:style>)"
        R"(</w:styles>)";
    const std::string xml = kOpen +
        R"(<w:p><w:pPr><w:pStyle w:val="Heading1"/></w:pPr><w:r><w:t>Head</w:t></w:r><w:r><w:rPr><w:b w:val="0"/></w:rPr><w:t>light</w:t></w:r></w:p>)"
        R"(<w:p><w:pPr><w:pStyle w:val="Title"/></w:pPr><w:r><w:t>Title</w:t></w:r></w:p>)"
        R"(<w:p><w:r><w:t>body </w:t></w:r><w:r><w:rPr><w:rStyle w:val="Code"/></w:rPr><w:t>code</w:t></w:r></w:p>)"
        R"(<w:p><w:pPr><w:pStyle w:val="Loop"/></w:pPr><w:r><w:t>loop</w:t></w:r></w:p>)" +
        kClose;
    const auto document = DocxReader::readParts({xml, "", styles});
    EXPECT_EQ(testing::describe(*document), "h1 |Head[b]light\nh1 |Title[bi]\n|body code[m]\n|loop[b]\n");
    // Sizes come through the same chain.
    const QTextBlock head = document->begin();
    EXPECT_DOUBLE_EQ(CharStyle::of(head.begin().fragment().charFormat()).pointSize, 16);
    EXPECT_DOUBLE_EQ(CharStyle::of(head.next().next().begin().fragment().charFormat()).pointSize, 11);
}

// A picture that does not decode, or whose part is missing, is left out with a note; the text stays.
TEST(DocxReader, LeavesOutBrokenPicturesWithANote) {
    const std::string picture =
        R"(<w:r><w:drawing><wp:inline xmlns:wp="wp"><wp:extent cx="12700" cy="12700"/><a:blip xmlns:a="a" r:embed="{}"/></wp:inline></w:drawing></w:r>)";
    std::string xml = kOpen + "<w:p><w:r><w:t>before</w:t></w:r>";
    for (const char* id : {"rIdBroken", "rIdMissing"}) {
        std::string run = picture;
        run.replace(run.find("{}"), 2, id);
        xml += run;
    }
    xml += "<w:r><w:t>after</w:t></w:r></w:p>" + kClose;
    const std::string rels =
        R"(<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rIdBroken" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/image" Target="media/broken.png"/>)"
        R"(<Relationship Id="rIdMissing" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/image" Target="../media/none.png"/>)"
        R"(</Relationships>)";
    DocxReader::Parts parts{xml, rels};
    parts.media["word/media/broken.png"] = QByteArray("\x89PNG not really");
    const auto document = DocxReader::readParts(parts);
    EXPECT_EQ(testing::describe(*document), "|beforeafter\n");
    EXPECT_EQ(document->notes(), std::vector<std::string>{"2 pictures could not be read and were left out."});
}

// A large picture is kept at a printable size for the page, and whole for the writers.
TEST(DocxReader, ScalesLargePicturesForThePageAndKeepsTheirBytes) {
    const QByteArray png = testing::solidPng(3000, 2000, Qt::darkGreen);
    const std::string xml = kOpen +
        R"(<w:p><w:r><w:drawing><wp:inline xmlns:wp="wp"><a:blip xmlns:a="a" r:embed="rIdBig"/></wp:inline></w:drawing></w:r></w:p>)" + kClose;
    const std::string rels =
        R"(<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rIdBig" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/image" Target="media/big.png"/>)"
        R"(</Relationships>)";
    DocxReader::Parts parts{xml, rels};
    parts.media["word/media/big.png"] = png;
    const auto document = DocxReader::readParts(parts);
    // 3000 pixels at 96 an inch are 2250 points: shown at the text's width.
    EXPECT_EQ(testing::describe(*document), "|<image 468x312>\n");
    const QTextImageFormat format = document->begin().begin().fragment().charFormat().toImageFormat();
    EXPECT_EQ(document->image(format).size(), QSize(RichDocument::kMaxImageSide, RichDocument::kMaxImageSide * 2 / 3));
    const OOXMLWriter::Package package = OOXMLWriter::package(*document);
    ASSERT_EQ(package.media.size(), 1u);
    EXPECT_EQ(package.media[0].first, "media/image1.png");
    EXPECT_EQ(package.media[0].second, png);
}

// Text boxes as Word writes them (DrawingML with a VML fallback of the same box, or VML alone)
// follow the paragraph they are anchored in, once each; hidden text (w:vanish, directly or
// through a style) is left out. The input is checked by xmllint before it is read.
TEST(DocxReader, CarriesTextBoxesOnceAndLeavesOutHiddenText) {
    const std::string ns =
        R"(xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing" )"
        R"(xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" )"
        R"(xmlns:wps="http://schemas.microsoft.com/office/word/2010/wordprocessingShape" xmlns:v="urn:schemas-microsoft-com:vml" )";
    std::string open = kOpen;
    open.insert(open.find("xmlns:mc="), ns);
    const auto box = [](const std::string& text) { return "<w:txbxContent><w:p><w:r><w:t>" + text + "</w:t></w:r></w:p></w:txbxContent>"; };
    const std::string xml = open +
        R"(<w:p><w:r><w:t xml:space="preserve">Before the box. </w:t></w:r><w:r><mc:AlternateContent><mc:Choice Requires="wps"><w:drawing>)"
        R"(<wp:anchor><wp:extent cx="914400" cy="457200"/><a:graphic><a:graphicData uri="http://schemas.microsoft.com/office/word/2010/wordprocessingShape">)"
        R"(<wps:wsp><wps:txbx>)" + box("Inside the box.") + R"(</wps:txbx></wps:wsp></a:graphicData></a:graphic></wp:anchor></w:drawing></mc:Choice>)"
        R"(<mc:Fallback><w:pict><v:shape><v:textbox>)" + box("Inside the box.") + R"(</v:textbox></v:shape></w:pict></mc:Fallback></mc:AlternateContent></w:r>)"
        R"(<w:r><w:t>After.</w:t></w:r></w:p>)"
        R"(<w:p><w:r><w:pict><v:shape><v:textbox>)" + box("Drawn in VML.") + R"(</v:textbox></v:shape></w:pict></w:r></w:p>)"
        R"(<w:p><w:r><w:t xml:space="preserve">Seen </w:t></w:r><w:r><w:rPr><w:vanish/></w:rPr><w:t>hidden </w:t></w:r>)"
        R"(<w:r><w:rPr><w:rStyle w:val="Secret"/></w:rPr><w:t>secret </w:t></w:r>)"
        R"(<w:r><w:rPr><w:rStyle w:val="Secret"/><w:vanish w:val="0"/></w:rPr><w:t xml:space="preserve">shown </w:t></w:r>)"
        R"(<w:r><w:rPr><w:vanish/></w:rPr><w:pict><v:shape><v:textbox>)" + box("Hidden box.") + R"(</v:textbox></v:shape></w:pict></w:r>)"
        R"(<w:r><w:t>end.</w:t></w:r></w:p>)" +
        kClose;
    const std::string styles =
        R"(<?xml version="1.0"?><w:styles xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">)"
        R"(<w:style w:type="character" w:styleId="Secret"><w:rPr><w:vanish/></w:rPr></w:style></w:styles>)";
    testing::TempDir dir;
    const auto path = dir / "boxes.docx";
    testing::writeZip(path, {{"word/document.xml", xml}, {"word/styles.xml", styles}});
    const auto package = testing::unpackDocx(path, dir / "unpacked");
    if (!package) GTEST_SKIP() << "bsdtar or xmllint is not installed";
    ASSERT_TRUE(package->malformed.empty()) << package->malformed.front();
    EXPECT_EQ(package->count("word/document.xml", "txbxContent"), 4);

    EXPECT_EQ(testing::describe(*DocxReader::read(path)), "|Before the box. After.\n|Inside the box.\n|\n|Drawn in VML.\n|Seen shown end.\n");
}

TEST(DocxReader, ExpandsNoEntities) {
    const std::string laughs =
        R"(<?xml version="1.0"?><!DOCTYPE lolz [<!ENTITY lol "lol"><!ENTITY lol2 "&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;">)"
        R"(<!ENTITY ext SYSTEM "file:///etc/passwd">]>)"
        R"(<w:document xmlns:w="w"><w:body><w:p><w:r><w:t>a&lol2;b&ext;c&amp;</w:t></w:r></w:p></w:body></w:document>)";
    const std::string text = DocxReader::readParts({laughs}).get()->toPlainText().toStdString();
    EXPECT_EQ(text.find("lollol"), std::string::npos);
    EXPECT_EQ(text.find("root:"), std::string::npos);
    EXPECT_NE(text.find("c&"), std::string::npos);
}

TEST(DocxReader, RefusesDamagedAndHostilePackages) {
    testing::TempDir dir;
    const auto notZip = dir.write("plain.docx", "just some text, not a zip");
    const auto noDocument = dir / "empty.docx";
    testing::writeZip(noDocument, {{"other.xml", "<a/>"}});
    const auto brokenXml = dir / "broken.docx";
    testing::writeZip(brokenXml, {{"word/document.xml", "<w:document><w:body><w:p>"}});
    const auto deep = dir / "deep.docx";
    std::string nested = kOpen;
    for (int i = 0; i < 5000; ++i) nested += "<w:sdt>";
    for (int i = 0; i < 5000; ++i) nested += "</w:sdt>";
    testing::writeZip(deep, {{"word/document.xml", nested + kClose}});
    // Far more than the cap once inflated; the reader stops at the cap.
    const auto bomb = dir / "bomb.docx";
    testing::writeZip(bomb, {{"word/document.xml", std::string(1 << 20, ' '), 100}});
    const auto fifo = dir / "fifo.docx";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    for (const auto& path : {notZip, noDocument, brokenXml, deep, bomb, fifo, dir / "missing.docx"}) {
        EXPECT_TRUE(testing::finishesWithin(std::chrono::seconds(20), [&] {
            EXPECT_THROW(DocxReader::read(path), DocumentFormatError) << path;
        })) << path;
    }
}

}  // namespace
}  // namespace kolvex
