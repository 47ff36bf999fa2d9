// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace kolvex {

// A word of a page's text layer where the reader placed it: its characters in the order the
// reader keeps them, and the box of each (the characters one glyph stands for share its box in
// equal parts, in the glyph's own order).
struct PlacedWord {
    struct Box {
        double x = 0;
        double y = 0;
        double width = 0;
        double height = 0;
    };
    std::string text;             // UTF-8
    std::vector<Box> characters;  // one per character (code point) of `text`; empty when unknown
    Box box;
    int rotation = 0;             // quarter turns
    double fontSize = 0;          // points; 0 when unknown
};

// A page's text read back in logical order, as it was written. PDF readers hand over right-to-
// left text by where its glyphs stand and turn each line round themselves, which reverses what
// one glyph stands for (a lam-alef reads back as alef-lam), parts marks from their letters, swaps
// the clauses of a mixed line, and leaves the scripts they do not know as right-to-left in the
// order they stand. Here each glyph is put where it stands on its line, with the characters it
// stands for in their own order and the marks drawn on it, and the line is read back with the
// Unicode bidirectional algorithm run in reverse (from visual to logical order), then composed
// (NFC). Stateless; any thread.
struct PageTextOrder {
    // Whether `text` (UTF-8) holds a character of a right-to-left script.
    static bool hasRightToLeft(const std::string& text);

    // Whether a page whose reading-order text is `text` (UTF-8) is read from where its glyphs
    // stand: any page with right-to-left text.
    static bool readsFromPlaces(const std::string& text);

    // The words as lines in logical order, in the order the reader gave the lines, each ended
    // by a line break (UTF-8). `pageWidth` (points, 0 when unknown) helps tell the side a
    // lone line is set against.
    static std::string logicalLines(const std::vector<PlacedWord>& words, double pageWidth = 0);
};

}  // namespace kolvex
