// SPDX-License-Identifier: GPL-3.0-or-later
// RTF from a rich document.
#include <algorithm>
#include <cmath>
#include <map>

#include <fmt/format.h>

#include <QBuffer>
#include <QImageReader>
#include <QTextBlock>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>

#include "core/engines/document/RichDocument.h"
#include "core/engines/document/TextWriters.h"
#include "core/engines/document/UnicodeText.h"

namespace kolvex::text_writers {

namespace {

constexpr int kTextWidthTwips = 9360;  // 6.5 inches: Letter less one-inch margins

void appendRtfText(std::string& out, std::string_view text) {
    for (char32_t c : unicode::scalars(text)) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '{': out += "\\{"; break;
        case '}': out += "\\}"; break;
        case '\t': out += "\\tab "; break;
        case '\n': out += "\\par\n"; break;
        default:
            if (c < 0x20) break;  // carriage returns and other controls have no RTF text form
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else if (c < 0x10000) {
                out += fmt::format("\\u{}?", static_cast<int16_t>(static_cast<uint16_t>(c)));
            } else {
                const char32_t v = c - 0x10000;
                out += fmt::format("\\u{}?\\u{}?", static_cast<int16_t>(static_cast<uint16_t>(0xD800 + (v >> 10))),
                                   static_cast<int16_t>(static_cast<uint16_t>(0xDC00 + (v & 0x3FF))));
            }
        }
    }
}


class RtfBuilder {
public:
    explicit RtfBuilder(const QTextDocument& document) : m_document(document) {}

    std::string build() {
        bool endsWithParagraph = false;
        forEachItem(
            m_document.rootFrame()->begin(), m_document.rootFrame()->end(),
            [&](const QTextBlock& block) {
                paragraph(block, false);
                endsWithParagraph = true;
            },
            [&](QTextTable& table) {
                this->table(table);
                endsWithParagraph = false;
            });
        // The last paragraph has no \\par: one would start another, empty one.
        if (endsWithParagraph && m_body.ends_with("\\par\n")) m_body.resize(m_body.size() - 5);
        std::string out = "{\\rtf1\\ansi\\ansicpg1252\\uc1\\deff0\n{\\fonttbl{\\f0\\fswiss\\fcharset0 Helvetica;}{\\f1\\fmodern\\fcharset0 Courier;}";
        for (const auto& [family, index] : m_fonts) {
            out += fmt::format("{{\\f{}\\fnil\\fcharset0 ", index);
            appendRtfText(out, family);
            out += ";}";
        }
        out += "}\n{\\colortbl;";
        for (const QRgb colour : m_colours) out += fmt::format("\\red{}\\green{}\\blue{};", qRed(colour), qGreen(colour), qBlue(colour));
        out += "}\n\\pard\\plain\\f0\\fs24\n";
        out += m_body;
        out += "\n}\n";
        return out;
    }

private:
    const QTextDocument& m_document;
    std::string m_body;
    std::map<std::string, int> m_fonts;  // named families, from \\f2 on
    std::vector<QRgb> m_colours;         // from \\cf1 on

    int fontIndex(const QString& family) {
        const std::string name = family.toStdString();
        auto found = m_fonts.find(name);
        if (found != m_fonts.end()) return found->second;
        const int index = static_cast<int>(m_fonts.size()) + 2;
        m_fonts.emplace(name, index);
        return index;
    }

    int colourIndex(const QColor& colour) {
        const QRgb rgb = colour.rgb() & 0xFFFFFF;
        auto found = std::find(m_colours.begin(), m_colours.end(), rgb);
        if (found != m_colours.end()) return static_cast<int>(found - m_colours.begin()) + 1;
        m_colours.push_back(rgb);
        return static_cast<int>(m_colours.size());
    }

