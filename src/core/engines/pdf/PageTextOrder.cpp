// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PageTextOrder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ubidi.h>
#include <unicode/unistr.h>

#include "core/engines/pdf/PageTextOrderGlyphs.h"

namespace kolvex {

namespace {

using page_text_order::decoded;
using page_text_order::Glyph;
using page_text_order::isLeftToRight;
using page_text_order::isMark;
using page_text_order::isRightToLeft;

// The character that gives a glyph its direction: its first strong one, else its first.
char32_t leading(const std::u32string& text) {
    for (const char32_t c : text)
        if (isRightToLeft(c) || isLeftToRight(c)) return c;
    return text.front();
}

// A character of the basic plane with the bidirectional class of `c`, for ICU's UTF-16 text:
// one code unit a glyph keeps the glyphs and the algorithm's indices one for one.
UChar standIn(char32_t c) {
    if (c <= 0xFFFF) return static_cast<UChar>(c);
    switch (u_charDirection(static_cast<UChar32>(c))) {
    case U_LEFT_TO_RIGHT: return u'a';
    case U_RIGHT_TO_LEFT: return u'\u05D0';
    case U_RIGHT_TO_LEFT_ARABIC: return u'\u0627';
    case U_EUROPEAN_NUMBER: return u'1';
    case U_ARABIC_NUMBER: return u'\u0660';
    case U_DIR_NON_SPACING_MARK: return u'\u0300';
    case U_WHITE_SPACE_NEUTRAL: return u' ';
    default: return u'!';
    }
}

// The paragraph direction of a line read left to right: right to left when its strong
// characters at both ends are, or (the ends differing) when most of them are.
bool readsRightToLeft(const std::vector<char32_t>& visual) {
    int rightToLeft = 0;
    int leftToRight = 0;
    int first = 0;
    int last = 0;
    for (const char32_t c : visual) {
        const int direction = isRightToLeft(c) ? 1 : isLeftToRight(c) ? -1 : 0;
        if (direction == 0) continue;
        if (first == 0) first = direction;
        last = direction;
        (direction > 0 ? rightToLeft : leftToRight) += 1;
    }
    if (first == last) return first > 0;
    return rightToLeft > leftToRight;
}

// The order ICU's bidirectional algorithm puts `text` in (as indices into it), each with
// whether it was read from the right; empty when ICU fails.
std::vector<std::pair<int32_t, bool>> reordered(const icu::UnicodeString& text, UBiDiLevel paragraph, UBiDiReorderingMode mode) {
    UErrorCode error = U_ZERO_ERROR;
    std::unique_ptr<UBiDi, decltype(&ubidi_close)> bidi(ubidi_openSized(text.length(), 0, &error), &ubidi_close);
    if (U_FAILURE(error)) return {};
    ubidi_setReorderingMode(bidi.get(), mode);
    ubidi_setPara(bidi.get(), text.getBuffer(), text.length(), paragraph, nullptr, &error);
    const int32_t runs = ubidi_countRuns(bidi.get(), &error);
    if (U_FAILURE(error)) return {};
    std::vector<std::pair<int32_t, bool>> order;
    for (int32_t run = 0; run < runs; ++run) {
        int32_t start = 0;
        int32_t length = 0;
        if (ubidi_getVisualRun(bidi.get(), run, &start, &length) == UBIDI_LTR) {
            for (int32_t i = start; i < start + length; ++i) order.emplace_back(i, false);
        } else {
            for (int32_t i = start + length - 1; i >= start; --i) order.emplace_back(i, true);
        }
    }
    return order;
}

// One line, given as its glyphs from left to right, in logical order. A visual order does not
// always tell its logical order alone (a number between a word of each direction may belong to
// either), and no one way back suits every line: the readings of the algorithm run in reverse
// (numbers as left-to-right text, then numbers as the algorithm places them) are tried in turn,
// and the first that lays out again as the line stands is taken. The paragraph's direction is
// the side the line is set against (`aligned`) where that is plain, else its letters' guess.
std::u32string logicalOrder(const std::vector<Glyph>& glyphs, std::optional<bool> aligned) {
    std::vector<char32_t> leads;
    icu::UnicodeString visual;
    for (const Glyph& glyph : glyphs) {
        leads.push_back(leading(glyph.text));
        visual.append(standIn(leads.back()));
    }
    const UBiDiLevel paragraph = aligned.value_or(readsRightToLeft(leads)) ? 1 : 0;
    std::vector<std::pair<int32_t, bool>> chosen;
    for (const UBiDiReorderingMode mode : {UBIDI_REORDER_INVERSE_NUMBERS_AS_L, UBIDI_REORDER_INVERSE_LIKE_DIRECT}) {
        const auto order = reordered(visual, paragraph, mode);
        if (order.size() != glyphs.size()) continue;
        if (chosen.empty()) chosen = order;
        icu::UnicodeString logical;
        for (const auto& [index, fromRight] : order) logical.append(visual.charAt(index));
        const auto shown = reordered(logical, paragraph, UBIDI_REORDER_DEFAULT);
        bool same = shown.size() == order.size();
        for (size_t i = 0; same && i < shown.size(); ++i) same = order[static_cast<size_t>(shown[i].first)].first == static_cast<int32_t>(i);
        if (same) {
            chosen = order;
            break;
        }
    }
    std::u32string logical;
    if (chosen.empty()) {
        for (const Glyph& glyph : glyphs) logical += glyph.text;
        return logical;
    }
    for (const auto& [index, fromRight] : chosen) {
        const std::u32string& text = glyphs[static_cast<size_t>(index)].text;
        // A bracket or other mirrored sign read from the right is its mirror image.
        if (fromRight && text.size() == 1) logical.push_back(static_cast<char32_t>(u_charMirror(static_cast<UChar32>(text.front()))));
        else logical += text;
    }
    return logical;
}

std::string composedUtf8(const std::u32string& text) {
    icu::UnicodeString unicode;
    for (const char32_t c : text) unicode.append(static_cast<UChar32>(c));
    UErrorCode error = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(error);
    if (U_SUCCESS(error)) {
        icu::UnicodeString composed = nfc->normalize(unicode, error);
        if (U_SUCCESS(error)) unicode = std::move(composed);
    }
    std::string out;
    unicode.toUTF8String(out);
    return out;
}

// Whether `word` stands on the line whose vertical extent is [top, bottom].
bool onLine(const PlacedWord& word, double top, double bottom, int rotation) {
    if (word.rotation != rotation) return false;
    if (rotation % 2 == 1) return std::abs(word.box.x - top) < 0.5 * std::max(word.box.width, 1.0);
    const double overlap = std::min(bottom, word.box.y + word.box.height) - std::max(top, word.box.y);
    return overlap > 0.5 * std::min(bottom - top, word.box.height);
}

bool marksAlone(const PlacedWord& word) {
    const std::u32string text = decoded(word.text);
    return std::all_of(text.begin(), text.end(), isMark);
}

// An upside-down word as it reads: its boxes mirrored, so that it reads from the left.
PlacedWord turnedUpright(const PlacedWord& word) {
    PlacedWord upright = word;
    const auto mirrored = [](PlacedWord::Box box) {
        box.x = -(box.x + box.width);
        return box;
    };
    upright.box = mirrored(word.box);
    for (auto& box : upright.characters) box = mirrored(box);
    return upright;
}

struct Line {
    std::vector<const PlacedWord*> words;
    std::vector<const PlacedWord*> marks;
    double top = 0;
    double bottom = 0;
    int rotation = 0;
    double left = 0;
    double right = 0;
};

// Whether an upright line is set against the right (true) or the left (false): a line that
// starts where the page's text starts and ends well short of where it ends is set left, and
// the other way round; a line spanning the text (or the page's only line) is judged against the
// page's own edges. Nothing when neither side is plain (a centred or full line). A line whose
// two ends are of different directions lays out the same read either way; only the side it
// is set against tells a paragraph written left to right from one written right to left.
std::optional<bool> setAgainstTheRight(const Line& line, double textLeft, double textRight, double pageWidth) {
    const double height = line.bottom - line.top;
    if (height <= 0) return std::nullopt;
    const auto judged = [&](double leftGap, double rightGap, double plain) -> std::optional<bool> {
        if (std::min(leftGap, rightGap) > height) return std::nullopt;
        if (std::abs(leftGap - rightGap) <= plain) return std::nullopt;
        return rightGap < leftGap;
    };
    if (auto side = judged(line.left - textLeft, textRight - line.right, 2 * height)) return side;
    if (line.left - textLeft > height || textRight - line.right > height || pageWidth <= 0) return std::nullopt;
    const double leftMargin = line.left;
    const double rightMargin = pageWidth - line.right;
    if (std::abs(leftMargin - rightMargin) <= std::max(2 * height, 0.1 * pageWidth)) return std::nullopt;
    return rightMargin < leftMargin;
}

std::string lineText(const Line& line, std::optional<bool> aligned) {
    if (line.rotation % 2 == 1) {
        // Text set sideways keeps the reader's order.
        std::string text;
        for (const PlacedWord* word : line.words) text += (text.empty() ? "" : " ") + word->text;
        return text;
    }
    if (line.rotation == 2) {
        std::vector<PlacedWord> words;
        std::vector<PlacedWord> marks;
        for (const PlacedWord* word : line.words) words.push_back(turnedUpright(*word));
        for (const PlacedWord* word : line.marks) marks.push_back(turnedUpright(*word));
        std::vector<const PlacedWord*> wordsAt;
        std::vector<const PlacedWord*> marksAt;
        for (const auto& word : words) wordsAt.push_back(&word);
        for (const auto& word : marks) marksAt.push_back(&word);
        return composedUtf8(logicalOrder(page_text_order::lineGlyphs(wordsAt, marksAt), std::nullopt));
    }
    return composedUtf8(logicalOrder(page_text_order::lineGlyphs(line.words, line.marks), aligned));
}

// The line a word of marks alone is drawn on: the one it overlaps most, near its words.
Line* lineOfMarks(const PlacedWord& marks, std::vector<Line>& lines) {
    Line* best = nullptr;
    double most = 0;
    for (Line& line : lines) {
        if (line.rotation != marks.rotation || line.rotation % 2 == 1) continue;
        double left = std::numeric_limits<double>::max();
        double right = std::numeric_limits<double>::lowest();
        for (const PlacedWord* word : line.words) {
            left = std::min(left, word->box.x);
            right = std::max(right, word->box.x + word->box.width);
        }
        const double height = line.bottom - line.top;
        if (marks.box.x + marks.box.width < left - height || marks.box.x > right + height) continue;
        const double overlap = std::min(line.bottom, marks.box.y + marks.box.height) - std::max(line.top, marks.box.y);
        if (overlap > most) {
            most = overlap;
            best = &line;
        }
    }
    return best;
}

}  // namespace

bool PageTextOrder::hasRightToLeft(const std::string& text) {
    const std::u32string characters = decoded(text);
    return std::any_of(characters.begin(), characters.end(), isRightToLeft);
}

bool PageTextOrder::readsFromPlaces(const std::string& text) { return hasRightToLeft(text); }

std::string PageTextOrder::logicalLines(const std::vector<PlacedWord>& words, double pageWidth) {
    std::vector<Line> lines;
    std::vector<const PlacedWord*> loose;
    for (const PlacedWord& word : words) {
        if (word.text.empty()) continue;
        if (marksAlone(word)) {
            loose.push_back(&word);
            continue;
        }
        if (lines.empty() || !onLine(word, lines.back().top, lines.back().bottom, lines.back().rotation)) {
            Line line;
            line.top = word.rotation % 2 == 1 ? word.box.x : word.box.y;
            line.bottom = word.box.y + word.box.height;
            line.rotation = word.rotation;
            lines.push_back(std::move(line));
        }
        lines.back().words.push_back(&word);
    }
    for (const PlacedWord* marks : loose) {
        if (Line* line = lineOfMarks(*marks, lines)) {
            line->marks.push_back(marks);
            continue;
        }
        // Marks drawn away from any letter are kept, as a line of their own.
        Line line;
        line.top = marks->box.y;
        line.bottom = marks->box.y + marks->box.height;
        line.rotation = marks->rotation;
        line.words.push_back(marks);
        lines.push_back(std::move(line));
    }

    // Where the page's upright text starts and ends, to tell the side each line is set against.
    double textLeft = std::numeric_limits<double>::max();
    double textRight = std::numeric_limits<double>::lowest();
    for (Line& line : lines) {
        if (line.rotation != 0) continue;
        line.left = std::numeric_limits<double>::max();
        line.right = std::numeric_limits<double>::lowest();
        for (const PlacedWord* word : line.words) {
            line.left = std::min(line.left, word->box.x);
            line.right = std::max(line.right, word->box.x + word->box.width);
        }
        textLeft = std::min(textLeft, line.left);
        textRight = std::max(textRight, line.right);
    }

    // A line ends with a line break; one further off than most of a line's height from the line
    // before it, or above it (a new column), starts a new block after an empty line, as the
    // reader's own text separates its blocks.
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (i > 0 && line.rotation % 2 == 0) {
            const Line& before = lines[i - 1];
            const double height = line.bottom - line.top;
            if (line.top - before.bottom > 0.8 * height || line.top < before.top - 0.5 * height) text += "\n";
        }
        const auto aligned = line.rotation == 0 ? setAgainstTheRight(line, textLeft, textRight, pageWidth) : std::nullopt;
        text += lineText(line, aligned) + "\n";
    }
    return text;
}

}  // namespace kolvex
