// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/ToUnicodeMap.h"

#include <algorithm>
#include <cctype>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <fmt/format.h>

#include <QList>

namespace kolvex::to_unicode {

namespace {

struct Token {
    enum class Kind { hex, word, open, close } kind;
    std::string_view text;  // the hex digits, or the word
    size_t begin = 0;       // offset in the CMap
};

std::vector<Token> tokenize(std::string_view cmap) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < cmap.size()) {
        const char c = cmap[i];
        if (c == '%') {
            while (i < cmap.size() && cmap[i] != '\n' && cmap[i] != '\r') ++i;
        } else if (c == '<' && i + 1 < cmap.size() && cmap[i + 1] == '<') {
            tokens.push_back({Token::Kind::word, cmap.substr(i, 2), i});
            i += 2;
        } else if (c == '<') {
            const size_t end = cmap.find('>', i);
            if (end == std::string_view::npos) break;
            tokens.push_back({Token::Kind::hex, cmap.substr(i + 1, end - i - 1), i});
            i = end + 1;
        } else if (c == '[' || c == ']') {
            tokens.push_back({c == '[' ? Token::Kind::open : Token::Kind::close, cmap.substr(i, 1), i});
            ++i;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else {
            const size_t begin = i;
            while (i < cmap.size() && !std::isspace(static_cast<unsigned char>(cmap[i])) && cmap[i] != '<' && cmap[i] != '[' &&
                   cmap[i] != ']' && cmap[i] != '%')
                ++i;
            if (i == begin) ++i;
            tokens.push_back({Token::Kind::word, cmap.substr(begin, i - begin), begin});
        }
    }
    return tokens;
}

std::vector<uint8_t> hexBytes(std::string_view hex) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (const char c : hex) {
        int value;
        if (c >= '0' && c <= '9') value = c - '0';
        else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
        else continue;
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + value));
            high = -1;
        }
    }
    if (high >= 0) bytes.push_back(static_cast<uint8_t>(high * 16));  // an odd digit count ends in 0
    return bytes;
}

uint32_t codeOf(std::string_view hex) {
    uint32_t code = 0;
    for (const uint8_t byte : hexBytes(hex)) code = code << 8 | byte;
    return code;
}

std::vector<uint16_t> utf16Of(std::string_view hex) {
    const std::vector<uint8_t> bytes = hexBytes(hex);
    std::vector<uint16_t> units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) units.push_back(static_cast<uint16_t>(bytes[i] << 8 | bytes[i + 1]));
    return units;
}

std::u32string textOf(const std::vector<uint16_t>& units) {
    std::u32string text;
    for (size_t i = 0; i < units.size(); ++i) {
        const uint16_t unit = units[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
            text.push_back(0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            text.push_back(unit);
        }
    }
    return text;
}


bool isWord(const Token& token, std::string_view word) { return token.kind == Token::Kind::word && token.text == word; }

// Where the mapping sections start (the count before the first "beginbfchar"/"beginbfrange")
// and end (after the last "endbfchar"/"endbfrange").
struct Span {
    size_t begin = std::string_view::npos;
    size_t end = 0;
};

Map parseTokens(const std::vector<Token>& tokens, Span* span) {
    Map map;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const bool chars = isWord(tokens[i], "beginbfchar");
        const bool ranges = isWord(tokens[i], "beginbfrange");
        if (!chars && !ranges) continue;
        if (span && span->begin == std::string_view::npos)
            span->begin = i > 0 && tokens[i - 1].kind == Token::Kind::word ? tokens[i - 1].begin : tokens[i].begin;
        ++i;
        while (i < tokens.size() && !isWord(tokens[i], chars ? "endbfchar" : "endbfrange")) {
            if (chars) {
                if (i + 1 < tokens.size() && tokens[i].kind == Token::Kind::hex && tokens[i + 1].kind == Token::Kind::hex) {
                    map[codeOf(tokens[i].text)] = textOf(utf16Of(tokens[i + 1].text));
                    i += 2;
                } else {
                    ++i;
                }
                continue;
            }
            if (i + 2 >= tokens.size() || tokens[i].kind != Token::Kind::hex || tokens[i + 1].kind != Token::Kind::hex) {
                ++i;
                continue;
            }
            const uint32_t low = codeOf(tokens[i].text);
            const uint32_t high = codeOf(tokens[i + 1].text);
            i += 2;
            if (tokens[i].kind == Token::Kind::open) {
                ++i;
                for (uint32_t code = low; i < tokens.size() && tokens[i].kind == Token::Kind::hex; ++i, ++code)
                    if (code <= high) map[code] = textOf(utf16Of(tokens[i].text));
                if (i < tokens.size() && tokens[i].kind == Token::Kind::close) ++i;
            } else if (tokens[i].kind == Token::Kind::hex) {
                std::vector<uint16_t> units = utf16Of(tokens[i].text);
                ++i;
                // The last unit counts up along the range; a range is never longer than 256 codes.
                for (uint32_t code = low; code <= high && code - low < 256 && !units.empty(); ++code) {
                    map[code] = textOf(units);
                    ++units.back();
                }
            }
        }
        if (span && i < tokens.size()) span->end = tokens[i].begin + tokens[i].text.size();
    }
    return map;
}

}  // namespace

