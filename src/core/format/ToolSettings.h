// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace kolvex {

// How a tool of the tools ring gets its settings before it runs. This is the one list: the
// Portal asks for settings exactly for the tools that open a sheet, the sheets are chosen by
// the same ids, and a batch is walked file by file as the tool's entry says.
enum class ToolSettings {
    defaults,         // runs at once with the options every tool starts from
    oneSheet,         // one sheet sets every dropped file (rotate, flip, extract audio, merge)
    sheetOrEachFile,  // one sheet for all files, or one per file when the user asks (compress, resize)
    sheetPerFile,     // several files are set one sheet per file (crop, trim, split)
};

// The entry of a tool id; an id not in the list runs with defaults.
ToolSettings toolSettings(std::string_view toolID);
// The ids of every tool that opens a sheet.
const std::set<std::string>& toolsWithSheets();

}  // namespace kolvex
