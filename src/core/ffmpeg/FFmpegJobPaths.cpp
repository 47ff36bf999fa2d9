// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/FFmpegJobPaths.h"

#include <optional>
#include <string>

#include "core/format/ConversionError.h"
#include "core/services/OutputNaming.h"
#include "core/services/PathUtils.h"

namespace kolvex::ffmpeg_paths {

namespace fs = std::filesystem;

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    return paths::absolute(a) == paths::absolute(b);
}

fs::path partName(const fs::path& destination, int number, const FileManagerService& files) {
    const fs::path folder = paths::deletingLastComponent(destination);
    const std::string extension = paths::extension(destination);
    const std::string stem = paths::stem(destination);
    const std::string label = " part " + std::to_string(number);
    for (int suffix = 1; suffix <= OutputNaming::maxCollisionAttempts; ++suffix) {
        // A long name loses characters of its stem, never the part label that tells parts apart.
        const fs::path candidate =
            folder / OutputNaming::filename(stem, label, suffix == 1 ? std::nullopt : std::optional(suffix), extension);
        if (!files.itemExists(candidate)) return candidate;
    }
    throw ConversionError::outputNameUnavailable(folder / OutputNaming::filename(stem, label, std::nullopt, extension));
}

ConversionJob writingTo(const ConversionJob& job, const fs::path& staged) {
    return ConversionJob(job.source, job.additionalSources, staged, job.from, job.to, job.capability, job.options);
}

}  // namespace kolvex::ffmpeg_paths
