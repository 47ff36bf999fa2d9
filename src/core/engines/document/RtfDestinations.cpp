// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/RtfDestinations.h"

#include <set>

namespace kolvex::rtf_destinations {

namespace {

const std::set<std::string_view>& skippedWords() {
    static const std::set<std::string_view> names = {
        "annotation", "atnauthor", "atnid",   "author",    "bkmkend",  "bkmkstart", "colorschememapping",
        "comment",    "datastore", "doccomm", "filetbl",   "fldtype",  "footer",    "footerf",            "footerl",
        "footerr",    "footnote",  "generator", "header",  "headerf",  "headerl",   "headerr",            "info",
        "keywords",   "latentstyles", "listoverridetable", "listtable", "nonshppict", "object", "operator", "pgdsctbl",
        "private",   "revtbl",  "rsidtbl",   "shp",      "shpinst",   "stylesheet",         "subject",
        "tc",         "tcn",       "template", "themedata", "title",   "xe",        "xmlnstbl",           "objdata",
    };
    return names;
}

}  // namespace

bool isSkipped(std::string_view word) { return skippedWords().contains(word); }

std::optional<std::string> hyperlinkTarget(const std::string& instruction) {
    const size_t keyword = instruction.find("HYPERLINK");
    if (keyword == std::string::npos) return std::nullopt;
    size_t p = keyword + 9;
    while (p < instruction.size() && instruction[p] == ' ') ++p;
    // Switches such as \l "anchor" may come first; take the first quoted or bare argument.
    while (p < instruction.size() && instruction[p] == '\\') {
        p += 2;
        while (p < instruction.size() && instruction[p] == ' ') ++p;
        if (p < instruction.size() && instruction[p] == '"') break;
    }
    if (p >= instruction.size()) return std::nullopt;
    std::string target;
    if (instruction[p] == '"') {
        const size_t close = instruction.find('"', p + 1);
        target = instruction.substr(p + 1, close == std::string::npos ? std::string::npos : close - p - 1);
    } else {
        const size_t end = instruction.find(' ', p);
        target = instruction.substr(p, end == std::string::npos ? std::string::npos : end - p);
    }
    if (target.empty()) return std::nullopt;
    return target;
}

}  // namespace kolvex::rtf_destinations
