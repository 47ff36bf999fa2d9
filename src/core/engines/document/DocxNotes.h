// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

// Footnotes and endnotes of a word-processing package, for the DOCX reader: which notes the body
// refers to, in the order it does, and the mark each is numbered with. Plain values; no shared
// state.
namespace kolvex::docx {

// How a kind of note is numbered: its format ("decimal", "lowerRoman", "upperRoman",
// "lowerLetter", "upperLetter"; anything else counts as decimal) and its first number.
struct NoteNumbering {
    std::string format;
    int start = 1;
};

// The mark of the note numbered `number` in `format`: "3", "iv", "C", "aa".
std::string noteMark(int number, std::string_view format);

// One kind of note (footnotes or endnotes): the notes part's notes by id, and those the body
// refers to, numbered in the order of their first reference.
class NoteSet {
public:
    struct Referenced {
        pugi::xml_node note;
        std::string mark;  // empty: the body prints its own mark (w:customMarkFollows)
    };

    NoteSet() = default;
    // `root` is the part's document element (w:footnotes / w:endnotes); separators are not notes.
    NoteSet(const pugi::xml_node& root, NoteNumbering numbering);

    // The mark for a reference to note `id` ("" for a custom mark, or when no such note exists);
    // a note referred to again keeps its first mark.
    std::string refer(std::string_view id, bool customMark);
    bool has(std::string_view id) const { return m_notes.contains(std::string(id)); }
    const std::vector<Referenced>& referenced() const { return m_referenced; }

private:
    std::map<std::string, pugi::xml_node> m_notes;
    std::map<std::string, size_t> m_referencedIndex;
    std::vector<Referenced> m_referenced;
    NoteNumbering m_numbering;
    int m_next = 0;
};

// The numbering of footnotes (`element` "footnotePr") or endnotes ("endnotePr") as the last
// section's properties state it, else the settings part, else Word's default (`fallbackFormat`).
NoteNumbering noteNumbering(const pugi::xml_node& body, const pugi::xml_node& settings, std::string_view element,
                            std::string_view fallbackFormat);

}  // namespace kolvex::docx
