// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <set>
#include <string>

#include "core/format/ConversionJob.h"

namespace kolvex::testing {

// Media formats as the manifest describes them, for building jobs in tests.
Format mediaFormat(const std::string& id);

// A job from `source` to `destination` between two formats of mediaFormat(), run by ffmpeg.
ConversionJob mediaJob(const std::filesystem::path& source, const std::filesystem::path& destination,
                       const std::string& from, const std::string& to,
                       ConversionOptions options = ConversionOptions::defaults());

// The source formats the shipped manifest gives `tool` to (its video and audio categories), by id.
std::set<std::string> mediaSourcesOf(const std::string& tool);

// The sound codecs a source of `format` may carry, as the container table lists them; none for a
// container the table does not know (AVI) or for a video container, whose rows choose their sound.
std::set<std::string> soundCodecsOf(const std::string& format);

}  // namespace kolvex::testing
