// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the text objects of a page content as Qt's PDF engine writes them.
#include "core/engines/document/PdfTextLayer.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

namespace kolvex::pdf_text_layer {

namespace {

bool isDelimiter(char c) { return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/' || c == '%'; }
bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) || c == '\0'; }

struct Token {
    enum class Kind { name, hex, string, delimiter, word } kind;
    size_t begin;
    size_t end;
};

// The next token of a content stream at or after `at`; nothing at the end.
std::optional<Token> nextToken(std::string_view content, size_t& at) {
    while (at < content.size()) {
        if (isSpace(content[at])) {
            ++at;
        } else if (content[at] == '%') {
            while (at < content.size() && content[at] != '\n' && content[at] != '\r') ++at;
        } else {
            break;
        }
    }
    if (at >= content.size()) return std::nullopt;
    const size_t begin = at;
    const char c = content[at];
    if (c == '<' || c == '>') {
        if (at + 1 < content.size() && content[at + 1] == c) {
            at += 2;
            return Token{Token::Kind::delimiter, begin, at};
        }
        if (c == '>') {
            ++at;
            return Token{Token::Kind::delimiter, begin, at};
        }
        const size_t close = content.find('>', at);
        at = close == std::string_view::npos ? content.size() : close + 1;
        return Token{Token::Kind::hex, begin, at};
    }
    if (c == '(') {
        int depth = 0;
        for (; at < content.size(); ++at) {
            if (content[at] == '\\') ++at;
            else if (content[at] == '(') ++depth;
            else if (content[at] == ')' && --depth == 0) break;
        }
        at = std::min(at + 1, content.size());
        return Token{Token::Kind::string, begin, at};
    }
    if (c == '[' || c == ']' || c == '{' || c == '}' || c == ')') {
        ++at;
        return Token{Token::Kind::delimiter, begin, at};
    }
    ++at;
    while (at < content.size() && !isSpace(content[at]) && !isDelimiter(content[at])) ++at;
    return Token{c == '/' ? Token::Kind::name : Token::Kind::word, begin, at};
}

bool isOperand(std::string_view word) {
    const char c = word.front();
    return std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.' || word == "true" || word == "false" ||
           word == "null";
}

uint32_t codeOf(std::string_view hex) {
    uint32_t code = 0;
    for (const char c : hex) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            code = code << 4 | static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10));
    }
    return code;
}

}  // namespace

std::vector<TextObject> textObjects(std::string_view content, bool* readable) {
    if (readable) *readable = true;
    std::vector<TextObject> objects;
    std::vector<Token> operands;
    std::optional<TextObject> open;
    bool ended = false;  // the open object's glyphs have ended (a marked span of its own began)
    int spans = 0;
    size_t glyphBegin = std::string_view::npos;  // where the operators that place the next glyph start
    size_t at = 0;
    auto unreadable = [&] {
        if (readable) *readable = false;
        return std::vector<TextObject>{};
    };
    while (const std::optional<Token> token = nextToken(content, at)) {
        const std::string_view text = content.substr(token->begin, token->end - token->begin);
        if (token->kind != Token::Kind::word || isOperand(text)) {
            operands.push_back(*token);
            continue;
        }
        if (text == "BT") {
            open = TextObject{};
            open->begin = token->end;
            ended = false;
            spans = 0;
            glyphBegin = std::string_view::npos;
        } else if (text == "ET" && open) {
            if (!ended) open->end = token->begin;
            objects.push_back(std::move(*open));
            open.reset();
        } else if (text == "Tf" && open && operands.size() >= 2 && operands[operands.size() - 2].kind == Token::Kind::name) {
            const Token& name = operands[operands.size() - 2];
            open->font = std::string(content.substr(name.begin, name.end - name.begin));
        } else if (text == "Td" && open && !operands.empty()) {
            glyphBegin = operands.front().begin;
        } else if (text == "Tj" && open) {
            if (operands.empty() || operands.back().kind != Token::Kind::hex) return unreadable();
            if (!ended && spans == 0) {
                open->codes.push_back(codeOf(content.substr(operands.back().begin + 1, operands.back().end - operands.back().begin - 2)));
                open->glyphs.emplace_back(glyphBegin == std::string_view::npos ? operands.back().begin : glyphBegin, token->end);
            }
            glyphBegin = std::string_view::npos;
        } else if ((text == "BDC" || text == "BMC") && open) {
            if (!ended) {
                open->end = operands.empty() ? token->begin : operands.front().begin;
                ended = true;
            }
            ++spans;
        } else if (text == "EMC" && open && spans > 0) {
            --spans;
        } else if (text == "TJ" || text == "'" || text == "\"" || text == "BI" || text == "ID") {
            return unreadable();
        }
        operands.clear();
    }
    return objects;
}

}  // namespace kolvex::pdf_text_layer
