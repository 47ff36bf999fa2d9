// SPDX-License-Identifier: GPL-3.0-or-later
// Footnotes and endnotes of a .docx, carried into every target after the body.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextImageFormat>

#include "DocumentTestSupport.h"
#include "core/engines/document/DocumentEngine.h"
#include "core/engines/document/DocxNotes.h"
#include "core/engines/document/OOXMLWriter.h"
#include "core/engines/document/RichDocument.h"
#include "core/format/ConversionError.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

const std::string kNamespaces = R"(xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main")";

// Two footnotes referred to in the opposite order of their ids, one with a mark of its own, and an
// endnote numbered with capital letters; the notes part also holds Word's separators.
std::vector<testing::ZipEntry> annotatedPackage() {
    const std::string document =
        R"(<?xml version="1.0" encoding="UTF-8"?><w:document )" + kNamespaces + "><w:body>"
        R"(<w:p><w:r><w:t>Alpha</w:t></w:r><w:r><w:footnoteReference w:id="2"/></w:r>)"
        R"(<w:r><w:t xml:space="preserve"> beta</w:t></w:r><w:r><w:footnoteReference w:customMarkFollows="1" w:id="3"/><w:t>*</w:t></w:r>)"
        R"(<w:r><w:t xml:space="preserve"> gamma</w:t></w:r><w:r><w:footnoteReference w:id="1"/></w:r>)"
        R"(<w:r><w:t xml:space="preserve"> delta</w:t></w:r><w:r><w:endnoteReference w:id="1"/></w:r><w:r><w:t>.</w:t></w:r></w:p>)"
        R"(<w:p><w:r><w:t>Last line of the body.</w:t></w:r></w:p>)"
        R"(<w:sectPr><w:endnotePr><w:numFmt w:val="upperLetter"/></w:endnotePr></w:sectPr></w:body></w:document>)";
    const std::string footnotes =
        R"(<?xml version="1.0" encoding="UTF-8"?><w:footnotes )" + kNamespaces + ">"
        R"(<w:footnote w:type="separator" w:id="-1"><w:p><w:r><w:separator/></w:r></w:p></w:footnote>)"
        R"(<w:footnote w:type="continuationSeparator" w:id="0"><w:p><w:r><w:continuationSeparator/></w:r></w:p></w:footnote>)"
        R"(<w:footnote w:id="1"><w:p><w:r><w:footnoteRef/></w:r><w:r><w:t xml:space="preserve"> Second note.</w:t></w:r></w:p>)"
        R"(<w:p><w:r><w:t>Its second paragraph.</w:t></w:r></w:p></w:footnote>)"
        R"(<w:footnote w:id="2"><w:p><w:r><w:footnoteRef/></w:r><w:r><w:t xml:space="preserve"> First note.</w:t></w:r></w:p></w:footnote>)"
        R"(<w:footnote w:id="3"><w:p><w:r><w:t>* Custom note.</w:t></w:r></w:p></w:footnote>)"
        R"(<w:footnote w:id="4"><w:p><w:r><w:t>Never referred to.</w:t></w:r></w:p></w:footnote>)"
        "</w:footnotes>";
    // A note that does not place its own mark gets it in front.
    const std::string endnotes = R"(<?xml version="1.0" encoding="UTF-8"?><w:endnotes )" + kNamespaces + ">"
                                 R"(<w:endnote w:id="1"><w:p><w:r><w:t>The end note.</w:t></w:r></w:p></w:endnote></w:endnotes>)";
    return {{"word/document.xml", document}, {"word/footnotes.xml", footnotes}, {"word/endnotes.xml", endnotes}};
}

std::string readBack(const std::filesystem::path& output, const std::string& target) {
    if (target == "pdf") return testing::pdfText(output).value_or("");
    if (target == "txt") return testing::readFile(output);
    return DocumentEngine::read(output, testing::documentFormat(target))->toPlainText().toStdString();
}

