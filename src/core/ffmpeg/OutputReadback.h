// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>

#include "core/format/FormatManifest.h"

namespace kolvex {

// Reads a finished ffmpeg output back in this process before it may take its final name: ffmpeg
// exits 0 after writing a file with no stream in it when its input ends before the part asked
// for (a partly downloaded or damaged source).
class OutputReadback {
public:
    // Throws ConversionError::corruptedInput naming `source` when `output` cannot be read as
    // media, holds no video or audio stream, or — for a video or audio `target` whose plan
    // expected a positive `expectedSeconds` — lasts no time at all, or (a video `target`) holds a
    // picture track with no picture in it. OperationCancelled when stopped.
    static void check(const std::filesystem::path& output, const std::filesystem::path& source, const Format& target,
                      std::optional<double> expectedSeconds, std::stop_token stop);
};

}  // namespace kolvex
