// SPDX-License-Identifier: GPL-3.0-or-later
// The XML parts of a .docx package, built from a rich document.
#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include <QTextBlock>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>

#include "core/engines/document/OOXMLWriter.h"
#include "core/engines/document/RichDocument.h"

namespace kolvex {

namespace {

constexpr std::string_view kDeclaration = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";
constexpr std::string_view kMainNamespace = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr std::string_view kRelationshipNamespace = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr int kTextWidthTwips = 9360;       // Letter less one-inch margins
constexpr double kTextWidthPoints = 468;
constexpr long kEmuPerPoint = 12700;
// Heading sizes in half-points, as a word processor's default heading styles have them.
constexpr int kHeadingHalfPoints[] = {48, 36, 28, 26, 24, 24};

std::string xml(const QString& text) {
    return OOXMLWriter::escape(text.toStdString());
}

std::string listFormat(QTextListFormat::Style style) {
    switch (style) {
    case QTextListFormat::ListDecimal: return "decimal";
    case QTextListFormat::ListLowerAlpha: return "lowerLetter";
    case QTextListFormat::ListUpperAlpha: return "upperLetter";
    case QTextListFormat::ListLowerRoman: return "lowerRoman";
    case QTextListFormat::ListUpperRoman: return "upperRoman";
    default: return "bullet";
    }
}

class DocxBuilder {
public:
    explicit DocxBuilder(const QTextDocument& document) : m_document(document), m_rich(dynamic_cast<const RichDocument*>(&document)) {}

    OOXMLWriter::Package build() {
        std::string body;
        forEachItem(
            m_document.rootFrame()->begin(), m_document.rootFrame()->end(), [&](const QTextBlock& block) { paragraph(body, block); },
            [&](QTextTable& table) { this->table(body, table, 0); });
        if (body.empty()) body = "<w:p/>";

        OOXMLWriter::Package package;
        package.document = fmt::format(
            "{}\n<w:document xmlns:w=\"{}\" xmlns:r=\"{}\" "
            "xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
            "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
            "xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\">\n<w:body>{}"
            R"(<w:sectPr><w:pgSz w:w="12240" w:h="15840"/><w:pgMar w:top="1440" w:right="1440" w:bottom="1440" w:left="1440"/></w:sectPr></w:body></w:document>)",
            kDeclaration, kMainNamespace, kRelationshipNamespace, body);
        package.documentRelationships = relationships();
        package.styles = styles();
        package.numbering = numbering();
        package.media = std::move(m_media);
        return package;
    }

private:
    struct Link {
        std::string id;
        std::string target;
    };

    const QTextDocument& m_document;
    const RichDocument* m_rich;
    std::vector<const QTextList*> m_lists;  // numId = index + 1
    std::vector<Link> m_links;
    std::vector<std::pair<std::string, QByteArray>> m_media;
    int m_nextId = 1;

    int numberId(const QTextList* list) {
        auto found = std::find(m_lists.begin(), m_lists.end(), list);
        if (found != m_lists.end()) return static_cast<int>(found - m_lists.begin()) + 1;
        m_lists.push_back(list);
        return static_cast<int>(m_lists.size());
    }

    std::string linkId(const QString& target) {
        const std::string text = target.toStdString();
        for (const Link& link : m_links)
            if (link.target == text) return link.id;
        m_links.push_back(Link{fmt::format("rIdLink{}", m_links.size() + 1), text});
        return m_links.back().id;
    }

    void paragraph(std::string& out, const QTextBlock& block) {
        const QTextBlockFormat format = block.blockFormat();
        std::string properties;
        const int level = std::min(format.headingLevel(), 6);
        if (level > 0) properties += fmt::format(R"(<w:pStyle w:val="Heading{}"/>)", level);
        if (format.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore) properties += "<w:pageBreakBefore/>";
        if (const QTextList* list = block.textList())
            properties += fmt::format(R"(<w:numPr><w:ilvl w:val="0"/><w:numId w:val="{}"/></w:numPr>)", numberId(list));
        out += "<w:p>";
        if (!properties.empty()) out += "<w:pPr>" + properties + "</w:pPr>";
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid()) continue;
            if (fragment.charFormat().isImageFormat()) {
                picture(out, fragment.charFormat().toImageFormat());
                continue;
            }
            runs(out, fragment.text(), CharStyle::of(fragment.charFormat()));
        }
        out += "</w:p>";
    }

