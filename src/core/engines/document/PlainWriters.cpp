// SPDX-License-Identifier: GPL-3.0-or-later
// Markdown and plain text from a rich document: the structure each can hold in its own terms.
#include <algorithm>

#include <QTextBlock>
#include <QTextFragment>
#include <QTextList>
#include <QTextTable>

#include "core/engines/document/CSVFormatter.h"
#include "core/engines/document/RichDocument.h"
#include "core/engines/document/TextWriters.h"

namespace kolvex::text_writers {

namespace {

std::string utf8(const QString& text) {
    return text.toStdString();
}

bool startsPage(const QTextBlock& block) {
    return block.blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore;
}

// "  " per nesting level, then the marker and a space.
QString listPrefix(const QTextBlock& block, bool markdown) {
    const QTextList* list = block.textList();
    if (!list) return {};
    const int level = std::max(0, list->format().indent() - 1);
    QString marker = listMarker(block);
    if (markdown) {
        // Markdown knows bullets and decimal numbers; letters and roman numerals become numbers.
        marker = list->format().style() < 0 && list->format().style() >= QTextListFormat::ListSquare
                     ? QStringLiteral("-")
                     : QString::number(list->itemNumber(block) + 1) + QLatin1Char('.');
    }
    return QString(level * (markdown ? 3 : 2), QLatin1Char(' ')) + marker + QLatin1Char(' ');
}

// Markdown's inline markup characters, escaped where they are text.
QString escapeMarkdown(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('*') || c == QLatin1Char('_') || c == QLatin1Char('`') ||
            c == QLatin1Char('[') || c == QLatin1Char(']'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

// A code span: fenced with more backticks than any run inside it.
QString codeSpan(const QString& text) {
    int longest = 0;
    int run = 0;
    for (const QChar c : text) {
        run = c == QLatin1Char('`') ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    const QString fence(longest + 1, QLatin1Char('`'));
    const bool pad = text.startsWith(QLatin1Char('`')) || text.endsWith(QLatin1Char('`'));
    return fence + (pad ? QStringLiteral(" ") : QString()) + text + (pad ? QStringLiteral(" ") : QString()) + fence;
}

// One fragment with its marks. Spaces at either end stay outside them: "** word**" is no emphasis.
QString markedFragment(const QString& text, const CharStyle& style) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].isSpace()) ++begin;
    while (end > begin && text[end - 1].isSpace()) --end;
    if (begin == end) return text;
    const QString core = text.mid(begin, end - begin);
    QString marked;
    if (style.monospaced) {
        marked = codeSpan(core);
    } else {
        QString open;
        if (style.bold) open += QStringLiteral("**");
        if (style.italic) open += QLatin1Char('*');
        if (style.strike) open += QStringLiteral("~~");
        QString close = open;
        std::reverse(close.begin(), close.end());
        marked = open + escapeMarkdown(core) + close;
    }
    if (!style.link.isEmpty()) {
        QString url = style.link;
        url.replace(QLatin1Char(' '), QStringLiteral("%20")).replace(QLatin1Char(')'), QStringLiteral("%29"));
        marked = QLatin1Char('[') + marked + QStringLiteral("](") + url + QLatin1Char(')');
    }
    return text.left(begin) + marked + text.mid(end);
}

// `bold` false: the context already shows it (a heading, a table's header row).
QString markdownInline(const QTextBlock& block, bool bold = true) {
    QString out;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (!fragment.isValid()) continue;
        const QString text = fragmentText(fragment.text());
        if (text.isEmpty()) continue;
        // Line breaks inside a paragraph stay line breaks; each line is marked on its own.
        const QStringList lines = text.split(QLatin1Char('\n'));
        CharStyle style = CharStyle::of(fragment.charFormat());
        style.bold = style.bold && bold;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (i > 0) out += QLatin1Char('\n');
            out += markedFragment(lines[i], style);
        }
    }
    return out;
}

// A table cell's paragraphs on one line, as a cell of a pipe table or an aligned row holds them.
QString cellText(const QTextTableCell& cell, bool markdown, bool header = false) {
    QStringList parts;
    forEachItem(
        cell.begin(), cell.end(),
        [&](const QTextBlock& block) {
            QString text = markdown ? markdownInline(block, !header) : fragmentText(block.text());
            text.replace(QLatin1Char('\n'), QLatin1Char(' '));
            if (markdown) text.replace(QLatin1Char('|'), QStringLiteral("\\|"));
            if (!text.isEmpty()) parts << text;
        },
        [&](QTextTable& inner) {
            for (int r = 0; r < inner.rows(); ++r)
                for (int c = 0; c < inner.columns(); ++c) {
                    const QTextTableCell innerCell = inner.cellAt(r, c);
                    if (innerCell.row() == r && innerCell.column() == c) parts << cellText(innerCell, markdown);
                }
        });
    return parts.join(QLatin1Char(' '));
}

std::vector<CSVFormatter::Row> tableRows(QTextTable& table, bool markdown) {
    std::vector<CSVFormatter::Row> rows;
    for (int r = 0; r < table.rows(); ++r) {
        CSVFormatter::Row row;
        for (int c = 0; c < table.columns(); ++c) {
            const QTextTableCell cell = table.cellAt(r, c);
            // A merged cell shows its text once, at its top left.
            const bool header = r < std::max(1, table.format().headerRowCount());
            row.push_back(cell.row() == r && cell.column() == c ? utf8(cellText(cell, markdown, header)) : std::string());
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// Lines joined by line feeds, as the paragraphs of the source were.
class LineOutput {
public:
    void line(const std::string& text) {
        if (m_started) m_out += '\n';
        m_out += text;
        m_started = true;
    }
    std::string take() { return std::move(m_out); }

private:
    std::string m_out;
    bool m_started = false;
};

}  // namespace

std::string markdown(const QTextDocument& document) {
    LineOutput out;
    forEachItem(
        document.rootFrame()->begin(), document.rootFrame()->end(),
        [&](const QTextBlock& block) {
            QString prefix = listPrefix(block, true);
            const int level = prefix.isEmpty() ? block.blockFormat().headingLevel() : 0;
            if (level > 0) prefix = QString(std::min(level, 6), QLatin1Char('#')) + QLatin1Char(' ');
            out.line(utf8(prefix + markdownInline(block, level == 0)));
        },
        [&](QTextTable& table) {
            const std::vector<CSVFormatter::Row> rows = tableRows(table, true);
            if (rows.empty()) return;
            out.line({});  // a pipe table stands apart from the paragraphs around it
            for (size_t r = 0; r < rows.size(); ++r) {
                std::string line = "|";
                for (const std::string& cell : rows[r]) line += " " + cell + " |";
                out.line(line);
                if (r == 0) {
                    std::string rule = "|";
                    for (size_t c = 0; c < rows[r].size(); ++c) rule += " --- |";
                    out.line(rule);
                }
            }
            out.line({});
        });
    return out.take();
}

std::string plainText(const QTextDocument& document) {
    LineOutput out;
    forEachItem(
        document.rootFrame()->begin(), document.rootFrame()->end(),
        [&](const QTextBlock& block) {
            // A form feed, the plain-text page break, opens a paragraph that starts a page.
            const QString feed = startsPage(block) && block.position() > 0 ? QStringLiteral("\f") : QString();
            out.line(utf8(feed + listPrefix(block, false) + fragmentText(block.text())));
        },
        [&](QTextTable& table) { out.line(CSVFormatter::alignRows(tableRows(table, false))); });
    return out.take();
}

}  // namespace kolvex::text_writers
