// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/engines/document/CSVFormatter.h"

namespace kolvex {
namespace {

using Rows = std::vector<CSVFormatter::Row>;

TEST(CSVFormatter, ParsesQuotingAndLineEnds) {
    const struct {
        const char* text;
        Rows rows;
    } cases[] = {
        {"", {}},
        {"\n\n\r\n", {}},
        {"a,b\nccc,d", {{"a", "b"}, {"ccc", "d"}}},
        {"a,b\r\nccc,d\r\n", {{"a", "b"}, {"ccc", "d"}}},
        {"\"x,\"\"y\"", {{"x,\"y"}}},
        {"\"line\nbreak\",z", {{"line\nbreak", "z"}}},
        {"a,\n", {{"a", ""}}},
        {"ab\"c,d\"e", {{"abc,de"}}},
        {"a\rb", {{"ab"}}},
        {" a , b ", {{" a ", " b "}}},
        {"\"unclosed,\nrest", {{"unclosed,\nrest"}}},
        {"x,\"q\"", {{"x", "q"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(CSVFormatter::parse(c.text), c.rows) << c.text;
}

TEST(CSVFormatter, LaysOutAlignedTables) {
    const struct {
        const char* text;
        const char* table;
    } cases[] = {
        {"", ""},
        {"a,b\nccc,d", "a    b\nccc  d"},
        {"a,b\r\nccc,d", "a    b\nccc  d"},
        {"a,b,c\nd", "a  b  c\nd"},
        {",b\nccc,d", "b\nccc  d"},
        {"\"x\ny\",z\nlong,w", "x\ny   z\nlong  w"},
        // A letter with a combining accent and an emoji are one character each.
        {"e\xCC\x81,x\nab,y", "e\xCC\x81   x\nab  y"},
        {"\xF0\x9F\x98\x80,x\nab,y", "\xF0\x9F\x98\x80   x\nab  y"},
        // Wide (CJK) characters count as one character each, too.
        {"\xE6\x97\xA5\xE6\x9C\xAC,x\nabc,y", "\xE6\x97\xA5\xE6\x9C\xAC   x\nabc  y"},
    };
    for (const auto& c : cases) EXPECT_EQ(CSVFormatter::asPlainTable(c.text), c.table) << c.text;
}

}  // namespace
}  // namespace kolvex
