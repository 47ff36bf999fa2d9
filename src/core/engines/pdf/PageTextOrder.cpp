// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PageTextOrder.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ubidi.h>
#include <unicode/unistr.h>

namespace kolvex {

namespace {

std::u32string decoded(const std::string& utf8) {
    const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(utf8);
    std::u32string text;
    for (int32_t i = 0; i < unicode.length(); i = unicode.moveIndex32(i, 1)) text.push_back(static_cast<char32_t>(unicode.char32At(i)));
    return text;
}

bool isRightToLeft(char32_t c) {
    const UCharDirection direction = u_charDirection(static_cast<UChar32>(c));
    return direction == U_RIGHT_TO_LEFT || direction == U_RIGHT_TO_LEFT_ARABIC;
}

bool isLeftToRight(char32_t c) { return u_charDirection(static_cast<UChar32>(c)) == U_LEFT_TO_RIGHT; }

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

// The word cut into what its glyphs stand for: a run of characters sharing one glyph's box in
// equal parts that spells a ligature stays one piece; every other character is a piece alone.
std::vector<std::u32string> glyphsOf(const PlacedWord& word) {
    std::vector<std::u32string> pieces;
    const std::u32string text = decoded(word.text);
    const size_t count = text.size();
    const bool placed = word.characters.size() == count;
    // Whether characters j − 1 and j share one box in equal parts.
    const auto sharing = [&](size_t j) {
        const auto& before = word.characters[j - 1];
        const auto& box = word.characters[j];
        const double tolerance = 0.02 * std::max(1.0, before.width);
        return std::abs(box.width - before.width) < tolerance && std::abs(box.x - (before.x + before.width)) < tolerance;
    };
    for (size_t i = 0; i < count;) {
        size_t taken = 1;
        for (size_t length = std::min<size_t>(4, count - i); placed && length >= 2; --length) {
            const std::u32string run = text.substr(i, length);
            if (!ligatures().count(run)) continue;
            bool shared = true;
            for (size_t j = i + 1; shared && j < i + length; ++j) shared = sharing(j);
            // A run that goes on sharing past the ligature is text set in one piece (a span
            // with its own reading), not a glyph.
            if (shared && i > 0 && sharing(i)) shared = false;
            if (shared && i + length < count && sharing(i + length)) shared = false;
            if (shared) {
                taken = length;
                break;
            }
        }
        pieces.push_back(text.substr(i, taken));
        i += taken;
    }
    return pieces;
}

// The paragraph direction of a line read left to right: right to left when its strong
// characters at both ends are, or (the ends differing) when most of them are.
bool readsRightToLeft(const std::u32string& visual) {
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

// One line, given as its pieces from left to right, in logical order.
std::u32string logicalOrder(const std::vector<std::u32string>& pieces) {
    // A right-to-left piece of several characters is put down as a reader would see its
    // characters, so that turning the run round gives them back in their own order.
    std::u32string visual;
    for (const auto& piece : pieces) {
        if (piece.size() > 1 && isRightToLeft(piece.front())) visual.append(piece.rbegin(), piece.rend());
        else visual += piece;
    }
    icu::UnicodeString text;
    for (const char32_t c : visual) text.append(static_cast<UChar32>(c));
    UErrorCode error = U_ZERO_ERROR;
    std::unique_ptr<UBiDi, decltype(&ubidi_close)> bidi(ubidi_openSized(text.length(), 0, &error), &ubidi_close);
    if (U_FAILURE(error)) return visual;
    ubidi_setReorderingMode(bidi.get(), UBIDI_REORDER_INVERSE_LIKE_DIRECT);
    ubidi_setPara(bidi.get(), text.getBuffer(), text.length(), readsRightToLeft(visual) ? 1 : 0, nullptr, &error);
    if (U_FAILURE(error)) return visual;
    std::vector<UChar> out(static_cast<size_t>(text.length()) * 2 + 8);
    const int32_t length = ubidi_writeReordered(bidi.get(), out.data(), static_cast<int32_t>(out.size()),
                                                UBIDI_DO_MIRRORING | UBIDI_REMOVE_BIDI_CONTROLS, &error);
    if (U_FAILURE(error)) return visual;
    const icu::UnicodeString logical(out.data(), length);
    std::u32string result;
    for (int32_t i = 0; i < logical.length(); i = logical.moveIndex32(i, 1)) result.push_back(static_cast<char32_t>(logical.char32At(i)));
    return result;
}

std::string utf8Of(const std::u32string& text) {
    icu::UnicodeString unicode;
    for (const char32_t c : text) unicode.append(static_cast<UChar32>(c));
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

std::string lineText(std::vector<const PlacedWord*> line) {
    if (line.front()->rotation % 2 == 1) {
        // Text set sideways keeps the reader's order.
        std::string text;
        for (const PlacedWord* word : line) text += (text.empty() ? "" : " ") + word->text;
        return text;
    }
    std::stable_sort(line.begin(), line.end(), [](const PlacedWord* a, const PlacedWord* b) { return a->box.x < b->box.x; });
    if (line.front()->rotation == 2) std::reverse(line.begin(), line.end());
    std::vector<std::u32string> pieces;
    double height = 0;
    for (const PlacedWord* word : line) height = std::max(height, word->box.height);
    for (size_t i = 0; i < line.size(); ++i) {
        if (i > 0) {
            const auto& left = line[i - 1]->box;
            const auto& right = line[i]->box;
            const double gap = line[i]->rotation == 2 ? left.x - (right.x + right.width) : right.x - (left.x + left.width);
            if (gap > 0.1 * height) pieces.push_back(U" ");
        }
        for (auto& piece : glyphsOf(*line[i])) pieces.push_back(std::move(piece));
    }
    return utf8Of(logicalOrder(pieces));
}

}  // namespace

bool PageTextOrder::hasRightToLeft(const std::string& text) {
    const std::u32string characters = decoded(text);
    return std::any_of(characters.begin(), characters.end(), isRightToLeft);
}

bool PageTextOrder::readsFromPlaces(const std::string& text) {
    const std::u32string characters = decoded(text);
    bool rightToLeft = false;
    for (const char32_t c : characters) {
        if (!isRightToLeft(c)) {
            if (u_charType(static_cast<UChar32>(c)) == U_NON_SPACING_MARK) return false;
            continue;
        }
        const bool turned = (c >= 0x0590 && c <= 0x07BF) || (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF);
        if (!turned) return false;
        rightToLeft = true;
    }
    return rightToLeft;
}

std::string PageTextOrder::logicalLines(const std::vector<PlacedWord>& words) {
    std::string text;
    std::vector<const PlacedWord*> line;
    double top = 0;
    double bottom = 0;
    double lastTop = 0;
    double lastBottom = 0;
    bool first = true;
    // A line ends with a line break; one further off than most of a line's height from the line
    // before it, or above it (a new column), starts a new block after an empty line, as the
    // reader's own text separates its blocks.
    const auto flush = [&] {
        if (line.empty()) return;
        const bool upright = line.front()->rotation % 2 == 0;
        if (!first && upright && (top - lastBottom > 0.8 * (bottom - top) || top < lastTop - 0.5 * (bottom - top))) text += "\n";
        text += lineText(line) + "\n";
        lastTop = top;
        lastBottom = bottom;
        first = false;
        line.clear();
    };
    for (const PlacedWord& word : words) {
        if (word.text.empty()) continue;
        if (!line.empty() && !onLine(word, top, bottom, line.front()->rotation)) flush();
        if (line.empty()) {
            top = word.rotation % 2 == 1 ? word.box.x : word.box.y;
            bottom = word.box.y + word.box.height;
        }
        line.push_back(&word);
    }
    flush();
    return text;
}

}  // namespace kolvex
