// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <fontconfig/fontconfig.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>

namespace kolvex::testing {

// One line of a right-to-left script to write into a PDF and read back.
struct RightToLeftRow {
    std::string script;  // ICU's short name ("Hebr")
    std::string kind;    // "pure", "mixed", "Latin first", "Latin opening", "Latin closing", each "… with marks" where the script has them
    std::string text;    // UTF-8, logical order
};

namespace detail {

// Up to `count` characters of `set` that one installed font covers (the font covering most of
// them), spread over the set.
inline std::vector<UChar32> coveredSpread(const icu::UnicodeSet& set, size_t count) {
    std::vector<UChar32> all;
    for (int32_t i = 0; i < set.size(); ++i) all.push_back(set.charAt(i));
    if (all.empty()) return {};
    std::unique_ptr<FcCharSet, decltype(&FcCharSetDestroy)> wanted(FcCharSetCreate(), &FcCharSetDestroy);
    FcCharSetAddChar(wanted.get(), static_cast<FcChar32>(all.front()));
    std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> pattern(FcPatternCreate(), &FcPatternDestroy);
    FcPatternAddCharSet(pattern.get(), FC_CHARSET, wanted.get());
    std::unique_ptr<FcObjectSet, decltype(&FcObjectSetDestroy)> objects(FcObjectSetBuild(FC_CHARSET, nullptr), &FcObjectSetDestroy);
    std::unique_ptr<FcFontSet, decltype(&FcFontSetDestroy)> fonts(FcFontList(nullptr, pattern.get(), objects.get()), &FcFontSetDestroy);
    std::vector<UChar32> best;
    for (int f = 0; fonts && f < fonts->nfont; ++f) {
        FcCharSet* has = nullptr;
        if (FcPatternGetCharSet(fonts->fonts[f], FC_CHARSET, 0, &has) != FcResultMatch) continue;
        std::vector<UChar32> covered;
        for (const UChar32 c : all)
            if (FcCharSetHasChar(has, static_cast<FcChar32>(c))) covered.push_back(c);
        if (covered.size() > best.size()) best = covered;
    }
    if (best.size() <= count) return best;
    std::vector<UChar32> spread;
    for (size_t i = 0; i < count; ++i) spread.push_back(best[i * best.size() / count]);
    return spread;
}

inline std::string utf8(const std::vector<UChar32>& characters) {
    icu::UnicodeString text;
    for (const UChar32 c : characters) text.append(c);
    std::string out;
    text.toUTF8String(out);
    return out;
}

}  // namespace detail

// Rows for every right-to-left script (as ICU knows them) that an installed font covers: three
// words of its letters alone, among Latin words and numbers, Latin first, and a Latin word at
// either end alone; then the same
// with its combining marks on the letters, where a font covers its marks.
inline std::vector<RightToLeftRow> rightToLeftScriptRows() {
    FcInit();
    std::vector<RightToLeftRow> rows;
    for (int s = 0; s < USCRIPT_CODE_LIMIT; ++s) {
        const auto code = static_cast<UScriptCode>(s);
        if (!uscript_isRightToLeft(code)) continue;
        const std::string name = uscript_getShortName(code);
        UErrorCode error = U_ZERO_ERROR;
        const icu::UnicodeSet letterSet(icu::UnicodeString::fromUTF8("[[:sc=" + name + ":]&[:L:]&[:NFKC_QC=Yes:]]"), error);
        const icu::UnicodeSet markSet(icu::UnicodeString::fromUTF8("[[:scx=" + name + ":]&[:Mn:]&[:NFKC_QC=Yes:]]"), error);
        if (U_FAILURE(error)) continue;
        const auto letters = detail::coveredSpread(letterSet, 9);
        if (letters.size() < 9) continue;
        const auto marks = detail::coveredSpread(markSet, 3);
        std::vector<std::string> words;
        std::vector<std::string> marked;
        for (size_t w = 0; w < 3; ++w) {
            const std::vector<UChar32> word(letters.begin() + static_cast<std::ptrdiff_t>(w * 3),
                                            letters.begin() + static_cast<std::ptrdiff_t>(w * 3 + 3));
            std::vector<UChar32> withMarks;
            for (size_t i = 0; i < word.size(); ++i) {
                withMarks.push_back(word[i]);
                if (!marks.empty() && i != 1) withMarks.push_back(marks[(w + i) % marks.size()]);
            }
            words.push_back(detail::utf8(word));
            marked.push_back(detail::utf8(withMarks));
        }
        const auto add = [&](const std::vector<std::string>& ws, const std::string& suffix) {
            rows.push_back({name, "pure" + suffix, ws[0] + " " + ws[1] + " " + ws[2]});
            rows.push_back({name, "Latin first" + suffix, "Kolvex " + ws[0] + " 42 " + ws[1] + " end"});
            rows.push_back({name, "mixed" + suffix, ws[2] + " Kolvex 7 " + ws[0]});
            // Ends of different directions: only the side the line is set against tells them.
            rows.push_back({name, "Latin opening" + suffix, "Kolvex " + ws[0] + " " + ws[1]});
            rows.push_back({name, "Latin closing" + suffix, ws[0] + " " + ws[1] + " Kolvex"});
        };
        add(words, "");
        if (!marks.empty()) add(marked, " with marks");
    }
    return rows;
}

}  // namespace kolvex::testing
