// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/UnicodeText.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace kolvex::unicode {

namespace {

// Break iterators are costly to create and not shareable between threads: one per thread.
icu::BreakIterator* characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) it.reset();
        return it;
    }();
    return iterator.get();
}

bool isLineBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

template <typename Pred>
std::string_view trimBy(std::string_view text, Pred shouldTrim) {
    // Forward over leading scalars.
    int32_t begin = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    while (begin < length) {
        int32_t next = begin;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !shouldTrim(static_cast<char32_t>(c))) break;
        begin = next;
    }
    int32_t end = length;
    while (end > begin) {
        int32_t prev = end;
        UChar32 c;
        U8_PREV(bytes, begin, prev, c);
        if (c < 0 || !shouldTrim(static_cast<char32_t>(c))) break;
        end = prev;
    }
    return text.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin));
}

}  // namespace

struct GraphemeWalker::Impl {
    std::unique_ptr<icu::BreakIterator> iterator;
    UText* text = nullptr;
};

GraphemeWalker::GraphemeWalker(std::string_view text) : m_text(text) {
    if (text.empty()) return;
    icu::BreakIterator* prototype = characterIterator();
    if (!prototype) return;
    UErrorCode status = U_ZERO_ERROR;
    auto impl = std::make_unique<Impl>();
    impl->text = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) {
        if (impl->text) utext_close(impl->text);
        return;
    }
    impl->iterator.reset(prototype->clone());
    impl->iterator->setText(impl->text, status);
    if (U_FAILURE(status)) {
        utext_close(impl->text);
        return;
    }
    impl->iterator->first();
    m_impl = impl.release();
}

GraphemeWalker::~GraphemeWalker() {
    if (!m_impl) return;
    m_impl->iterator.reset();
    utext_close(m_impl->text);
    delete m_impl;
}

bool GraphemeWalker::next(std::string_view& character) {
    if (m_start >= m_text.size()) return false;
    size_t end;
    if (m_impl) {
        const int32_t boundary = m_impl->iterator->next();
        end = boundary == icu::BreakIterator::DONE ? m_text.size() : static_cast<size_t>(boundary);
    } else {
        // Without ICU's iterator, one character per scalar.
        end = m_start + 1;
        while (end < m_text.size() && (static_cast<uint8_t>(m_text[end]) & 0xC0) == 0x80) ++end;
    }
    character = m_text.substr(m_start, end - m_start);
    m_start = end;
    return true;
}

std::vector<std::string_view> graphemes(std::string_view text) {
    std::vector<std::string_view> out;
    GraphemeWalker walker(text);
    std::string_view character;
    while (walker.next(character)) out.push_back(character);
    return out;
}

std::string_view firstCharacter(std::string_view text) {
    GraphemeWalker walker(text);
    std::string_view character;
    return walker.next(character) ? character : std::string_view();
}

std::string_view lastCharacter(std::string_view text) {
    if (text.empty()) return {};
    // A cluster is short: look at a bounded tail, starting on a scalar boundary.
    size_t start = text.size() > 64 ? text.size() - 64 : 0;
    while (start > 0 && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80) --start;
    const std::string_view tail = text.substr(start);
    GraphemeWalker walker(tail);
    std::string_view character;
    std::string_view last;
    while (walker.next(character)) last = character;
    return last;
}

size_t characterCount(std::string_view text) {
    // ASCII without carriage returns is one character per byte; spare the iterator.
    bool simple = true;
    for (char ch : text) {
        if (static_cast<uint8_t>(ch) >= 0x80 || ch == '\r') {
            simple = false;
            break;
        }
    }
    if (simple) return text.size();
    size_t count = 0;
    GraphemeWalker walker(text);
    std::string_view character;
    while (walker.next(character)) ++count;
    return count;
}

char32_t firstScalar(std::string_view text) {
    if (text.empty()) return 0xFFFD;
    int32_t offset = 0;
    UChar32 c;
    U8_NEXT(reinterpret_cast<const uint8_t*>(text.data()), offset, static_cast<int32_t>(std::min<size_t>(text.size(), 4)), c);
    return c < 0 ? 0xFFFD : static_cast<char32_t>(c);
}

void Utf16Joiner::push(std::string& out, char16_t unit) {
    if (m_high != 0 && unit >= 0xDC00 && unit <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((static_cast<char32_t>(m_high) - 0xD800) << 10) + (unit - 0xDC00));
        m_high = 0;
        return;
    }
    flush(out);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        m_high = unit;
        return;
    }
    appendUtf8(out, unit);  // a lone low surrogate becomes U+FFFD
}

void Utf16Joiner::flush(std::string& out) {
    if (m_high == 0) return;
    m_high = 0;
    appendUtf8(out, 0xFFFD);
}

void appendUtf8(std::string& out, char32_t scalar) {
    if (scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF)) scalar = 0xFFFD;
    if (scalar < 0x80) {
        out += static_cast<char>(scalar);
    } else if (scalar < 0x800) {
        out += static_cast<char>(0xC0 | (scalar >> 6));
        out += static_cast<char>(0x80 | (scalar & 0x3F));
    } else if (scalar < 0x10000) {
        out += static_cast<char>(0xE0 | (scalar >> 12));
        out += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (scalar & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (scalar >> 18));
        out += static_cast<char>(0x80 | ((scalar >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (scalar & 0x3F));
    }
}

std::vector<char32_t> scalars(std::string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    const auto* data = reinterpret_cast<const uint8_t*>(text.data());
    size_t i = 0;
    while (i < text.size()) {
        if (data[i] < 0x80) {
            out.push_back(data[i++]);
            continue;
        }
        int32_t offset = 0;
        UChar32 c;
        U8_NEXT(data + i, offset, static_cast<int32_t>(std::min<size_t>(text.size() - i, 4)), c);
        out.push_back(c < 0 ? 0xFFFD : static_cast<char32_t>(c));
        i += static_cast<size_t>(offset);
    }
    return out;
}

bool isNumber(std::string_view character) {
    if (character.empty()) return false;
    return u_getIntPropertyValue(static_cast<UChar32>(firstScalar(character)), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

bool isLowercase(std::string_view character) {
    if (character.empty()) return false;
    const auto all = scalars(character);
    if (all.size() == 1 && u_hasBinaryProperty(static_cast<UChar32>(all[0]), UCHAR_LOWERCASE)) return true;
    const icu::UnicodeString original = icu::UnicodeString::fromUTF8(icu::StringPiece(character.data(), static_cast<int32_t>(character.size())));
    icu::UnicodeString lower = original;
    icu::UnicodeString upper = original;
    lower.toLower(icu::Locale::getRoot());
    upper.toUpper(icu::Locale::getRoot());
    return lower == original && upper != original;
}

bool isSpaceOrTab(char32_t scalar) {
    return scalar == '\t' || u_charType(static_cast<UChar32>(scalar)) == U_SPACE_SEPARATOR;
}

std::string_view trimSpacesAndTabs(std::string_view text) {
    return trimBy(text, isSpaceOrTab);
}

std::string_view trimWhitespaceAndNewlines(std::string_view text) {
    return trimBy(text, [](char32_t c) { return isSpaceOrTab(c) || isLineBreak(c); });
}

}  // namespace kolvex::unicode
