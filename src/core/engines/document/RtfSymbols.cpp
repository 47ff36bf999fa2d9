// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/RtfSymbols.h"

#include <map>

namespace kolvex::rtf_symbols {

std::optional<std::string_view> textOf(std::string_view word) {
    static const std::map<std::string_view, std::string_view> kTexts = {
        {"line", "\n"},          {"sect", "\n"},          {"nestrow", "\n"},
        {"page", "\f"},          {"pagebb", "\f"},  // the styled text's page break
        {"tab", "\t"},           {"nestcell", "\t"},      {"emdash", "\u2014"},
        {"endash", "\u2013"},    {"bullet", "\u2022"},    {"lquote", "\u2018"},
        {"rquote", "\u2019"},    {"ldblquote", "\u201C"}, {"rdblquote", "\u201D"},
        {"emspace", "\u2003"},   {"enspace", "\u2002"},
    };
    const auto found = kTexts.find(word);
    if (found == kTexts.end()) return std::nullopt;
    return found->second;
}

}  // namespace kolvex::rtf_symbols