Map parse(std::string_view cmap) { return parseTokens(tokenize(cmap), nullptr); }

std::string replaceMappings(std::string_view cmap, const Map& map) {
    Span span;
    parseTokens(tokenize(cmap), &span);
    std::string head;
    std::string tail;
    if (span.begin == std::string_view::npos || span.end < span.begin) {
        // No mapping section: the new one goes before "endcmap".
        const size_t end = cmap.find("endcmap");
        head = std::string(cmap.substr(0, end == std::string_view::npos ? cmap.size() : end));
        tail = end == std::string_view::npos ? std::string() : std::string(cmap.substr(end));
    } else {
        head = std::string(cmap.substr(0, span.begin));
        tail = std::string(cmap.substr(span.end));
    }
    std::string body;
    // A CMap section holds at most 100 entries.
    auto entry = map.begin();
    while (entry != map.end()) {
        std::string lines;
        size_t count = 0;
        for (; entry != map.end() && count < 100; ++entry, ++count)
            lines += fmt::format("<{:04X}> <{}>\n", entry->first, utf16Hex(entry->second));
        body += fmt::format("{} beginbfchar\n{}endbfchar\n", count, lines);
    }
    if (!head.empty() && head.back() != '\n') head += '\n';
    return head + body + tail;
}

std::optional<std::string> mend(std::string_view cmap, const QString& written) {
    const auto normalForm = [](char32_t c) { return QString::fromUcs4(&c, 1).normalized(QString::NormalizationForm_KC).toStdU32String(); };
    // Every written character, and the written character each normal form stands for (when two
    // written characters share one, neither is a safe guess).
    std::unordered_set<char32_t> present;
    std::unordered_map<std::u32string, char32_t> byNormalForm;
    std::unordered_set<std::u32string> ambiguous;
    for (const char32_t c : written.toUcs4()) {
        if (!present.insert(c).second) continue;
        const std::u32string form = normalForm(c);
        auto [it, added] = byNormalForm.emplace(form, c);
        if (!added && it->second != c) ambiguous.insert(form);
    }
    Map map = parse(cmap);
    bool changed = false;
    for (auto& [code, text] : map) {
        if (text.size() != 1 || present.contains(text[0])) continue;
        const std::u32string form = normalForm(text[0]);
        const auto found = byNormalForm.find(form);
        if (found != byNormalForm.end() && !ambiguous.contains(form)) {
            text = std::u32string(1, found->second);
            changed = true;
        } else if (form.size() > 1 && std::all_of(form.begin(), form.end(), [&](char32_t c) { return present.contains(c); })) {
            // A ligature of written letters (U+FB01 for the "fi" written): the letters.
            text = form;
            changed = true;
        }
    }
    if (!changed) return std::nullopt;
    return replaceMappings(cmap, map);
}

std::string utf16Hex(const std::u32string& text) {
    std::string hex;
    for (const char32_t c : text) {
        if (c >= 0x10000) {
            const char32_t v = c - 0x10000;
            hex += fmt::format("{:04X}{:04X}", 0xD800 + (v >> 10), 0xDC00 + (v & 0x3FF));
        } else {
            hex += fmt::format("{:04X}", static_cast<uint32_t>(c));
        }
    }
    return hex;
}

}  // namespace kolvex::to_unicode
