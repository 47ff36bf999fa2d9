// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kolvex::testing {

// What a program prints on standard output when run with `arguments` (no shell); none when it
// is not installed, fails to start, or exits with a non-zero status. Times out after 60 s.
std::optional<std::string> programOutput(const std::filesystem::path& program,
                                         const std::vector<std::string>& arguments);

}  // namespace kolvex::testing
