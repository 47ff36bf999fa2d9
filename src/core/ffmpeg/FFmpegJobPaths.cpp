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
    return OutputNaming::partNames(destination, count, [&](const fs::path& name) { return files.itemExists(name); });
}

ConversionJob writingTo(const ConversionJob& job, const fs::path& staged) {
    return ConversionJob(job.source, job.additionalSources, staged, job.from, job.to, job.capability, job.options);
}

}  // namespace kolvex::ffmpeg_paths