// Drops line breaks and runs of spaces, so texts laid out on pages compare with flowing ones.
std::string words(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool space = c == ' ' || c == '\n' || c == '\f' || c == '\r';
        if (space && (out.empty() || out.back() == ' ')) continue;
        out += space ? ' ' : c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

TEST(DocxNotes, EveryTargetKeepsTheNotesAfterTheBodyNumberedAsInTheSource) {
    if (!std::filesystem::exists(OOXMLWriter::tarPath())) GTEST_SKIP() << "bsdtar is not installed";
    testing::TempDir dir;
    const auto source = dir / "annotated.docx";
    testing::writeZip(source, annotatedPackage());
    const std::string expected =
        "Alpha[1] beta* gamma[2] delta[A]. Last line of the body. [1] First note. * Custom note. [2] Second note. "
        "Its second paragraph. [A] The end note.";

    const DocumentEngine engine;
    for (const std::string target : {"txt", "md", "html", "rtf", "docx", "pdf"}) {
        SCOPED_TRACE(target);
        const auto destination = dir / ("annotated." + target);
        const ConversionOutcome outcome = engine.convertReporting(testing::documentJob(source, destination, "docx", target), {}, {});
        EXPECT_EQ(outcome.note, std::nullopt);
        const std::string text = readBack(destination, target);
        if (target == "pdf" && text.empty()) GTEST_SKIP() << "poppler-utils are not installed";
        EXPECT_EQ(words(text), expected) << text;
        if (target == "docx") {
            const auto package = testing::unpackDocx(destination, dir / "unpacked");
            if (package) {
                EXPECT_TRUE(package->malformed.empty());
            }
        }
    }
}

TEST(DocxNotes, ADamagedNotesPartIsADamagedDocument) {
    testing::TempDir dir;
    std::vector<testing::ZipEntry> entries = annotatedPackage();
    entries[1].content.resize(entries[1].content.size() / 2);  // the footnotes part cut short
    const auto source = dir / "cut.docx";
    testing::writeZip(source, entries);
    try {
        DocumentEngine().convert(testing::documentJob(source, dir / "cut.txt", "docx", "txt"), {}, {});
        FAIL() << "a damaged notes part was read";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error, ConversionError::corruptedInput(source));
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "cut.txt"));
}

// A start number near the int's end would overflow as the notes are counted on: it is not taken.
TEST(DocxNotes, AnOutlandishStartNumberIsLeftAside) {
    testing::TempDir dir;
    std::vector<testing::ZipEntry> entries = annotatedPackage();
    const std::string sect = "<w:sectPr>";
    entries[0].content.replace(entries[0].content.find(sect), sect.size(),
                               sect + R"(<w:footnotePr><w:numStart w:val="2147483647"/></w:footnotePr>)");
    const auto source = dir / "far.docx";
    testing::writeZip(source, entries);
    DocumentEngine().convert(testing::documentJob(source, dir / "far.txt", "docx", "txt"), {}, {});
    const std::string text = testing::readFile(dir / "far.txt");
    EXPECT_NE(text.find("Alpha[1]"), std::string::npos) << text;
    EXPECT_NE(text.find("gamma[2]"), std::string::npos) << text;
    EXPECT_EQ(text.find("2147483647"), std::string::npos) << text;
}

// The parts of a package that hold text, each naming its pictures and links in a relationships
// part of its own.
struct TextPart {
    std::string name;      // "word/footnotes.xml"
    std::string wrapper;   // "<w:footnotes …>" … "</w:footnotes>" around its notes; empty for the body
    std::string element;   // "footnote"
    Qt::GlobalColor colour;
};

const std::vector<TextPart>& textParts() {
    static const std::vector<TextPart> parts{{"word/document.xml", "", "", Qt::blue},
                                             {"word/footnotes.xml", "footnotes", "footnote", Qt::gray},
                                             {"word/endnotes.xml", "endnotes", "endnote", Qt::green}};
    return parts;
}

std::string relationshipsPart(const std::string& part) {
    return part.substr(0, part.rfind('/')) + "/_rels" + part.substr(part.rfind('/')) + ".rels";
}

std::string pictureRun(const std::string& id) {
    return R"(<w:r><w:drawing><wp:inline><wp:extent cx="254000" cy="127000"/><a:graphic><a:graphicData><pic:pic><pic:blipFill>)"
           R"(<a:blip r:embed=")" + id + R"("/></pic:blipFill></pic:pic></a:graphicData></a:graphic></wp:inline></w:drawing></w:r>)";
}

std::string linkRun(const std::string& id, const std::string& text) {
    return R"(<w:hyperlink r:id=")" + id + R"("><w:r><w:t>)" + text + "</w:t></w:r></w:hyperlink>";
}

// What a reader shows of a document's pictures and links, in order: each picture's colour, each
// link's target.
struct Shown {
    std::vector<std::string> pictures;  // "#0000ff"
    std::vector<std::string> links;
};

Shown shownIn(const RichDocument& document) {
    Shown shown;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat()) {
                const QImage image = document.image(format.toImageFormat());
                shown.pictures.push_back(image.isNull() ? "none" : image.pixelColor(0, 0).name().toStdString());
            } else if (format.isAnchor() && (shown.links.empty() || shown.links.back() != format.anchorHref().toStdString())) {
                shown.links.push_back(format.anchorHref().toStdString());
            }
        }
    }
    return shown;
}

