// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/MarkdownSyntax.h"

#include <cctype>
#include <cstdint>
#include <map>

#include <unicode/uchar.h>

namespace kolvex::markdown_syntax {

bool isAsciiPunctuation(char c) {
    return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') || (c >= '{' && c <= '~');
}

bool isMarkdownWhitespace(char32_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r' || u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

bool isMarkdownPunctuation(char32_t c) {
    if (c < 0x80) return isAsciiPunctuation(static_cast<char>(c));
    const int8_t type = u_charType(static_cast<UChar32>(c));
    switch (type) {
    case U_DASH_PUNCTUATION:
    case U_START_PUNCTUATION:
    case U_END_PUNCTUATION:
    case U_CONNECTOR_PUNCTUATION:
    case U_OTHER_PUNCTUATION:
    case U_INITIAL_PUNCTUATION:
    case U_FINAL_PUNCTUATION:
    case U_MATH_SYMBOL:
    case U_CURRENCY_SYMBOL:
    case U_MODIFIER_SYMBOL:
    case U_OTHER_SYMBOL:
        return true;
    default:
        return false;
    }
}

std::optional<std::string> inlineDestination(std::string_view text, size_t pos, size_t& end) {
    if (pos >= text.size() || text[pos] != '(') return std::nullopt;
    ++pos;
    auto skipSpace = [&](size_t p) {
        bool newline = false;
        while (p < text.size() && (text[p] == ' ' || text[p] == '\t' || (text[p] == '\n' && !newline))) {
            if (text[p] == '\n') newline = true;
            ++p;
        }
        return p;
    };
    pos = skipSpace(pos);
    std::string destination;
    if (pos < text.size() && text[pos] == '<') {
        ++pos;
        while (pos < text.size() && text[pos] != '>') {
            if (text[pos] == '\n' || text[pos] == '<') return std::nullopt;
            if (text[pos] == '\\' && pos + 1 < text.size() && isAsciiPunctuation(text[pos + 1])) ++pos;
            destination += text[pos++];
        }
        if (pos >= text.size()) return std::nullopt;
        ++pos;
    } else {
        int depth = 0;
        while (pos < text.size()) {
            const auto ch = static_cast<unsigned char>(text[pos]);
            if (ch <= ' ') break;
            if (ch == '(') {
                if (++depth > 32) return std::nullopt;
            } else if (ch == ')') {
                if (depth == 0) break;
                --depth;
            } else if (ch == '\\' && pos + 1 < text.size() && isAsciiPunctuation(text[pos + 1])) {
                ++pos;
            }
            destination += text[pos++];
        }
        if (depth != 0) return std::nullopt;
    }
    const size_t afterDestination = pos;
    pos = skipSpace(pos);
    if (pos < text.size() && pos > afterDestination && (text[pos] == '"' || text[pos] == '\'' || text[pos] == '(')) {
        const char close = text[pos] == '(' ? ')' : text[pos];
        ++pos;
        while (pos < text.size() && text[pos] != close) {
            if (text[pos] == '\\' && pos + 1 < text.size()) ++pos;
            ++pos;
        }
        if (pos >= text.size()) return std::nullopt;
        pos = skipSpace(pos + 1);
    }
    if (pos >= text.size() || text[pos] != ')') return std::nullopt;
    end = pos + 1;
    return destination;
}

std::optional<Autolink> autolinkAt(std::string_view text, size_t start) {
    size_t p = start + 1;
    size_t schemeLength = 0;
    while (p < text.size() && (std::isalnum(static_cast<unsigned char>(text[p])) || text[p] == '+' || text[p] == '.' || text[p] == '-')) {
        ++p;
        ++schemeLength;
    }
    std::string url;
    if (schemeLength >= 2 && schemeLength <= 32 && std::isalpha(static_cast<unsigned char>(text[start + 1])) &&
        p < text.size() && text[p] == ':') {
        while (p < text.size() && text[p] != '>') {
            const auto ch = static_cast<unsigned char>(text[p]);
            if (ch <= ' ' || ch == '<') return std::nullopt;
            ++p;
        }
        if (p >= text.size()) return std::nullopt;
        url = std::string(text.substr(start + 1, p - start - 1));
        return Autolink{url, url, p + 1};
    }
    // An e-mail address.
    p = start + 1;
    size_t at = std::string_view::npos;
    while (p < text.size() && text[p] != '>') {
        const auto ch = static_cast<unsigned char>(text[p]);
        if (ch == '@') {
            if (at != std::string_view::npos) return std::nullopt;
            at = p;
        } else if (!(std::isalnum(ch) || std::string_view(".!#$%&'*+/=?^_`{|}~-").find(static_cast<char>(ch)) != std::string_view::npos)) {
            return std::nullopt;
        } else if (at != std::string_view::npos && !(std::isalnum(ch) || ch == '-' || ch == '.')) {
            return std::nullopt;
        }
        ++p;
    }
    if (p >= text.size() || at == std::string_view::npos || at == start + 1 || at + 1 == p) return std::nullopt;
    const std::string address(text.substr(start + 1, p - start - 1));
    return Autolink{address, "mailto:" + address, p + 1};
}

std::optional<char32_t> entityAt(std::string_view text, size_t start, size_t& end) {
    const size_t semicolon = text.find(';', start + 1);
    if (semicolon == std::string_view::npos || semicolon - start > 33) return std::nullopt;
    const std::string_view name = text.substr(start + 1, semicolon - start - 1);
    if (name.size() >= 2 && name[0] == '#') {
        const bool hex = name[1] == 'x' || name[1] == 'X';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > (hex ? 6u : 7u)) return std::nullopt;
        uint32_t value = 0;
        for (char d : digits) {
            int v;
            if (d >= '0' && d <= '9') v = d - '0';
            else if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
            else if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
            else return std::nullopt;
            value = value * (hex ? 16 : 10) + static_cast<uint32_t>(v);
        }
        end = semicolon + 1;
        return value == 0 ? char32_t{0xFFFD} : static_cast<char32_t>(value);
    }
    static const std::map<std::string_view, char32_t> named = {
        {"amp", U'&'},     {"lt", U'<'},        {"gt", U'>'},       {"quot", U'"'},     {"apos", U'\''},
        {"nbsp", 0xA0},    {"copy", 0xA9},      {"reg", 0xAE},      {"trade", 0x2122},  {"hellip", 0x2026},
        {"mdash", 0x2014}, {"ndash", 0x2013},   {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"ldquo", 0x201C},
        {"rdquo", 0x201D}, {"bull", 0x2022},    {"middot", 0xB7},   {"deg", 0xB0},      {"euro", 0x20AC},
        {"times", 0xD7},   {"divide", 0xF7},    {"laquo", 0xAB},    {"raquo", 0xBB},    {"sect", 0xA7},
    };
    auto found = named.find(name);
    if (found == named.end()) return std::nullopt;
    end = semicolon + 1;
    return found->second;
}

}  // namespace kolvex::markdown_syntax
