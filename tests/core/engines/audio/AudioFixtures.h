// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/format/ConversionJob.h"

namespace kolvex::testing {

// Audio jobs, and outputs read back with ffprobe.
struct AudioFixtures {
    // ffprobe's JSON report of streams and format; null when ffprobe could not read the file.
    static nlohmann::json probe(const std::filesystem::path& file);

    static Format format(const std::string& id);
    static ConversionJob job(const std::filesystem::path& source, const std::string& from,
                             const std::filesystem::path& destination, const std::string& to,
                             ConversionOptions options = ConversionOptions::defaults());
};

}  // namespace kolvex::testing
