// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/CSVFormatter.h"

#include <algorithm>

#include "core/engines/document/UnicodeText.h"

namespace kolvex {

std::vector<CSVFormatter::Row> CSVFormatter::parse(std::string_view text) {
    std::vector<Row> rows;
    Row row;
    std::string field;
    bool inQuotes = false;

    unicode::GraphemeWalker walker(text);
    std::string_view ch;
    bool haveNext = walker.next(ch);
    while (haveNext) {
        if (inQuotes) {
            if (ch != "\"") {
                field.append(ch);
                haveNext = walker.next(ch);
                continue;
            }
            haveNext = walker.next(ch);
            if (!haveNext) {
                inQuotes = false;
                break;
            }
            if (ch == "\"") {
                field += '"';
                haveNext = walker.next(ch);
                continue;
            }
            inQuotes = false;
            // The character after the closing quote is handled by the rules outside quotes.
        }
        if (ch == "\"") {
            inQuotes = true;
        } else if (ch == ",") {
            row.push_back(std::move(field));
            field.clear();
        } else if (ch == "\n" || ch == "\r\n") {
            row.push_back(std::move(field));
            field.clear();
            rows.push_back(std::move(row));
            row.clear();
        } else if (ch == "\r") {
            // A carriage return on its own is dropped.
        } else {
            field.append(ch);
        }
        haveNext = walker.next(ch);
    }
    if (!field.empty() || !row.empty()) {
        row.push_back(std::move(field));
        rows.push_back(std::move(row));
    }
    std::erase_if(rows, [](const Row& r) { return r.size() == 1 && r.front().empty(); });
    return rows;
}

std::string CSVFormatter::asPlainTable(std::string_view text) {
    return alignRows(parse(text));
}

std::string CSVFormatter::alignRows(const std::vector<Row>& rows) {
    if (rows.empty()) return {};

    size_t columns = 0;
    for (const Row& r : rows) columns = std::max(columns, r.size());
    std::vector<size_t> widths(columns, 0);
    std::vector<std::vector<size_t>> counts(rows.size());
    for (size_t r = 0; r < rows.size(); ++r) {
        counts[r].reserve(rows[r].size());
        for (size_t c = 0; c < rows[r].size(); ++c) {
            const size_t n = unicode::characterCount(rows[r][c]);
            counts[r].push_back(n);
            widths[c] = std::max(widths[c], n);
        }
    }

    std::string out;
    std::string line;
    for (size_t r = 0; r < rows.size(); ++r) {
        line.clear();
        for (size_t c = 0; c < columns; ++c) {
            if (c > 0) line += "  ";
            size_t count = 0;
            if (c < rows[r].size()) {
                line += rows[r][c];
                count = counts[r][c];
            }
            line.append(widths[c] - count, ' ');
        }
        if (r > 0) out += '\n';
        out += unicode::trimSpacesAndTabs(line);
    }
    return out;
}

}  // namespace kolvex
