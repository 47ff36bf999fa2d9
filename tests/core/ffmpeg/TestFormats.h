// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>

#include "core/format/ConversionJob.h"

namespace kolvex::testing {

// Media formats as the manifest describes them, for building jobs in tests.
Format mediaFormat(const std::string& id);

// A job from `source` to `destination` between two formats of mediaFormat(), run by ffmpeg.
ConversionJob mediaJob(const std::filesystem::path& source, const std::filesystem::path& destination,
                       const std::string& from, const std::string& to,
                       ConversionOptions options = ConversionOptions::defaults());

}  // namespace kolvex::testing
