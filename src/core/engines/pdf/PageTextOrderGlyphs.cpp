// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PageTextOrderGlyphs.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>

namespace kolvex::page_text_order {

namespace {

using Box = PlacedWord::Box;

// What one glyph of a right-to-left script may stand for beyond one character: the ligatures
// Unicode encodes as presentation forms (lam-alef, "الله", Hebrew's alef-lamed…), spelt out.
const std::set<std::u32string>& ligatures() {
    static const std::set<std::u32string> known = [] {
        std::set<std::u32string> found;
        UErrorCode error = U_ZERO_ERROR;
        const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(error);
        if (U_FAILURE(error)) return found;
        for (UChar32 c = 0xFB1D; c <= 0xFEFF; ++c) {
            if (c > 0xFDFF && c < 0xFE70) continue;
            error = U_ZERO_ERROR;
            const icu::UnicodeString spelt = nfkc->normalize(icu::UnicodeString(c), error);
            if (U_FAILURE(error) || spelt.countChar32() < 2) continue;
            std::u32string text;
            for (int32_t i = 0; i < spelt.length(); i = spelt.moveIndex32(i, 1)) text.push_back(static_cast<char32_t>(spelt.char32At(i)));
            if (std::any_of(text.begin(), text.end(), [](char32_t d) { return d == U' '; })) continue;
            found.insert(text);
        }
        return found;
    }();
    return known;
}

Box joined(const Box& a, const Box& b) {
    const double left = std::min(a.x, b.x);
    const double top = std::min(a.y, b.y);
    return Box{left, top, std::max(a.x + a.width, b.x + b.width) - left, std::max(a.y + a.height, b.y + b.height) - top};
}

// A mark to put with a glyph by where it stands; `joined` is the glyph the reader joined it to
// (its word's letter before it), if any.
struct Loose {
    Glyph mark;
    size_t joined = std::numeric_limits<size_t>::max();
};

// A glyph of a line with the word it came from (no space is put between glyphs of one word).
struct Placed {
    Glyph glyph;
    size_t word = 0;
    bool cut = false;  // the reader cut its box short at a mark joined to it: where it ends is unknown
};

// A run of characters that share their boxes in equal parts is what one glyph or one span of
// replacement text stands for: readers spread such text evenly over where it was drawn, in its
// own order. Right-to-left text of the scripts readers turn round is given there in the order it
// stands (so that turning it round reads right): its marks come before their base. Other text is
// given in reading order: its marks follow their base.
void cutRun(const std::u32string& run, const std::vector<Box>& boxes, size_t word, std::vector<Placed>& glyphs,
            std::vector<Loose>& loose) {
    // A ligature, or text of a right-to-left script readers take as it stands (which they are
    // given in reading order, from the left), is one piece in its own order.
    const bool rightToLeft = std::any_of(run.begin(), run.end(), isRightToLeft);
    const bool turned = std::any_of(run.begin(), run.end(), readersTurnRound);
    if (run.size() > 1 && (ligatures().count(run) || (rightToLeft && !turned))) {
        Box box = boxes.front();
        for (const Box& one : boxes) box = joined(box, one);
        glyphs.push_back({Glyph{run, box}, word});
        return;
    }
    const std::u32string& text = run;

    const size_t first = glyphs.size();
    std::vector<size_t> waiting;  // marks met before the base they stand on
    const auto settle = [&] {
        for (const size_t i : waiting) {
            if (glyphs.size() > first) glyphs.back().glyph.text.push_back(text[i]);
            else loose.push_back({Glyph{std::u32string(1, text[i]), boxes[i]}});
        }
        waiting.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i];
        if (isMark(c)) {
            if (text.size() == 1) loose.push_back({Glyph{text, boxes[i]}});
            else waiting.push_back(i);
            continue;
        }
        if (isRightToLeft(c)) {
            // Put down as they stand, marks come before their base and in reverse order.
            std::u32string base(1, c);
            for (auto mark = waiting.rbegin(); mark != waiting.rend(); ++mark) base.push_back(text[*mark]);
            waiting.clear();
            glyphs.push_back({Glyph{base, boxes[i]}, word});
            continue;
        }
        settle();
        glyphs.push_back({Glyph{std::u32string(1, c), boxes[i]}, word});
    }
    settle();
}

// Cuts a word into its glyphs. A word without right-to-left text is kept whole, as the reader
// gave it; marks no run of the word puts with a base go to `loose`.
void cutWord(const PlacedWord& word, size_t index, std::vector<Placed>& glyphs, std::vector<Loose>& loose) {
    const std::u32string text = decoded(word.text);
    if (text.empty()) return;
    const bool rightToLeft = std::any_of(text.begin(), text.end(), isRightToLeft);
    const bool marksAlone = std::all_of(text.begin(), text.end(), isMark);
    if (!rightToLeft && !marksAlone) {
        glyphs.push_back({Glyph{text, word.box}, index});
        return;
    }
    std::vector<Box> boxes = word.characters;
    if (boxes.size() != text.size()) {
        // Without a box a character, the word's box shared out in the order of its text.
        boxes.clear();
        const double share = word.box.width / static_cast<double>(text.size());
        for (size_t i = 0; i < text.size(); ++i)
            boxes.push_back(Box{word.box.x + share * static_cast<double>(i), word.box.y, share, word.box.height});
    }
    // A reader that joins a mark to the letter before it splits the letter's box between them:
    // the letter keeps the whole stretch up to the next letter.
    for (size_t i = 0; i < text.size(); ++i) {
        if (isMark(text[i])) continue;
        size_t next = i + 1;
        while (next < text.size() && isMark(text[next])) ++next;
        if (next == i + 1) continue;
        const double right = next < text.size() ? boxes[next].x : word.box.x + word.box.width;
        if (right > boxes[i].x + boxes[i].width && !(boxes[i + 1].width > 0.05 && std::abs(boxes[i + 1].width - boxes[i].width) < 0.02 * std::max(1.0, boxes[i].width)))
            boxes[i].width = right - boxes[i].x;
    }
    // Whether characters j − 1 and j share one box in equal parts.
    const auto sharing = [&](size_t j) {
        const Box& before = boxes[j - 1];
        const Box& box = boxes[j];
        const double tolerance = 0.02 * std::max(1.0, before.width);
        return before.width > 0.05 && std::abs(box.width - before.width) < tolerance &&
               std::abs(box.x - (before.x + before.width)) < tolerance;
    };
    for (size_t i = 0; i < text.size();) {
        size_t end = i + 1;
        while (end < text.size() && sharing(end)) ++end;
        // A mark the reader joined to the letter before it (it does so where the mark lies on
        // the letter) most likely stands on that letter.
        const bool marksOnly = std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i), text.begin() + static_cast<std::ptrdiff_t>(end), isMark);
        if (marksOnly && i > 0 && !glyphs.empty() && glyphs.back().word == index) {
            for (size_t j = i; j < end; ++j) loose.push_back({Glyph{std::u32string(1, text[j]), boxes[j]}, glyphs.size() - 1});
            glyphs.back().cut = true;
            i = end;
            continue;
        }
        cutRun(text.substr(i, end - i), std::vector<Box>(boxes.begin() + static_cast<std::ptrdiff_t>(i), boxes.begin() + static_cast<std::ptrdiff_t>(end)),
               index, glyphs, loose);
        i = end;
    }
}

