// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QString>

class QTextDocument;

namespace kolvex {

// What preferColourEmojiFont changed: the family it gave emoji, and the emoji it took the
// presentation selector (U+FE0F) out of for the layout. Qt gives a selector that the emoji font
// does not map a fallback font of its own, which breaks the sequence it belongs to (a keycap, a
// rainbow flag) into pieces; the font's shaping joins the sequence without it.
struct ColourEmojiLayout {
    QString family;                   // "" when there is no colour emoji font
    // A laid-out emoji → as it was written ("" when two were written differently).
    QHash<QString, QString> written;
    // The beginning of a laid-out emoji → as it was written ("" when two were alike): Qt may hand
    // a joined sequence's glyph over with only its first characters as text. A whole emoji that
    // is laid out the same way wins over the beginning of a longer one.
    QHash<QString, QString> beginnings;

    // The text written for a run of glyphs drawn in `font` families (its first family decides).
    QString writtenText(const QString& drawn, const QStringList& families) const;
};

// Qt picks a fallback font character by character, so an emoji sequence can come apart: a thumb
// from one font and its skin tone from another, a family as four people. Every character
// (grapheme cluster) that shows as an emoji — a character of emoji presentation, or one with
// an emoji variation selector, a skin tone, a joiner between emoji, a keycap or flag — is given
// the colour emoji font first, which draws the whole sequence as one glyph. Does nothing when
// no colour emoji font is installed. Call before the document is laid out, on the thread that
// owns the document.
ColourEmojiLayout preferColourEmojiFont(QTextDocument& document);

}  // namespace kolvex
