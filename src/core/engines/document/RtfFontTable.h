// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kolvex {

// One entry of an RTF font table.
struct RtfFont {
    bool monospaced = false;
    int codePage = 0;  // 0: the document's
    std::string name;
};

// The fonts an RTF document declares in its \fonttbl group, read word by word and byte by
// byte as the parser meets them.
class RtfFontTable {
public:
    // The font table group opens: no entry is being read yet.
    void begin() { m_entry = -1; }
    // A control word inside the table: \fN starts an entry; \fmodern, \fprq1, \fcharset and
    // \cpg describe it.
    void word(std::string_view word, std::optional<long> parameter);
    // A byte of the current entry's name.
    void nameByte(unsigned char byte);
    // The current entry is complete: its name loses the closing ';' and a name that reads as
    // a monospaced family marks it monospaced.
    void finishEntry();

    // The font with this index; null when the table has none.
    const RtfFont* find(int index) const;

private:
    bool readingEntry() const { return m_entry >= 0 || m_fonts.contains(m_entry); }

    std::map<int, RtfFont> m_fonts;
    int m_entry = -1;  // the entry being read
};

}  // namespace kolvex
