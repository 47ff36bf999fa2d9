// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/RtfMarkup.h"

#include <algorithm>

#include <fmt/format.h>

#include <QTextCursor>
#include <QTextImageFormat>
#include <QTextTable>

#include "core/engines/document/DocumentFormatError.h"

namespace kolvex::rtf_markup {

namespace {

constexpr double kMaxWidth = 468;  // the text width of a Letter page with one-inch margins
constexpr double kMaxHeight = 648;

bool insertPicture(RichDocument& document, QTextCursor& cursor, const RtfPicture& picture) {
    if (!picture.supported) return false;
    const std::optional<RichDocument::Picture> added = document.addPicture(QByteArray::fromHex(QByteArray::fromStdString(picture.hex)));
    if (!added) return false;
    // Sizes are twentieths of a point; without them the picture shows at 96 pixels an inch.
    double width = picture.widthTwips > 0 ? picture.widthTwips / 20.0 : added->pixels.width() * 0.75;
    double height = picture.heightTwips > 0 ? picture.heightTwips / 20.0 : added->pixels.height() * 0.75;
    const double scale = std::min({1.0, kMaxWidth / width, kMaxHeight / height});
    QTextImageFormat format;
    format.setName(added->name);
    format.setWidth(width * scale);
    format.setHeight(height * scale);
    cursor.insertImage(format);
    return true;
}

}  // namespace

std::unique_ptr<RichDocument> buildDocument(const StyledText& marked, std::vector<RtfPicture> pictures) {
    // Split the text at paragraph ends and table markers: paragraphs outside tables go to the
    // document as they come; a row is what lies between the last paragraph end (or row end) and
    // its row-end marker, its cells split at the cell-end markers.
    using Cell = StyledText;
    using Row = std::vector<Cell>;
    auto document = std::make_unique<RichDocument>();
    size_t nextPicture = 0;
    int dropped = 0;
    // Styled text with its picture markers replaced by the pictures.
    auto insert = [&](QTextCursor& at, const StyledText& text) {
        StyledText piece;
        for (const TextRun& run : text.runs()) {
            std::string_view rest = run.text;
            for (size_t marker = rest.find(kPicture); marker != std::string_view::npos; marker = rest.find(kPicture)) {
                piece.append(rest.substr(0, marker), run.attributes);
                rest.remove_prefix(marker + kPicture.size());
                insertStyled(at, piece);
                piece = StyledText();
                if (nextPicture < pictures.size() && !insertPicture(*document, at, pictures[nextPicture])) ++dropped;
                ++nextPicture;
            }
            piece.append(rest, run.attributes);
        }
        insertStyled(at, piece);
    };
    QTextCursor cursor(document.get());
    cursor.beginEditBlock();
    StyledText pending;  // text since the last paragraph or row end
    std::vector<Row> rows;
    Row row;
    Cell cell;
    bool firstBlock = true;
    auto flushTable = [&] {
        if (rows.empty()) return;
        size_t columns = 0;
        for (const Row& r : rows) columns = std::max(columns, r.size());
        QTextTableFormat format;
        format.setBorder(1);
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        format.setBorderCollapse(true);
        format.setCellPadding(4);
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        QTextTable* table = cursor.insertTable(static_cast<int>(rows.size()), static_cast<int>(std::max<size_t>(columns, 1)), format);
        for (size_t r = 0; r < rows.size(); ++r)
            for (size_t c = 0; c < rows[r].size(); ++c) {
                QTextCursor inCell = table->cellAt(static_cast<int>(r), static_cast<int>(c)).firstCursorPosition();
                insert(inCell, rows[r][c]);
            }
        cursor.setPosition(table->lastPosition() + 1);
        rows.clear();
        firstBlock = true;  // the block after the table is there, empty
    };
    size_t paragraphs = 0;
    auto paragraph = [&] {
        if (++paragraphs > RichDocument::kMaxParagraphs) throw DocumentLimitError(RichDocument::tooManyParagraphs());
        flushTable();
        if (!firstBlock) cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        firstBlock = false;
        insert(cursor, pending);
        pending = StyledText();
    };
    for (const TextRun& run : marked.runs()) {
        std::string_view text = run.text;
        while (!text.empty()) {
            const size_t next = std::min({text.find('\n'), text.find(kCellEnd), text.find(kRowEnd), text.find(kCellParagraph)});
            pending.append(text.substr(0, next), run.attributes);
            if (next == std::string_view::npos) break;
            if (text[next] == '\n') {
                paragraph();
                text.remove_prefix(next + 1);
                continue;
            }
            const std::string_view marker = text.substr(next, 3);
            text.remove_prefix(next + 3);
            if (marker == kCellParagraph) {
                pending.append("\n", run.attributes);
            } else if (marker == kCellEnd) {
                if (++paragraphs > RichDocument::kMaxParagraphs) throw DocumentLimitError(RichDocument::tooManyParagraphs());
                row.push_back(std::move(pending));
                pending = StyledText();
            } else {
                // A row: its cells; text after the last cell belongs to no cell.
                rows.push_back(std::move(row));
                row.clear();
                pending = StyledText();
            }
        }
    }
    if (!row.empty()) rows.push_back(std::move(row));
    if (!pending.empty() || rows.empty()) paragraph();
    else flushTable();
    cursor.endEditBlock();
    if (dropped == 1) document->addNote("A picture could not be read and was left out.");
    else if (dropped > 1) document->addNote(fmt::format("{} pictures could not be read and were left out.", dropped));
    return document;
}

}  // namespace kolvex::rtf_markup
