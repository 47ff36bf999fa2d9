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

std::vector<fs::path> partNames(const fs::path& destination, int count, const FileManagerService& files) {
    const fs::path folder = paths::deletingLastComponent(destination);
    const std::string extension = paths::extension(destination);
    const std::string stem = paths::stem(destination);
    const auto name = [&](int number, int suffix) {
        // A long name loses characters of its stem, never the part label that tells parts apart.
        return folder / OutputNaming::filename(stem, " part " + std::to_string(number),
                                               suffix == 1 ? std::nullopt : std::optional(suffix), extension);
    };
    for (int suffix = 1; suffix <= OutputNaming::maxCollisionAttempts; ++suffix) {
        std::vector<fs::path> names;
        for (int number = 1; number <= count; ++number) {
            names.push_back(name(number, suffix));
            if (files.itemExists(names.back())) break;
        }
        if (names.size() == static_cast<size_t>(count) && !files.itemExists(names.back())) return names;
    }
    throw ConversionError::outputNameUnavailable(name(1, 1));
}

ConversionJob writingTo(const ConversionJob& job, const fs::path& staged) {
    return ConversionJob(job.source, job.additionalSources, staged, job.from, job.to, job.capability, job.options);
}

}  // namespace kolvex::ffmpeg_paths
