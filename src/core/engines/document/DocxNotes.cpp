// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/DocxNotes.h"

#include <charconv>

#include "core/engines/document/DocxStyles.h"

namespace kolvex::docx {

namespace {

std::string roman(int number, bool upper) {
    static constexpr std::pair<int, const char*> kDigits[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"},
                                                              {90, "xc"},  {50, "l"},   {40, "xl"},  {10, "x"},   {9, "ix"},
                                                              {5, "v"},    {4, "iv"},   {1, "i"}};
    std::string out;
    for (const auto& [value, digits] : kDigits) {
        for (; number >= value; number -= value) out += digits;
    }
    if (upper) {
        for (char& c : out) c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

// Word's letters: a … z, then aa … zz, aaa …
std::string letters(int number, bool upper) {
    const int index = (number - 1) % 26;
    const int times = (number - 1) / 26 + 1;
    return std::string(static_cast<size_t>(times), static_cast<char>((upper ? 'A' : 'a') + index));
}

// Far beyond any real document's count, and far enough from INT_MAX that counting notes on from
// it cannot overflow.
constexpr int kMaxNoteStart = 1'000'000;

void readNumbering(const pugi::xml_node& properties, NoteNumbering& numbering) {
    if (!properties) return;
    const std::string_view format = attributeValue(childNamed(properties, "numFmt"), "val");
    if (!format.empty()) numbering.format = std::string(format);
    const std::string_view start = attributeValue(childNamed(properties, "numStart"), "val");
    int value = 0;
    if (std::from_chars(start.data(), start.data() + start.size(), value).ec == std::errc() && value >= 0 && value < kMaxNoteStart)
        numbering.start = value;
}

}  // namespace

std::string noteMark(int number, std::string_view format) {
    if (number >= 1 && number < 4000) {
        if (format == "lowerRoman") return roman(number, false);
        if (format == "upperRoman") return roman(number, true);
    }
    if (number >= 1 && number <= 780) {
        if (format == "lowerLetter") return letters(number, false);
        if (format == "upperLetter") return letters(number, true);
    }
    return std::to_string(number);
}

NoteSet::NoteSet(const pugi::xml_node& root, NoteNumbering numbering) : m_numbering(std::move(numbering)), m_next(m_numbering.start) {
    for (const pugi::xml_node& note : root.children()) {
        if (note.type() != pugi::node_element) continue;
        const std::string_view kind = localName(note.name());
        if (kind != "footnote" && kind != "endnote") continue;
        const std::string_view type = attributeValue(note, "type");
        if (!type.empty() && type != "normal") continue;  // separators and continuation notices
        m_notes.emplace(std::string(attributeValue(note, "id")), note);
    }
}

std::string NoteSet::refer(std::string_view id, bool customMark) {
    const std::string key(id);
    if (auto seen = m_referencedIndex.find(key); seen != m_referencedIndex.end()) return m_referenced[seen->second].mark;
    const auto note = m_notes.find(key);
    if (note == m_notes.end()) return {};
    const std::string mark = customMark ? std::string() : noteMark(m_next++, m_numbering.format);
    m_referencedIndex.emplace(key, m_referenced.size());
    m_referenced.push_back({note->second, mark});
    return mark;
}

NoteNumbering noteNumbering(const pugi::xml_node& body, const pugi::xml_node& settings, std::string_view element,
                            std::string_view fallbackFormat) {
    NoteNumbering numbering{std::string(fallbackFormat), 1};
    readNumbering(childNamed(settings, element), numbering);
    pugi::xml_node section;
    for (const pugi::xml_node& child : body.children())
        if (localName(child.name()) == "sectPr") section = child;
    readNumbering(childNamed(section, element), numbering);
    return numbering;
}

}  // namespace kolvex::docx