    void runs(std::string& out, const QString& text, const CharStyle& style) {
        std::string properties;
        if (style.monospaced) properties += R"(<w:rFonts w:ascii="Courier New" w:hAnsi="Courier New" w:cs="Courier New"/>)";
        else if (!style.family.isEmpty()) {
            const std::string family = xml(style.family);
            properties += fmt::format(R"(<w:rFonts w:ascii="{0}" w:hAnsi="{0}" w:cs="{0}"/>)", family);
        }
        if (style.bold) properties += "<w:b/>";
        if (style.italic) properties += "<w:i/>";
        if (style.strike) properties += "<w:strike/>";
        if (!style.link.isEmpty()) properties += R"(<w:color w:val="0563C1"/>)";
        else if (style.colour) properties += fmt::format(R"(<w:color w:val="{:06X}"/>)", style.colour->rgb() & 0xFFFFFF);
        const long halfPoints = std::clamp(std::lround(style.pointSize * 2), 2L, 3276L);
        if (halfPoints != 24) properties += fmt::format(R"(<w:sz w:val="{}"/>)", halfPoints);
        if (style.underline || !style.link.isEmpty()) properties += R"(<w:u w:val="single"/>)";
        const std::string open = properties.empty() ? "<w:r>" : "<w:r><w:rPr>" + properties + "</w:rPr>";

        std::string content;
        // Line breaks inside a paragraph are <w:br/>; the picture placeholder is not text.
        qsizetype start = 0;
        for (qsizetype i = 0; i <= text.size(); ++i) {
            const bool end = i == text.size();
            if (!end && text[i] != QChar::LineSeparator && text[i] != QLatin1Char('\t') && text[i] != QChar::ObjectReplacementCharacter)
                continue;
            if (i > start) content += R"(<w:t xml:space="preserve">)" + xml(text.mid(start, i - start)) + "</w:t>";
            if (!end && text[i] == QChar::LineSeparator) content += "<w:br/>";
            if (!end && text[i] == QLatin1Char('\t')) content += "<w:tab/>";
            start = i + 1;
        }
        if (content.empty()) return;
        if (style.link.isEmpty()) {
            out += open + content + "</w:r>";
        } else if (style.link.startsWith(QLatin1Char('#'))) {
            out += "<w:hyperlink w:anchor=\"" + xml(style.link.mid(1)) + "\">" + open + content + "</w:r></w:hyperlink>";
        } else {
            out += "<w:hyperlink r:id=\"" + linkId(style.link) + "\">" + open + content + "</w:r></w:hyperlink>";
        }
    }

    void picture(std::string& out, const QTextImageFormat& format) {
        const QImage image = m_rich ? m_rich->image(format) : QImage();
        if (image.isNull()) return;
        const RichDocument::EncodedPicture encoded = m_rich->encodedPicture(format);
        // Sizes are points; a picture without one shows at 96 pixels an inch. Never wider than the text.
        double width = format.width() > 0 ? format.width() : image.width() * 0.75;
        double height = format.height() > 0 ? format.height() : image.height() * 0.75;
        if (width > kTextWidthPoints) {
            height *= kTextWidthPoints / width;
            width = kTextWidthPoints;
        }
        const int id = m_nextId++;
        const std::string name = fmt::format("media/image{}.{}", m_media.size() + 1, encoded.format.toStdString());
        m_media.emplace_back(name, encoded.bytes);
        const long cx = std::max(1L, std::lround(width * kEmuPerPoint));
        const long cy = std::max(1L, std::lround(height * kEmuPerPoint));
        out += fmt::format(
            R"(<w:r><w:drawing><wp:inline distT="0" distB="0" distL="0" distR="0"><wp:extent cx="{0}" cy="{1}"/>)"
            R"(<wp:docPr id="{2}" name="Picture {2}"/><a:graphic><a:graphicData uri="http://schemas.openxmlformats.org/drawingml/2006/picture">)"
            R"(<pic:pic><pic:nvPicPr><pic:cNvPr id="{2}" name="Picture {2}"/><pic:cNvPicPr/></pic:nvPicPr>)"
            R"(<pic:blipFill><a:blip r:embed="rIdImage{3}"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill>)"
            R"(<pic:spPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="{0}" cy="{1}"/></a:xfrm><a:prstGeom prst="rect"><a:avLst/></a:prstGeom></pic:spPr>)"
            R"(</pic:pic></a:graphicData></a:graphic></wp:inline></w:drawing></w:r>)",
            cx, cy, id, m_media.size());
    }