// Puts a mark with the glyph it is drawn on. A zero-width mark is set where the pen stands: at
// the left edge of a right-to-left base (set after the mark when the line is drawn from the
// left), at the right edge of a left-to-right one, moved by its anchor, which keeps it over its
// base (programs that round glyph positions put it up to a point beside). The nearest such edge
// tells the base; between two as near, the one whose box holds the mark. A mark that keeps its
// own width (more than a narrow sliver) lies over the middle of its base.
// The glyphs of a line by where they start, to look up the few a mark may stand on.
struct ByPlace {
    std::vector<size_t> order;  // indices into the glyphs, by the left edge of their boxes
    double widest = 0;
};

ByPlace byPlace(const std::vector<Placed>& glyphs) {
    ByPlace index;
    for (size_t i = 0; i < glyphs.size(); ++i) {
        index.order.push_back(i);
        index.widest = std::max(index.widest, glyphs[i].glyph.box.width);
    }
    std::stable_sort(index.order.begin(), index.order.end(), [&](size_t a, size_t b) { return glyphs[a].glyph.box.x < glyphs[b].glyph.box.x; });
    return index;
}

void placeMark(const Loose& loose, std::vector<Placed>& glyphs, const ByPlace& index, double height) {
    const Glyph& mark = loose.mark;
    const double tolerance = 0.06 * height;
    const bool wide = mark.box.width > 0.1 * height;
    const double x = wide ? mark.box.x + mark.box.width / 2 : mark.box.x;
    size_t best = std::numeric_limits<size_t>::max();
    double bestKey = std::numeric_limits<double>::max();
    const auto consider = [&](size_t i) {
        const Box& box = glyphs[i].glyph.box;
        const char32_t base = glyphs[i].glyph.text.front();
        if (base == U' ') return;
        double key = 0;
        if (wide) key = std::abs(x - (box.x + box.width / 2));
        else if (isRightToLeft(base)) key = std::abs(x - box.x);
        else if (isLeftToRight(base)) key = std::abs(x - (box.x + box.width));
        else key = std::abs(x - (box.x + box.width / 2));
        const bool holds = x >= box.x - tolerance && x <= box.x + box.width;
        if (!holds) key += 0.01;
        // A mark of one script is not set on a letter or digit of another.
        UErrorCode error = U_ZERO_ERROR;
        const UScriptCode script = uscript_getScript(static_cast<UChar32>(base), &error);
        if (U_SUCCESS(error) && !uscript_hasScript(static_cast<UChar32>(mark.text.front()), script)) key += 1e6;
        // The reader split its letter's box where the mark stands, so the mark lies at the end of
        // that letter; it goes elsewhere only where another letter's edge is nearer still.
        if (i == loose.joined) key = std::min(key, 0.5 * tolerance);
        if (key < bestKey) {
            bestKey = key;
            best = i;
        }
    };
    if (loose.joined < glyphs.size()) consider(loose.joined);
    // Only the glyphs within a couple of line heights of the mark can hold it; the nearest glyph
    // on either side stands in where none does.
    const double reach = 2 * height;
    const auto from = std::lower_bound(index.order.begin(), index.order.end(), x - index.widest - reach,
                                       [&](size_t i, double left) { return glyphs[i].glyph.box.x < left; });
    for (auto at = from; at != index.order.end() && glyphs[*at].glyph.box.x <= x + reach; ++at) consider(*at);
    if (best >= glyphs.size()) {
        const auto after = std::lower_bound(index.order.begin(), index.order.end(), x,
                                            [&](size_t i, double left) { return glyphs[i].glyph.box.x < left; });
        if (after != index.order.end()) consider(*after);
        if (after != index.order.begin()) consider(*std::prev(after));
    }
    if (best < glyphs.size()) glyphs[best].glyph.text += mark.text;
}

}  // namespace

