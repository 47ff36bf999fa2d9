// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/DocxReader.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <pugixml.hpp>

#include <QTextCursor>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>

#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/DocxNotes.h"
#include "core/engines/document/DocxRelationships.h"
#include "core/engines/document/DocxStyles.h"
#include "core/engines/document/SymbolFonts.h"

namespace kolvex {

namespace {

using namespace docx;

constexpr double kMaxImageWidth = 468;  // the text width of a Letter page with one-inch margins
constexpr double kMaxImageHeight = 648;
constexpr double kEmuPerPoint = 12700;

QTextCharFormat charFormatOf(const RunStyle& style, const std::optional<std::string>& link) {
    TextAttributes attributes;
    TextFont font = TextFont::system(style.pointSize);
    if (style.monospaced) font.design = TextFont::Design::monospaced;
    font.family = style.family;
    font.bold = style.bold;
    font.italic = style.italic;
    attributes.font = font;
    attributes.link = link;
    attributes.underline = style.underline;
    attributes.strike = style.strike;
    attributes.colour = style.colour;
    return kolvex::charFormatOf(attributes);
}

// Walks the body into the document through one cursor. A "fresh" block is an empty one the
// document already has (its first, the one after a table, a new cell's): the next paragraph goes
// into it instead of opening another.
class BodyWalker {
public:
    // A kind of note, and the relationships its part names its pictures and links with.
    struct Notes {
        NoteSet& set;
        const Relationships& relationships;
    };

    BodyWalker(RichDocument& document, const DocxReader::Parts& parts, const Relationships& relationships, const StyleSheet& styles,
               const Numbering& numbering, Notes footnotes, Notes endnotes)
        : m_document(document), m_parts(parts), m_relationships(&relationships), m_styles(styles), m_numbering(numbering),
          m_footnotes(footnotes), m_endnotes(endnotes), m_cursor(&document) {}

    void block(const pugi::xml_node& node, size_t depth) {
        if (depth > DocxReader::kMaxDepth) throw DocumentDepthError(fmt::format("nests its elements deeper than Kolvex reads ({} levels)", DocxReader::kMaxDepth));
        for (const pugi::xml_node& child : node.children()) {
            if (child.type() != pugi::node_element) continue;
            const std::string_view name = localName(child.name());
            if (name == "p") {
                paragraph(child, depth + 1);
            } else if (name == "tbl") {
                table(child, depth + 1);
            } else if (name == "del" || name == "moveFrom" || name == "Fallback" || name == "sectPr" || name == "sdtPr" ||
                       name == "sdtEndPr") {
                continue;
            } else {
                // Content controls, custom XML, inserted text: their paragraphs and tables.
                block(child, depth + 1);
            }
        }
    }

    // The notes the body referred to, after it: footnotes, then endnotes, each kind in the order
    // of its marks, each note opening with its mark as the body shows it.
    // Each note's pictures and links are looked up in its own part's relationships.
    void notes() {
        m_inNotes = true;
        for (const Notes* kind : {&m_footnotes, &m_endnotes}) {
            m_relationships = &kind->relationships;
            for (const NoteSet::Referenced& note : kind->set.referenced()) {
                m_noteMark = note.mark;
                block(note.note, 1);
                m_noteMark.clear();
            }
        }
    }

    int droppedImages() const { return m_droppedImages; }
    // Symbols of fonts whose codes say nothing by themselves, left out, and those fonts.
    int droppedSymbols() const { return m_droppedSymbols; }
    const std::set<std::string>& symbolFonts() const { return m_symbolFonts; }

private:
    RichDocument& m_document;
    const DocxReader::Parts& m_parts;
    const Relationships* m_relationships;  // of the part being read
    const StyleSheet& m_styles;
    const Numbering& m_numbering;
    Notes m_footnotes;
    Notes m_endnotes;
    QTextCursor m_cursor;
    bool m_inNotes = false;
    std::string m_noteMark;  // of the note being read, until its text shows it
    bool m_fresh = true;
    bool m_pageBreakPending = false;
    RunStyle m_paragraphBase;
    std::optional<std::string> m_link;
    std::map<std::pair<int, int>, QTextList*> m_lists;
    std::vector<pugi::xml_node> m_textBoxes;  // of the paragraph being read, not yet carried
    size_t m_tableCells = 0;
    size_t m_paragraphs = 0;
    int m_droppedImages = 0;
    int m_droppedSymbols = 0;
    std::set<std::string> m_symbolFonts;