// The body, a footnote and an endnote each hold a picture and a link. Whether their ids are the
// same in every part or differ, each shows its own; a notes part without relationships of its own
// shows none of the body's.
TEST(DocxNotes, EachPartShowsItsOwnPicturesAndLinks) {
    const std::string namespaces =
        kNamespaces + R"( xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships")"
                      R"( xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing")"
                      R"( xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main")"
                      R"( xmlns:pic="http://schemas.openxmlformats.org/drawingml/2006/picture")";
    struct Row {
        const char* name;
        bool sameIds;
        bool notesHaveRelationships;
    };
    for (const Row& row : {Row{"the same ids in every part", true, true}, Row{"ids of each part's own", false, true},
                           Row{"notes parts without relationships", true, false}}) {
        SCOPED_TRACE(row.name);
        std::vector<testing::ZipEntry> entries;
        std::string bodyNotes;
        std::vector<std::string> expectedPictures;
        std::vector<std::string> expectedLinks;
        for (const TextPart& part : textParts()) {
            const std::string stem = part.element.empty() ? "body" : part.element;
            const std::string pictureId = row.sameIds ? "rIdPicture" : "rId" + stem + "Picture";
            const std::string linkId = row.sameIds ? "rIdLink" : "rId" + stem + "Link";
            const std::string content = "<w:p>" + pictureRun(pictureId) + linkRun(linkId, stem + " link") + "</w:p>";
            if (part.element.empty()) {
                bodyNotes = content;
            } else {
                bodyNotes += "<w:p><w:r><w:" + part.element + R"(Reference w:id="1"/></w:r></w:p>)";
                entries.push_back({part.name, R"(<?xml version="1.0" encoding="UTF-8"?><w:)" + part.wrapper + " " + namespaces +
                                                  "><w:" + part.element + R"( w:id="1">)" + content + "</w:" + part.element +
                                                  "></w:" + part.wrapper + ">"});
            }
            const bool hasRelationships = part.element.empty() || row.notesHaveRelationships;
            if (hasRelationships) {
                entries.push_back(
                    {relationshipsPart(part.name),
                     R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
                     R"(<Relationship Id=")" + pictureId +
                         R"(" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/image" Target="media/)" + stem +
                         R"(.png"/><Relationship Id=")" + linkId +
                         R"(" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink" Target="https://)" +
                         stem + R"(.example/" TargetMode="External"/></Relationships>)"});
                expectedPictures.push_back(QColor(part.colour).name().toStdString());
                expectedLinks.push_back("https://" + stem + ".example/");
            }
            entries.push_back({"word/media/" + stem + ".png", testing::solidPng(8, 4, part.colour).toStdString()});
        }
        entries.push_back({"word/document.xml", R"(<?xml version="1.0" encoding="UTF-8"?><w:document )" + namespaces +
                                                    "><w:body>" + bodyNotes + "</w:body></w:document>"});
        testing::TempDir dir;
        const auto source = dir / "pictures.docx";
        testing::writeZip(source, entries);

        const auto document = DocumentEngine::read(source, testing::documentFormat("docx"));
        const Shown shown = shownIn(*document);
        EXPECT_EQ(shown.pictures, expectedPictures);
        EXPECT_EQ(shown.links, expectedLinks);
        if (row.notesHaveRelationships) {
            EXPECT_TRUE(document->notes().empty()) << document->notes().front();
        } else {
            EXPECT_EQ(document->notes(), std::vector<std::string>{"2 pictures could not be read and were left out."});
        }

        // Through the engine, as a reader of the PDF sees it.
        const ConversionOutcome outcome =
            DocumentEngine().convertReporting(testing::documentJob(source, dir / "pictures.pdf", "docx", "pdf"), {}, {});
        if (const auto pictures = testing::pdfImageCount(dir / "pictures.pdf")) {
            EXPECT_EQ(*pictures, static_cast<int>(expectedPictures.size()));
        }
        EXPECT_EQ(outcome.note.has_value(), !row.notesHaveRelationships);
    }
}

TEST(DocxNotes, MarksFollowTheNumberFormat) {
    struct Case {
        int number;
        const char* format;
        const char* mark;
    };
    for (const Case& c : {Case{3, "decimal", "3"}, Case{4, "lowerRoman", "iv"}, Case{1994, "upperRoman", "MCMXCIV"},
                          Case{27, "lowerLetter", "aa"}, Case{2, "upperLetter", "B"}, Case{5, "chicago", "5"},
                          Case{0, "lowerRoman", "0"}}) {
        EXPECT_EQ(docx::noteMark(c.number, c.format), c.mark) << c.number << " " << c.format;
    }
}

}  // namespace
}  // namespace kolvex
