// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/format/ConversionJob.h"
#include "core/format/ConversionOptions.h"
#include "core/format/RingTarget.h"
#include "core/services/Preferences.h"

namespace kolvex {

// What the user answered before a run, when the settings left it to them.
struct RunAnswers {
    // "Ask each time": the folder chosen. None: where the settings say.
    std::optional<std::filesystem::path> outputDirectory;
    // "Ask what to do": keep both files (numbered names) or skip the files whose names are
    // taken. None: nothing was asked (no name was taken then); a name taken later keeps both.
    std::optional<bool> keepBoth;
};

// What one run of the Portal asks the conversion service for: a conversion to a format, a
// tool, or — for a target that is neither — the words saying it cannot run.
struct PortalRequest {
    std::variant<ConversionIntent, ToolIntent, std::string> what;

    // Built from the settings of the moment: a format target takes the options of the files'
    // category, a tool the sheet's options (`overriding`) or its own defaults. The outputs go
    // to the folder answered, else the one the settings name, else beside each source.
    static PortalRequest build(const RingTarget& target, const std::vector<std::filesystem::path>& urls,
                               const Preferences& preferences, std::optional<FormatCategory> category,
                               const std::optional<ConversionOptions>& overriding, const RunAnswers& answers);

    // The rules a request runs by: the user's concurrency and, under "Ask what to do", the
    // answer already given (the question is never asked while the run goes).
    static RunRules rules(const Preferences& preferences, const RunAnswers& answers);

    // The options a tool runs with when no sheet gave any.
    static ConversionOptions toolDefaults(const std::string& tool);

    const std::string* notReady() const { return std::get_if<std::string>(&what); }
};

}  // namespace kolvex
