// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Character-level questions about UTF-8 text, answered by ICU: what a user sees as one
// character (an extended grapheme cluster), and the Unicode properties the text rules test.
// Pure functions; safe from any thread.
namespace kolvex::unicode {

// Walks a text one extended grapheme cluster at a time without copying it. The text must
// outlive the walker; one walker per thread.
class GraphemeWalker {
public:
    explicit GraphemeWalker(std::string_view text);
    ~GraphemeWalker();
    GraphemeWalker(const GraphemeWalker&) = delete;
    GraphemeWalker& operator=(const GraphemeWalker&) = delete;

    // The next character as a view into the text; false at the end.
    bool next(std::string_view& character);

private:
    std::string_view m_text;
    size_t m_start = 0;
    struct Impl;
    Impl* m_impl = nullptr;
};

// The text split into extended grapheme clusters, as views into `text`. Expects valid UTF-8.
std::vector<std::string_view> graphemes(std::string_view text);
// The first and the last extended grapheme cluster ("" for an empty text).
std::string_view firstCharacter(std::string_view text);
std::string_view lastCharacter(std::string_view text);
// The number of extended grapheme clusters.
size_t characterCount(std::string_view text);

// The first code point of a UTF-8 string (U+FFFD for an empty or broken start).
char32_t firstScalar(std::string_view text);
// Appends a code point as UTF-8 (a lone surrogate or an out-of-range value becomes U+FFFD).
void appendUtf8(std::string& out, char32_t scalar);

// Joins UTF-16 code units, given one at a time, into UTF-8: a high surrogate waits for the low
// one after it; a surrogate without its partner becomes U+FFFD.
class Utf16Joiner {
public:
    // Appends what `unit` completes to `out` (nothing while a high surrogate waits).
    void push(std::string& out, char16_t unit);
    // Appends U+FFFD for a high surrogate still waiting.
    void flush(std::string& out);

private:
    char16_t m_high = 0;
};
// Decodes UTF-8 into code points; broken sequences become U+FFFD.
std::vector<char32_t> scalars(std::string_view text);

// A character is a number when its first scalar has a numeric type.
bool isNumber(std::string_view character);
// A character is lower-case when lower-casing leaves it as it is and upper-casing changes it
// (or, for a single scalar, when it has the Lowercase property).
bool isLowercase(std::string_view character);

// Spaces (the Unicode space separators) and the character tabulation; never line breaks.
bool isSpaceOrTab(char32_t scalar);
// The text without spaces and tabs at either end.
std::string_view trimSpacesAndTabs(std::string_view text);
// The text without spaces, tabs and line breaks at either end.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

}  // namespace kolvex::unicode
