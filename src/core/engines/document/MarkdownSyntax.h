// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The pieces of Markdown's inline syntax that need no parser state: character classes, link
// destinations, autolinks and character references. Pure; safe from any thread.
namespace kolvex::markdown_syntax {

bool isAsciiPunctuation(char c);
// Unicode whitespace as Markdown counts it for emphasis flanking.
bool isMarkdownWhitespace(char32_t c);
// ASCII punctuation and the Unicode punctuation and symbol classes.
bool isMarkdownPunctuation(char32_t c);

// `(destination "title")` starting at `pos`: the destination with its escapes resolved, and
// `end` just after the closing parenthesis; nothing when the text there is not one.
std::optional<std::string> inlineDestination(std::string_view text, size_t pos, size_t& end);

// An autolink: the text it shows, where it points and the position just after its '>'.
struct Autolink {
    std::string text;
    std::string url;
    size_t end = 0;
};
// `<scheme:…>` or `<address@host>` starting at the '<' at `start`; nothing otherwise.
std::optional<Autolink> autolinkAt(std::string_view text, size_t start);

// The character a reference such as `&amp;` or `&#x2014;` starting at the '&' at `start` stands
// for (U+FFFD for `&#0;`), with `end` just after its ';'; nothing for an unknown name.
std::optional<char32_t> entityAt(std::string_view text, size_t start, size_t& end);

}  // namespace kolvex::markdown_syntax