    void table(std::string& out, QTextTable& table, int depth) {
        const int columns = std::max(1, table.columns());
        const int width = kTextWidthTwips / columns;
        out += R"(<w:tbl><w:tblPr><w:tblW w:w="0" w:type="auto"/><w:tblBorders>)";
        for (const char* side : {"top", "left", "bottom", "right", "insideH", "insideV"})
            out += fmt::format(R"(<w:{} w:val="single" w:sz="4" w:space="0" w:color="auto"/>)", side);
        out += "</w:tblBorders></w:tblPr><w:tblGrid>";
        for (int c = 0; c < columns; ++c) out += fmt::format(R"(<w:gridCol w:w="{}"/>)", width);
        out += "</w:tblGrid>";
        const int header = table.format().headerRowCount();
        for (int r = 0; r < table.rows(); ++r) {
            out += "<w:tr>";
            if (r < header) out += "<w:trPr><w:tblHeader/></w:trPr>";
            for (int c = 0; c < columns;) {
                const QTextTableCell cell = table.cellAt(r, c);
                const int span = std::max(1, cell.columnSpan());
                std::string properties = fmt::format(R"(<w:tcW w:w="{}" w:type="dxa"/>)", width * span);
                if (span > 1) properties += fmt::format(R"(<w:gridSpan w:val="{}"/>)", span);
                if (cell.rowSpan() > 1) properties += cell.row() == r ? R"(<w:vMerge w:val="restart"/>)" : "<w:vMerge/>";
                out += "<w:tc><w:tcPr>" + properties + "</w:tcPr>";
                std::string content;
                if (cell.row() == r) {
                    forEachItem(
                        cell.begin(), cell.end(), [&](const QTextBlock& block) { paragraph(content, block); },
                        [&](QTextTable& inner) {
                            if (depth < 8) this->table(content, inner, depth + 1);
                        });
                }
                // Every cell ends with a paragraph.
                if (!content.ends_with("</w:p>")) content += "<w:p/>";
                out += content + "</w:tc>";
                c += span;
            }
            out += "</w:tr>";
        }
        out += "</w:tbl>";
    }

    std::string relationships() const {
        std::string out = fmt::format("{}\n<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">", kDeclaration);
        out += R"(<Relationship Id="rIdStyles" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)";
        out += R"(<Relationship Id="rIdNumbering" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/numbering" Target="numbering.xml"/>)";
        for (size_t i = 0; i < m_media.size(); ++i)
            out += fmt::format(
                R"(<Relationship Id="rIdImage{}" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/image" Target="{}"/>)", i + 1,
                m_media[i].first);
        for (const Link& link : m_links)
            out += fmt::format(
                R"(<Relationship Id="{}" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink" Target="{}" TargetMode="External"/>)",
                link.id, OOXMLWriter::escape(link.target));
        out += "</Relationships>";
        return out;
    }

    static std::string styles() {
        std::string out = fmt::format("{}\n<w:styles xmlns:w=\"{}\">", kDeclaration, kMainNamespace);
        out += R"(<w:docDefaults><w:rPrDefault><w:rPr><w:sz w:val="24"/></w:rPr></w:rPrDefault></w:docDefaults>)";
        out += R"(<w:style w:type="paragraph" w:default="1" w:styleId="Normal"><w:name w:val="Normal"/><w:qFormat/></w:style>)";
        for (int level = 1; level <= 6; ++level)
            out += fmt::format(
                R"(<w:style w:type="paragraph" w:styleId="Heading{0}"><w:name w:val="heading {0}"/><w:basedOn w:val="Normal"/>)"
                R"(<w:next w:val="Normal"/><w:qFormat/><w:pPr><w:keepNext/><w:outlineLvl w:val="{1}"/></w:pPr>)"
                R"(<w:rPr><w:b/><w:sz w:val="{2}"/></w:rPr></w:style>)",
                level, level - 1, kHeadingHalfPoints[level - 1]);
        out += "</w:styles>";
        return out;
    }

    // One numbering definition per list, so each list counts from its own start.
    std::string numbering() const {
        std::string out = fmt::format("{}\n<w:numbering xmlns:w=\"{}\">", kDeclaration, kMainNamespace);
        for (size_t i = 0; i < m_lists.size(); ++i) {
            const QTextListFormat format = m_lists[i]->format();
            const std::string kind = listFormat(format.style());
            const std::string text = kind == "bullet" ? "\u2022" : "%1.";
            const int indent = 720 * std::max(1, format.indent());
            out += fmt::format(
                R"(<w:abstractNum w:abstractNumId="{0}"><w:multiLevelType w:val="singleLevel"/><w:lvl w:ilvl="0"><w:start w:val="1"/>)"
                R"(<w:numFmt w:val="{1}"/><w:lvlText w:val="{2}"/><w:lvlJc w:val="left"/><w:pPr><w:ind w:left="{3}" w:hanging="360"/></w:pPr></w:lvl></w:abstractNum>)",
                i, kind, text, indent);
        }
        for (size_t i = 0; i < m_lists.size(); ++i)
            out += fmt::format(R"(<w:num w:numId="{}"><w:abstractNumId w:val="{}"/></w:num>)", i + 1, i);
        out += "</w:numbering>";
        return out;
    }
};

}  // namespace

OOXMLWriter::Package OOXMLWriter::package(const QTextDocument& document) {
    return DocxBuilder(document).build();
}

}  // namespace kolvex
