// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kolvex {

// Comma-separated text as rows of cells, and those rows as an aligned plain-text table.
// Works on characters (extended grapheme clusters) of already decoded UTF-8 text.
// Pure functions; safe from any thread.
class CSVFormatter {
public:
    using Row = std::vector<std::string>;

    CSVFormatter() = delete;

    // The rows of the text: comma separators, double-quote quoting (a doubled quote is one quote),
    // rows ended by a line feed or a carriage return and line feed. Blank lines are dropped;
    // cells are not trimmed; an unclosed quote takes the rest of the text into one cell.
    static std::vector<Row> parse(std::string_view text);

    // The rows laid out as a table: every cell padded with spaces to its column's width in
    // characters, cells joined by two spaces, each line trimmed of spaces and tabs at both ends,
    // lines joined by a line feed with none at the end. "" when there are no rows.
    static std::string asPlainTable(std::string_view text);
    // The same layout for rows that are already cells.
    static std::string alignRows(const std::vector<Row>& rows);
};

}  // namespace kolvex
