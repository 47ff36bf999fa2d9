// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/RtfFontTable.h"

#include <algorithm>
#include <iterator>

#include "core/engines/document/RtfCodePageDecoder.h"

namespace kolvex {

namespace {

bool looksMonospaced(const std::string& name) {
    static const char* const kMarks[] = {"Courier", "Mono", "Menlo", "Monaco", "Consolas", "Code", "Fixed"};
    return std::any_of(std::begin(kMarks), std::end(kMarks), [&](const char* mark) { return name.find(mark) != std::string::npos; });
}

}  // namespace

void RtfFontTable::word(std::string_view word, std::optional<long> parameter) {
    if (word == "f") {
        finishEntry();
        m_entry = static_cast<int>(parameter.value_or(-1));
        m_fonts[m_entry] = RtfFont{};
    } else if (readingEntry()) {
        RtfFont& entry = m_fonts[m_entry];
        if (word == "fmodern") entry.monospaced = true;
        else if (word == "fprq" && parameter.value_or(0) == 1) entry.monospaced = true;
        else if (word == "fcharset") entry.codePage = RtfCodePageDecoder::codePageForCharset(static_cast<int>(parameter.value_or(0)));
        else if (word == "cpg" && parameter.value_or(0) > 0) entry.codePage = static_cast<int>(*parameter);
    }
}

void RtfFontTable::nameByte(unsigned char byte) {
    if (!readingEntry()) return;
    std::string& name = m_fonts[m_entry].name;
    if (name.size() < 256) name += static_cast<char>(byte);
}

void RtfFontTable::finishEntry() {
    auto found = m_fonts.find(m_entry);
    if (found == m_fonts.end()) return;
    std::string& name = found->second.name;
    if (!name.empty() && name.back() == ';') name.pop_back();
    if (looksMonospaced(name)) found->second.monospaced = true;
}

const RtfFont* RtfFontTable::find(int index) const {
    auto found = m_fonts.find(index);
    return found == m_fonts.end() ? nullptr : &found->second;
}

}  // namespace kolvex
