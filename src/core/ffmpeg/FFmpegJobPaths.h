// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <vector>

#include "core/format/ConversionJob.h"
#include "core/services/FileManagerService.h"

// Paths the FFmpeg engine's conversions, splits and merges share. Internal to the engine.
namespace kolvex::ffmpeg_paths {

// The same file, by identity or, when either does not exist, by absolute path.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// The names of the `count` parts of a split beside the destination, one free set
// (OutputNaming::partNames). Only looked for: the parts take them when the whole split is done.
std::vector<std::filesystem::path> partNames(const std::filesystem::path& destination, int count,
                                             const FileManagerService& files);

// The job as ffmpeg sees it: writing to the staged file instead of the destination.
ConversionJob writingTo(const ConversionJob& job, const std::filesystem::path& staged);

}  // namespace kolvex::ffmpeg_paths
