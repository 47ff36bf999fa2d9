// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <stop_token>

#include <QString>

class QFont;
class QTextDocument;

namespace kolvex {

// Qt picks a font letter by letter: a word whose letters are not all in its own font is drawn
// from two fonts and shaped in pieces, so a word of a joining script (Urdu "بہت" in DejaVu Sans,
// which lacks ہ) loses its joins. Each such word is given, whole, the first of the fonts Qt took
// for its letters that has every one of them (else the first such installed font in fontconfig's
// order for its own font), and is shaped in that one font. A word Qt draws whole in one font of
// its fallback is left as it is.
class WordFonts {
public:
    WordFonts() = delete;

    // Gives every word that its font does not cover a font that covers it whole. Returns how many
    // words it changed. Throws OperationCancelled when `stop` is requested. On the thread that
    // owns the document, before it is laid out; needs a QGuiApplication.
    static int giveWholeWords(QTextDocument& document, std::stop_token stop = {});

    // The family for the whole of `word` beside `font`: none when `font` has every letter, when
    // Qt draws the word in one font anyway, or when no installed font has them all (Qt's letter-by-letter fallback is then the best there
    // is). Any thread (calls wait for each other).
    static std::optional<QString> familyFor(const QString& word, const QFont& font);

    // Whether a character belongs to a word: letters, digits, marks and the joiners.
    static bool inWord(char32_t c);
};

}  // namespace kolvex