    void paragraph(const QTextBlock& block, bool inTable) {
        const QTextBlockFormat format = block.blockFormat();
        // \\page rather than \\pagebb: every reader knows it.
        if (format.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore && block.position() > 0 && !inTable) m_body += "\\page\n";
        m_body += inTable ? "\\pard\\intbl\\plain" : "\\pard\\plain";
        if (const int level = format.headingLevel(); level > 0) m_body += fmt::format("\\outlinelevel{}", std::min(level, 9) - 1);
        if (const QTextList* list = block.textList()) {
            const int indent = 360 * std::max(1, list->format().indent());
            m_body += fmt::format("\\li{}\\fi-360 ", indent);
            appendRtfText(m_body, (listMarker(block) + QLatin1Char('\t')).toStdString());
        } else {
            m_body += ' ';
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid()) continue;
            if (fragment.charFormat().isImageFormat()) {
                picture(fragment.charFormat().toImageFormat());
                continue;
            }
            run(fragmentText(fragment.text()).toStdString(), CharStyle::of(fragment.charFormat()));
        }
        m_body += "\\par\n";
    }

    void run(const std::string& text, const CharStyle& style) {
        if (text.empty()) return;
        const int font = style.monospaced ? 1 : style.family.isEmpty() ? 0 : fontIndex(style.family);
        std::string group = fmt::format("{{\\f{}\\fs{}", font, std::max(2L, std::lround(style.pointSize * 2)));
        if (style.bold) group += "\\b";
        if (style.italic) group += "\\i";
        if (style.underline) group += "\\ul";
        if (style.strike) group += "\\strike";
        if (style.colour) group += fmt::format("\\cf{}", colourIndex(*style.colour));
        group += ' ';
        appendRtfText(group, text);
        group += '}';
        if (!style.link.isEmpty()) {
            std::string url;
            for (char ch : style.link.toStdString()) url += ch == '"' ? std::string("%22") : std::string(1, ch);
            std::string escapedUrl;
            appendRtfText(escapedUrl, url);
            m_body += "{\\field{\\*\\fldinst{HYPERLINK \"" + escapedUrl + "\"}}{\\fldrslt " + group + "}}";
        } else {
            m_body += group;
        }
    }

    void picture(const QTextImageFormat& format) {
        const auto* rich = dynamic_cast<const RichDocument*>(&m_document);
        const QImage image = rich ? rich->image(format) : QImage();
        if (image.isNull()) return;
        const double width = format.width() > 0 ? format.width() : image.width();
        const double height = format.height() > 0 ? format.height() : image.height();
        const RichDocument::EncodedPicture encoded = rich->encodedPicture(format);
        QBuffer buffer;
        buffer.setData(encoded.bytes);
        buffer.open(QIODevice::ReadOnly);
        const QSize pixels = QImageReader(&buffer).size();
        m_body += fmt::format("{{\\pict\\{}blip\\picw{}\\pich{}\\picwgoal{}\\pichgoal{}\n", encoded.format.toStdString(), pixels.width(),
                              pixels.height(), std::lround(width * 20), std::lround(height * 20));
        const QByteArray hex = encoded.bytes.toHex();
        for (qsizetype at = 0; at < hex.size(); at += 128) {
            m_body.append(hex.constData() + at, static_cast<size_t>(std::min<qsizetype>(128, hex.size() - at)));
            m_body += '\n';
        }
        m_body += '}';
    }

    void table(QTextTable& table) {
        const int columns = std::max(1, table.columns());
        const int header = table.format().headerRowCount();
        for (int r = 0; r < table.rows(); ++r) {
            m_body += "\\trowd\\trgaph108";
            if (r < header) m_body += "\\trhdr";
            for (int c = 0; c < columns; ++c)
                m_body += fmt::format("\\clbrdrt\\brdrs\\clbrdrl\\brdrs\\clbrdrb\\brdrs\\clbrdrr\\brdrs\\cellx{}", kTextWidthTwips * (c + 1) / columns);
            m_body += '\n';
            for (int c = 0; c < columns; ++c) {
                const QTextTableCell cell = table.cellAt(r, c);
                if (cell.row() == r && cell.column() == c) {
                    // A cell's last paragraph ends with \\cell instead of \\par.
                    const size_t before = m_body.size();
                    forEachItem(
                        cell.begin(), cell.end(), [&](const QTextBlock& block) { paragraph(block, true); },
                        [&](QTextTable& inner) {
                            for (int ir = 0; ir < inner.rows(); ++ir)
                                for (int ic = 0; ic < inner.columns(); ++ic)
                                    if (const QTextTableCell innerCell = inner.cellAt(ir, ic); innerCell.row() == ir && innerCell.column() == ic)
                                        for (QTextFrame::iterator it = innerCell.begin(); it != innerCell.end(); ++it)
                                            if (it.currentBlock().isValid()) paragraph(it.currentBlock(), true);
                        });
                    if (m_body.size() > before && m_body.ends_with("\\par\n")) m_body.resize(m_body.size() - 5);
                    else m_body += "\\pard\\intbl ";
                } else {
                    m_body += "\\pard\\intbl ";
                }
                m_body += "\\cell\n";
            }
            m_body += "\\row\n";
        }
        m_body += "\\pard\n";
    }
};

}  // namespace

std::string rtf(const QTextDocument& document) {
    return RtfBuilder(document).build();
}

}  // namespace kolvex::text_writers
