// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversion/SoundCompression.h"

#include <fmt/format.h>

#include "core/conversion/SizeEstimator.h"

namespace kolvex {

namespace {

// The compress sheet opens at this quality.
constexpr double kDefaultQuality = 0.6;

SoundCompression kept(std::optional<int64_t> sourceBytes, std::string reason) {
    SoundCompression plan;
    plan.expectedBytes = sourceBytes;
    plan.reason = std::move(reason);
    return plan;
}

}  // namespace

SoundCompression SoundCompression::plan(const Format& format, double quality, std::optional<double> durationSeconds,
                                        std::optional<int64_t> sourceBitrate, std::optional<int64_t> sourceBytes) {
    if (!format.has(FormatCapability::lossy))
        return kept(sourceBytes, fmt::format("Left as it is: {} keeps every sample, so only another format "
                                             "(M4A, MP3, Opus) makes it smaller",
                                             format.label));
    if (!durationSeconds || !(*durationSeconds > 0))
        return kept(sourceBytes, fmt::format("Left as it is: the length of this {} could not be read, so no "
                                             "lower rate can be chosen",
                                             format.label));
    // A stream that states no rate is taken for a usual one; the size check below still keeps a
    // file that is smaller than that.
    std::optional<int64_t> source = sourceBitrate;
    if (!source || *source < 1) source = SizeEstimator::kAssumedAudioRate;

    const int64_t rate = SizeEstimator::compressedAudioBitrate(quality, *source);
    const int64_t expected = SizeEstimator::estimatedMediaSize(*durationSeconds, 0, rate);
    if (rate >= *source || (sourceBytes && expected >= *sourceBytes)) {
        // The rate the file has, as its size tells where its stream states none.
        int64_t told = *source;
        if ((!sourceBitrate || *sourceBitrate < 1) && sourceBytes)
            told = static_cast<int64_t>(static_cast<double>(*sourceBytes) * 8 / *durationSeconds);
        return kept(sourceBytes, fmt::format("Left as it is: at {} kb/s this {} is already as small as this "
                                             "quality makes it",
                                             told / 1000, format.label));
    }
    SoundCompression plan;
    plan.bitrate = rate;
    plan.expectedBytes = expected;
    return plan;
}

SoundCompression SoundCompression::plan(const std::filesystem::path& file, const MediaProbe& probe,
                                        const Format& format, double quality, const FileManagerService& files) {
    std::optional<int64_t> bytes = files.size(file);
    if (bytes && *bytes < 1) bytes.reset();
    return plan(format, quality, probe.durationSeconds, probe.audioBitrate, bytes);
}

bool SoundCompression::applies(const ConversionJob& job) {
    return job.options.tool == std::optional<std::string>("compress") && job.from.category == FormatCategory::audio &&
           job.to.category == FormatCategory::audio && job.from.id == job.to.id;
}

double SoundCompression::quality(const ConversionJob& job) { return job.options.quality.value_or(kDefaultQuality); }

}  // namespace kolvex
