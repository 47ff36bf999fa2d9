// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExternalTool.h"

#include "core/services/ProcessRunner.h"

namespace kolvex::testing {

std::optional<std::string> programOutput(const std::filesystem::path& program,
                                         const std::vector<std::string>& arguments) {
    std::error_code ec;
    if (!std::filesystem::exists(program, ec)) return std::nullopt;
    try {
        const ProcessResult result = ProcessRunner().run(program, arguments, ProcessRunner::Timeout(60), {}, {});
        if (result.exitCode != 0) return std::nullopt;
        return result.standardOutputData;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace kolvex::testing
