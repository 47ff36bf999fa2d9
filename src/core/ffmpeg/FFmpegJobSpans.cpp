// SPDX-License-Identifier: GPL-3.0-or-later
// What a job's span of its source comes to: the bytes a copy writes and the seconds it lasts;
// and whether the room it needs is there before it writes.
#include "core/ffmpeg/FFmpegEngine.h"

#include <algorithm>
#include <tuple>

#include "core/conversion/JobRoom.h"
#include "core/ffmpeg/FFmpegArguments.h"
#include "core/ffmpeg/OutputNeed.h"

namespace kolvex {

std::optional<int64_t> FFmpegEngine::expectedPassthroughBytes(const ConversionJob& job, const MediaProbe& probe,
                                                              const FileManagerService& files) {
    const auto size = files.size(job.source);
    if (!size || *size < 1) return std::nullopt;
    if (!probe.durationSeconds || !(*probe.durationSeconds > 0)) return size;
    const double duration = *probe.durationSeconds;
    const double start = job.options.trimStart.value_or(0);
    const double end = job.options.trimEnd.value_or(duration);
    const double span = std::min(duration, end) - std::min(duration, start);
    if (!(span > 0)) return size;
    const double scaled = span * static_cast<double>(*size) / duration;
    return std::max<int64_t>(1, static_cast<int64_t>(scaled));
}

void FFmpegEngine::requireRoom(const ConversionJob& job, std::optional<int64_t> need,
                               std::optional<int64_t> room) const {
    if (!need) {
        if (const auto size = m_files->size(job.source))
            m_files->ensureCapacity(JobRoom::bySourceSize(*size), job.destination);
        return;
    }
    const int64_t asked = OutputNeed::inBlocks(room.value_or(*need));
    const auto available = m_files->availableCapacity(job.destination);
    if (available && *available < asked)
        throw ConversionError::insufficientDiskSpace(OutputNeed::inBlocks(*need), *available);
}

MediaProbe FFmpegEngine::drawn(const ConversionJob& job, const MediaProbe& probe) {
    MediaProbe shown = probe;
    if (const auto size = FFmpegArguments::outputSize(job, probe)) {
        shown.rotation = 0;
        std::tie(shown.width, shown.height) = *size;
    }
    return shown;
}

std::optional<double> FFmpegEngine::outputDuration(const ConversionJob& job, const MediaProbe& probe) {
    if (!probe.durationSeconds || !(*probe.durationSeconds > 0)) return probe.durationSeconds;
    const double duration = *probe.durationSeconds;
    if (!job.options.trimStart && !job.options.trimEnd) return duration;
    // Only the arguments' own trim counts: a start at or past the end trims nothing.
    const double start = std::clamp(job.options.trimStart.value_or(0), 0.0, duration);
    double end = duration;
    if (job.options.trimEnd) {
        const double length = job.options.trimStart ? *job.options.trimEnd - *job.options.trimStart : *job.options.trimEnd;
        if (length > 0) end = std::min(duration, start + length);
    }
    return end > start ? end - start : duration;
}

}  // namespace kolvex