    // A character given by a symbol font's code (Symbol's Greek, Wingdings' ticks): as the
    // Unicode character it draws, where it is known.
    void symbol(const pugi::xml_node& sym, const QTextCharFormat& format) {
        const std::string_view font = attributeValue(sym, "font");
        if (const auto character = symbol_fonts::unicodeOf(font, attributeValue(sym, "char"))) {
            insertText(QString::fromUcs4(&*character, 1), format);
            return;
        }
        ++m_droppedSymbols;
        if (!font.empty() && m_symbolFonts.size() < 3) m_symbolFonts.emplace(font);
    }

    void startBlock(QTextBlockFormat format) {
        if (++m_paragraphs > RichDocument::kMaxParagraphs) throw DocumentLimitError(RichDocument::tooManyParagraphs());
        if (m_pageBreakPending) format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        m_pageBreakPending = false;
        if (m_fresh) m_cursor.setBlockFormat(format);
        else m_cursor.insertBlock(format, QTextCharFormat());
        m_fresh = false;
    }

    void paragraph(const pugi::xml_node& p, size_t depth) {
        const pugi::xml_node pPr = childNamed(p, "pPr");
        const std::string_view styleId = attributeValue(childNamed(pPr, "pStyle"), "val");
        const ParagraphStyle paragraphStyle = m_styles.paragraph(styleId);
        QTextBlockFormat format;
        if (paragraphStyle.headingLevel > 0) format.setHeadingLevel(paragraphStyle.headingLevel);
        if (const pugi::xml_node outline = childNamed(pPr, "outlineLvl")) {
            const int level = std::atoi(std::string(attributeValue(outline, "val")).c_str());
            if (level >= 0 && level < 6) format.setHeadingLevel(level + 1);
        }
        if (const pugi::xml_node breakBefore = childNamed(pPr, "pageBreakBefore")) {
            const std::string_view value = attributeValue(breakBefore, "val");
            if (value != "0" && value != "false" && value != "off") format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        }
        startBlock(format);

        std::optional<ListReference> list = paragraphStyle.list;
        if (const pugi::xml_node numPr = childNamed(pPr, "numPr")) {
            ListReference reference;
            reference.numId = std::atoi(std::string(attributeValue(childNamed(numPr, "numId"), "val")).c_str());
            reference.level = std::clamp(std::atoi(std::string(attributeValue(childNamed(numPr, "ilvl"), "val")).c_str()), 0, 8);
            list = reference;
        }
        if (list) joinList(*list);

        const RunStyle outer = m_paragraphBase;
        m_paragraphBase = m_styles.paragraphBase(styleId);
        std::vector<pugi::xml_node> outerBoxes;
        outerBoxes.swap(m_textBoxes);
        inlineContent(p, depth);
        m_paragraphBase = outer;
        // Text boxes anchored in the paragraph follow it, each once, in the order they appear.
        std::vector<pugi::xml_node> boxes;
        boxes.swap(m_textBoxes);
        m_textBoxes.swap(outerBoxes);
        for (const pugi::xml_node& box : boxes) block(box, depth + 1);
    }

    // The text boxes of a drawing (DrawingML's wps:txbx, VML's v:textbox): their content nodes.
    // Of alternative content, the first choice that has text boxes counts, else the fallback:
    // they are two forms of one shape.
    void findTextBoxes(const pugi::xml_node& node, size_t depth, std::vector<pugi::xml_node>& boxes) const {
        if (depth > DocxReader::kMaxDepth) throw DocumentDepthError(fmt::format("nests its elements deeper than Kolvex reads ({} levels)", DocxReader::kMaxDepth));
        for (const pugi::xml_node& child : node.children()) {
            if (child.type() != pugi::node_element) continue;
            const std::string_view name = localName(child.name());
            if (name == "txbxContent") {
                boxes.push_back(child);
            } else if (name == "AlternateContent") {
                alternativeTextBoxes(child, depth + 1, boxes);
            } else if (name != "Fallback") {
                findTextBoxes(child, depth + 1, boxes);
            }
        }
    }

    void alternativeTextBoxes(const pugi::xml_node& alternatives, size_t depth, std::vector<pugi::xml_node>& boxes) const {
        std::vector<pugi::xml_node> found;
        for (const pugi::xml_node& choice : alternatives.children())
            if (localName(choice.name()) == "Choice" && found.empty()) findTextBoxes(choice, depth + 1, found);
        if (found.empty())
            for (const pugi::xml_node& fallback : alternatives.children())
                if (localName(fallback.name()) == "Fallback") findTextBoxes(fallback, depth + 1, found);
        boxes.insert(boxes.end(), found.begin(), found.end());
    }

