// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/format/ToolSettings.h"

#include <array>
#include <utility>

namespace kolvex {

namespace {

constexpr std::array<std::pair<std::string_view, ToolSettings>, 9> kTools{{
    {"compress", ToolSettings::sheetOrEachFile},
    {"resize", ToolSettings::sheetOrEachFile},
    {"crop", ToolSettings::sheetPerFile},
    {"rotate", ToolSettings::oneSheet},
    {"flip", ToolSettings::oneSheet},
    {"trim", ToolSettings::sheetPerFile},
    {"split", ToolSettings::sheetPerFile},
    {"merge", ToolSettings::oneSheet},
    {"extract-audio", ToolSettings::oneSheet},
}};

}  // namespace

ToolSettings toolSettings(std::string_view toolID) {
    for (const auto& [id, settings] : kTools)
        if (id == toolID) return settings;
    return ToolSettings::defaults;
}

const std::set<std::string>& toolsWithSheets() {
    static const std::set<std::string> ids = [] {
        std::set<std::string> found;
        for (const auto& [id, settings] : kTools) found.emplace(id);
        return found;
    }();
    return ids;
}

}  // namespace kolvex
