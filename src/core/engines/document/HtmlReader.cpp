// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/HtmlReader.h"

#include <algorithm>
#include <cctype>
#include <string>

#include <fmt/format.h>

#include <QString>

#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/TextSystem.h"

namespace kolvex {

namespace {

// Elements without content, and elements whose end tag may be left out (the next one closes them).
bool nestsWithoutLimit(std::string_view name) {
    static const std::string_view kNames[] = {
        "area", "base", "br", "col", "colgroup", "dd", "dt", "embed", "hr", "img", "input", "li", "link", "meta",
        "optgroup", "option", "p", "param", "rp", "rt", "source", "tbody", "td", "tfoot", "th", "thead", "tr", "track", "wbr",
    };
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

}  // namespace

size_t HtmlReader::nestingDepth(std::string_view html, size_t limit) {
    size_t depth = 0;
    size_t deepest = 0;
    size_t i = 0;
    const size_t n = html.size();
    auto lowerName = [&](size_t from, std::string& name) {
        name.clear();
        while (from < n && name.size() < 16 && (std::isalnum(static_cast<unsigned char>(html[from])) || html[from] == '-')) {
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[from])));
            ++from;
        }
        return from;
    };
    std::string name;
    while (i < n && deepest <= limit) {
        const size_t open = html.find('<', i);
        if (open == std::string_view::npos) break;
        if (html.compare(open, 4, "<!--") == 0) {
            const size_t end = html.find("-->", open + 4);
            if (end == std::string_view::npos) break;
            i = end + 3;
            continue;
        }
        const bool closing = open + 1 < n && html[open + 1] == '/';
        size_t p = lowerName(open + (closing ? 2 : 1), name);
        // The tag's end, past quoted attribute values.
        char quote = 0;
        while (p < n && (quote || html[p] != '>')) {
            if (quote && html[p] == quote) quote = 0;
            else if (!quote && (html[p] == '"' || html[p] == '\'')) quote = html[p];
            ++p;
        }
        const bool selfClosing = p > 0 && p < n && html[p - 1] == '/';
        i = p + 1;
        if (name.empty() || nestsWithoutLimit(name)) continue;
        if (closing) {
            if (depth > 0) --depth;
            continue;
        }
        if (selfClosing) continue;
        if (name == "script" || name == "style" || name == "textarea" || name == "title") {
            // Raw text up to the matching end tag.
            size_t end = i;
            for (;;) {
                end = html.find("</", end);
                if (end == std::string_view::npos) break;
                std::string candidate;
                lowerName(end + 2, candidate);
                if (candidate == name) break;
                end += 2;
            }
            i = end == std::string_view::npos ? n : end;
            continue;
        }
        deepest = std::max(deepest, ++depth);
    }
    return deepest;
}

std::unique_ptr<RichDocument> HtmlReader::read(std::string_view html) {
    requireTextSystem();
    if (html.size() > kMaxBytes) throw DocumentFormatError("the page is too large");
    if (nestingDepth(html, kMaxNesting) > kMaxNesting) throw DocumentDepthError(fmt::format("nests its elements deeper than Kolvex reads ({} levels)", kMaxNesting));
    auto document = std::make_unique<RichDocument>();
    document->setHtml(QString::fromUtf8(html.data(), static_cast<qsizetype>(html.size())));
    // Pictures the page links to (files, the web) are never fetched; ones it carries as data and
    // that do not decode are left out too.
    document->dropMissingImages();
    return document;
}

}  // namespace kolvex