    void joinList(const ListReference& reference) {
        const std::optional<QTextListFormat::Style> style = m_numbering.style(reference);
        if (!style) return;
        const std::pair<int, int> key{reference.numId, reference.level};
        auto found = m_lists.find(key);
        if (found != m_lists.end()) {
            found->second->add(m_cursor.block());
            return;
        }
        QTextListFormat format;
        format.setStyle(*style);
        format.setIndent(reference.level + 1);
        m_lists[key] = m_cursor.createList(format);
    }

    void inlineContent(const pugi::xml_node& node, size_t depth) {
        if (depth > DocxReader::kMaxDepth) throw DocumentDepthError(fmt::format("nests its elements deeper than Kolvex reads ({} levels)", DocxReader::kMaxDepth));
        for (const pugi::xml_node& child : node.children()) {
            if (child.type() != pugi::node_element) continue;
            const std::string_view name = localName(child.name());
            if (name == "r") {
                run(child, depth + 1);
            } else if (name == "hyperlink") {
                const std::optional<std::string> outer = m_link;
                const std::string_view anchor = attributeValue(child, "anchor");
                auto found = m_relationships->links.find(std::string(attributeValue(child, "id")));
                if (found != m_relationships->links.end()) m_link = found->second;
                else if (!anchor.empty()) m_link = "#" + std::string(anchor);
                inlineContent(child, depth + 1);
                m_link = outer;
            } else if (name == "del" || name == "moveFrom" || name == "Fallback" || name == "pPr" || name == "rPr" || name == "sdtPr" ||
                       name == "sdtEndPr") {
                continue;
            } else if (name == "p") {
                // A paragraph nested where runs were expected (malformed, or a text box): keep its text.
                paragraph(child, depth + 1);
            } else {
                inlineContent(child, depth + 1);  // ins, smartTag, sdt, sdtContent, fldSimple, AlternateContent/Choice, …
            }
        }
    }

    static QString markText(const std::string& mark) { return QString::fromStdString("[" + mark + "]"); }

    void insertText(const QString& text, const QTextCharFormat& format) {
        if (!m_noteMark.empty()) {
            // A note whose text does not place its own mark starts with it.
            const std::string mark = std::exchange(m_noteMark, {});
            insertText(markText(mark) + QLatin1Char(' '), format);
        }
        if (m_pageBreakPending) {
            // Text after a page break inside a paragraph: the rest of the paragraph starts the page.
            if (m_cursor.block().length() > 1) {
                QTextBlockFormat rest = m_cursor.blockFormat();
                rest.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                m_cursor.insertBlock(rest);
            } else {
                QTextBlockFormat here = m_cursor.blockFormat();
                here.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                m_cursor.setBlockFormat(here);
            }
            m_pageBreakPending = false;
        }
        m_cursor.insertText(text, format);
    }

    void run(const pugi::xml_node& r, size_t depth) {
        RunStyle style = m_paragraphBase;
        if (pugi::xml_node rPr = childNamed(r, "rPr")) {
            m_styles.apply(attributeValue(childNamed(rPr, "rStyle"), "val"), style);
            RunProperties::of(rPr).applyTo(style);
        }
        if (style.hidden) return;  // hidden text, with whatever else the run holds
        const QTextCharFormat format = charFormatOf(style, m_link);
        for (const pugi::xml_node& child : r.children()) {
            if (child.type() != pugi::node_element) continue;
            const std::string_view name = localName(child.name());
            if (name == "t") {
                insertText(QString::fromUtf8(child.text().get()), format);
            } else if (name == "tab" || name == "ptab") {
                insertText(QStringLiteral("\t"), format);
            } else if (name == "br" || name == "cr") {
                if (attributeValue(child, "type") == "page") m_pageBreakPending = true;
                else insertText(QString(QChar::LineSeparator), format);
            } else if (name == "sym") {
                symbol(child, format);
            } else if (name == "noBreakHyphen") {
                insertText(QStringLiteral("\u2011"), format);
            } else if (name == "drawing" || name == "pict" || name == "object") {
                picture(child, depth + 1);
                findTextBoxes(child, depth + 1, m_textBoxes);
            } else if (name == "AlternateContent") {
                for (const pugi::xml_node& choice : child.children())
                    if (localName(choice.name()) == "Choice") {
                        for (const pugi::xml_node& t : choice.children()) {
                            if (localName(t.name()) == "t") insertText(QString::fromUtf8(t.text().get()), format);
                            else if (localName(t.name()) == "drawing") picture(t, depth + 1);
                        }
                        break;
                    }
                alternativeTextBoxes(child, depth + 1, m_textBoxes);
            } else if (name == "footnoteReference" || name == "endnoteReference") {
                if (m_inNotes) continue;  // notes are not nested
                NoteSet& notes = name == "footnoteReference" ? m_footnotes.set : m_endnotes.set;
                const std::string_view custom = attributeValue(child, "customMarkFollows");
                const std::string mark = notes.refer(attributeValue(child, "id"), custom == "1" || custom == "true" || custom == "on");
                if (!mark.empty()) insertText(markText(mark), format);
            } else if (name == "footnoteRef" || name == "endnoteRef") {
                if (!m_noteMark.empty()) insertText(markText(std::exchange(m_noteMark, {})), format);
            }
            // delText, instrText and the like carry no visible text.
        }
    }