std::u32string decoded(const std::string& utf8) {
    const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(utf8);
    std::u32string text;
    for (int32_t i = 0; i < unicode.length(); i = unicode.moveIndex32(i, 1)) text.push_back(static_cast<char32_t>(unicode.char32At(i)));
    return text;
}

bool isLeftToRight(char32_t c) { return u_charDirection(static_cast<UChar32>(c)) == U_LEFT_TO_RIGHT; }

bool isMark(char32_t c) {
    const int8_t type = u_charType(static_cast<UChar32>(c));
    return type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK;
}

bool isRightToLeft(char32_t c) {
    const UCharDirection direction = u_charDirection(static_cast<UChar32>(c));
    return direction == U_RIGHT_TO_LEFT || direction == U_RIGHT_TO_LEFT_ARABIC;
}

bool readersTurnRound(char32_t c) {
    return (c >= 0x0590 && c <= 0x07BF) || (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF);
}

std::vector<Glyph> lineGlyphs(const std::vector<const PlacedWord*>& words, const std::vector<const PlacedWord*>& marks) {
    std::vector<Placed> glyphs;
    std::vector<Loose> loose;
    double height = 0;
    double size = 0;
    for (size_t i = 0; i < words.size(); ++i) {
        height = std::max(height, words[i]->box.height);
        size = std::max(size, words[i]->fontSize);
        cutWord(*words[i], i, glyphs, loose);
    }
    for (const PlacedWord* word : marks) {
        const std::u32string text = decoded(word->text);
        for (size_t i = 0; i < text.size(); ++i)
            loose.push_back({Glyph{std::u32string(1, text[i]), i < word->characters.size() ? word->characters[i] : word->box}});
    }
    if (glyphs.empty()) {
        // Marks drawn alone on their line are kept as they are.
        for (const Loose& mark : loose) glyphs.push_back({mark.mark, 0});
    } else {
        const ByPlace index = byPlace(glyphs);
        for (const Loose& mark : loose) placeMark(mark, glyphs, index, height);
    }
    std::stable_sort(glyphs.begin(), glyphs.end(), [](const Placed& a, const Placed& b) { return a.glyph.box.x < b.glyph.box.x; });

    // Words stand apart by a space, a quarter of an em or so, or less in some fonts; a program
    // that rounds glyph positions sets letters of one word up to a point or two apart. A gap is a
    // space from a tenth of an em where the line's widest gap is twice that or more, and from
    // about a fifth of an em anyway.
    const auto gapAt = [&](size_t i) {
        const Box& left = glyphs[i - 1].glyph.box;
        return glyphs[i].glyph.box.x - (left.x + left.width);
    };
    double widest = 0;
    for (size_t i = 1; i < glyphs.size(); ++i)
        if (glyphs[i].word != glyphs[i - 1].word) widest = std::max(widest, gapAt(i));
    const double space = size > 0 ? std::max(0.1 * size, std::min(0.18 * size, 0.5 * widest)) : 0.1 * height;
    std::vector<Glyph> line;
    for (size_t i = 0; i < glyphs.size(); ++i) {
        if (i > 0 && glyphs[i].word != glyphs[i - 1].word && line.back().text != U" " && glyphs[i].glyph.text != U" ") {
            const Box& left = glyphs[i - 1].glyph.box;
            const double gap = gapAt(i);
            if (gap > (glyphs[i - 1].cut && size > 0 ? std::max(space, 0.18 * size) : space)) line.push_back(Glyph{U" ", Box{left.x + left.width, left.y, gap, left.height}});
        }
        line.push_back(std::move(glyphs[i].glyph));
    }
    return line;
}

}  // namespace kolvex::page_text_order
