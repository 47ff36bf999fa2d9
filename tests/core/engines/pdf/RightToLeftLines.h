// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

namespace kolvex::testing {

// `text` (UTF-8) composed (NFC): the same text whatever order its marks were stored in.
inline std::string composed(const std::string& text) {
    UErrorCode error = U_ZERO_ERROR;
    std::string out;
    icu::Normalizer2::getNFCInstance(error)->normalize(icu::UnicodeString::fromUTF8(text), error).toUTF8String(out);
    return out;
}

// Lines of right-to-left and mixed text, each as it was written (logical order): ligatures
// (lam-alef, the word Allah), a Latin clause inside an Arabic line and the other way round,
// numbers, Hebrew, Persian and Urdu, and Arabic and Hebrew with their marks (vowels, shadda,
// points) alone and among Latin words.
inline const std::vector<std::string>& writtenRightToLeftLines() {
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> written{
            "لا سلام للاختبار الله",
            "Hello world مرحبا بالعالم and more",
            "مرحبا بالعالم Hello world نص عربي",
            "العدد 123 هنا والسلام",
            "שלום עולם זה טקסט",
            "The word שלום means peace",
            "این یک آزمایش ساده است",
            "اردو زبان بہت خوبصورت ہے",
            "مُحَمَّدٌ رَسُولُ اللهِ",
            "Hello مُحَمَّد world",
            "שָׁלוֹם עוֹלָם",
            "בְּרֵאשִׁית means in the beginning",
        };
        for (auto& line : written) line = composed(line);
        return written;
    }();
    return lines;
}

// The lines of `text` without empty ones, each trimmed and composed.
inline std::vector<std::string> nonEmptyLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        line.erase(0, line.find_first_not_of(" \t\f\r"));
        line.erase(line.find_last_not_of(" \t\f\r") + 1);
        if (!line.empty()) lines.push_back(composed(line));
        start = end + 1;
    }
    return lines;
}

}  // namespace kolvex::testing