    // The first picture reference below a drawing (DrawingML's blip, or VML's imagedata) and its size.
    void findPicture(const pugi::xml_node& node, size_t depth, std::string& id, double& width, double& height) const {
        if (depth > DocxReader::kMaxDepth || !id.empty()) return;
        for (const pugi::xml_node& child : node.children()) {
            const std::string_view name = localName(child.name());
            if (name == "extent" && width <= 0) {
                width = std::atof(std::string(attributeValue(child, "cx")).c_str()) / kEmuPerPoint;
                height = std::atof(std::string(attributeValue(child, "cy")).c_str()) / kEmuPerPoint;
            } else if (name == "blip") {
                id = std::string(attributeValue(child, "embed"));
            } else if (name == "imagedata") {
                id = std::string(attributeValue(child, "id"));
            } else if (name == "txbxContent" || name == "Fallback") {
                continue;
            }
            if (!id.empty()) return;
            findPicture(child, depth + 1, id, width, height);
        }
    }

    void picture(const pugi::xml_node& drawing, size_t depth) {
        std::string id;
        double width = 0;
        double height = 0;
        findPicture(drawing, depth, id, width, height);
        if (id.empty()) return;
        std::optional<RichDocument::Picture> picture;
        if (auto target = m_relationships->images.find(id); target != m_relationships->images.end())
            if (auto bytes = m_parts.media.find(target->second); bytes != m_parts.media.end()) picture = m_document.addPicture(bytes->second);
        if (!picture) {
            ++m_droppedImages;
            return;
        }
        if (width <= 0 || height <= 0) {
            width = picture->pixels.width() * 0.75;  // 96 pixels an inch
            height = picture->pixels.height() * 0.75;
        }
        const double scale = std::min({1.0, kMaxImageWidth / width, kMaxImageHeight / height});
        QTextImageFormat format;
        format.setName(picture->name);
        format.setWidth(width * scale);
        format.setHeight(height * scale);
        if (m_pageBreakPending) insertText(QString(), QTextCharFormat());
        m_cursor.insertImage(format);
    }

