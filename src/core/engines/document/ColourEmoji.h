#pragma once

class QTextDocument;

namespace kolvex {

// Qt picks a fallback font character by character, so an emoji sequence can come apart: a thumb
// from one font and its skin tone from another, a family as four people. Every character
// (grapheme cluster) that shows as an emoji — a character of emoji presentation, or one with
// an emoji variation selector, a skin tone, a joiner between emoji, a keycap or flag — is given
// the colour emoji font first, which draws the whole sequence as one glyph. Does nothing when
// no colour emoji font is installed. Call before the document is laid out.
void preferColourEmojiFont(QTextDocument& document);

}  // namespace kolvex