    void table(const pugi::xml_node& tbl, size_t depth) {
        if (depth > DocxReader::kMaxDepth) throw DocumentDepthError(fmt::format("nests its elements deeper than Kolvex reads ({} levels)", DocxReader::kMaxDepth));
        struct Cell {
            pugi::xml_node node;
            int column = 0;
            int span = 1;
            bool continuesAbove = false;
        };
        std::vector<std::vector<Cell>> rows;
        int columns = 0;
        int headerRows = 0;
        bool inHeader = true;
        for (const pugi::xml_node& tr : tbl.children()) {
            if (localName(tr.name()) != "tr") continue;
            std::vector<Cell> row;
            int column = 0;
            for (const pugi::xml_node& tc : tr.children()) {
                if (localName(tc.name()) != "tc") continue;
                const pugi::xml_node tcPr = childNamed(tc, "tcPr");
                Cell cell{tc, column, std::clamp(std::atoi(std::string(attributeValue(childNamed(tcPr, "gridSpan"), "val")).c_str()), 1, 1000)};
                if (const pugi::xml_node merge = childNamed(tcPr, "vMerge")) cell.continuesAbove = attributeValue(merge, "val") != "restart";
                column += cell.span;
                row.push_back(cell);
            }
            const bool header = static_cast<bool>(childNamed(childNamed(tr, "trPr"), "tblHeader"));
            if (inHeader && header) ++headerRows;
            else inHeader = false;
            columns = std::max(columns, column);
            rows.push_back(std::move(row));
        }
        if (rows.empty() || columns == 0) return;
        m_tableCells += rows.size() * static_cast<size_t>(columns);
        if (m_tableCells > DocxReader::kMaxTableCells) throw DocumentFormatError("the document's tables are too large");

        QTextTableFormat format;
        if (m_pageBreakPending) format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        m_pageBreakPending = false;
        format.setBorder(1);
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        format.setBorderCollapse(true);
        format.setCellPadding(4);
        format.setHeaderRowCount(headerRows);
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        QTextTable* table = m_cursor.insertTable(static_cast<int>(rows.size()), columns, format);

        const QTextCursor outerCursor = m_cursor;
        std::vector<std::pair<int, int>> mergeStarts(static_cast<size_t>(columns), {-1, 1});  // per column: start row, span
        std::vector<std::tuple<int, int, int, int>> merges;  // row, column, rows, columns
        for (size_t r = 0; r < rows.size(); ++r) {
            for (const Cell& cell : rows[r]) {
                const int row = static_cast<int>(r);
                auto& start = mergeStarts[static_cast<size_t>(cell.column)];
                if (cell.continuesAbove && start.first >= 0) {
                    std::get<2>(merges[static_cast<size_t>(start.second)]) = row - start.first + 1;
                    continue;
                }
                merges.emplace_back(row, cell.column, 1, cell.span);
                start = {row, static_cast<int>(merges.size()) - 1};
                m_cursor = table->cellAt(row, cell.column).firstCursorPosition();
                m_fresh = true;
                block(cell.node, depth + 1);
            }
        }
        for (const auto& [row, column, rowSpan, columnSpan] : merges)
            if (rowSpan > 1 || columnSpan > 1) table->mergeCells(row, column, rowSpan, columnSpan);

        // Back out of the table, into the block Qt keeps after it.
        m_cursor = outerCursor;
        m_cursor.setPosition(table->lastPosition() + 1);
        m_fresh = true;
    }
};

}  // namespace

std::unique_ptr<RichDocument> DocxReader::readParts(const Parts& parts) {
    const Relationships relationships = Relationships::parse(parts.relationships, "word/document.xml");
    const Relationships footnoteRelationships = Relationships::parse(parts.footnoteRelationships, "word/footnotes.xml");
    const Relationships endnoteRelationships = Relationships::parse(parts.endnoteRelationships, "word/endnotes.xml");
    StyleSheet styles;
    pugi::xml_document stylesDocument;
    if (!parts.styles.empty()) {
        stylesDocument = parsePart(parts.styles, "styles part");
        styles = StyleSheet(stylesDocument.document_element());
    }
    Numbering numbering;
    pugi::xml_document numberingDocument;
    if (!parts.numbering.empty()) {
        numberingDocument = parsePart(parts.numbering, "numbering part");
        numbering = Numbering(numberingDocument.document_element());
    }
    pugi::xml_document settingsDocument;
    if (!parts.settings.empty()) settingsDocument = parsePart(parts.settings, "settings part");
    const pugi::xml_node settings = settingsDocument.document_element();
    const pugi::xml_document document = parsePart(parts.document, "document part");
    pugi::xml_node root = document.document_element();
    if (localName(root.name()) != "document") throw DocumentFormatError("the document part has no document element");
    pugi::xml_node body;
    for (const pugi::xml_node& child : root.children())
        if (localName(child.name()) == "body") body = child;

    pugi::xml_document footnotesDocument;
    pugi::xml_document endnotesDocument;
    if (!parts.footnotes.empty()) footnotesDocument = parsePart(parts.footnotes, "footnotes part");
    if (!parts.endnotes.empty()) endnotesDocument = parsePart(parts.endnotes, "endnotes part");
    NoteSet footnotes(footnotesDocument.document_element(), noteNumbering(body, settings, "footnotePr", "decimal"));
    NoteSet endnotes(endnotesDocument.document_element(), noteNumbering(body, settings, "endnotePr", "lowerRoman"));

    auto out = std::make_unique<RichDocument>();
    BodyWalker walker(*out, parts, relationships, styles, numbering, {footnotes, footnoteRelationships},
                      {endnotes, endnoteRelationships});
    {
        QTextCursor edit(out.get());
        edit.beginEditBlock();
        if (body) walker.block(body, 0);
        walker.notes();
        edit.endEditBlock();
    }
    if (walker.droppedImages() == 1) out->addNote("A picture could not be read and was left out.");
    else if (walker.droppedImages() > 1) out->addNote(fmt::format("{} pictures could not be read and were left out.", walker.droppedImages()));
    if (walker.droppedSymbols() > 0) out->addNote(symbol_fonts::leftOutNote(walker.droppedSymbols(), walker.symbolFonts()));
    return out;
}

}  // namespace kolvex
