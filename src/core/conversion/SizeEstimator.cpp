// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversion/SizeEstimator.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/conversion/SoundCompression.h"
#include "core/format/ConversionJob.h"
#include "core/services/ByteCountFormatter.h"
#include "core/services/TemporaryFileManager.h"

namespace kolvex {

namespace {

// Toward zero, held within the 64-bit range; NaN gives 0.
int64_t truncated(double value) {
    if (std::isnan(value)) return 0;
    constexpr double limit = 9223372036854775807.0;  // rounds to 2^63
    if (value >= limit) return std::numeric_limits<int64_t>::max();
    if (value <= -limit) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

std::optional<int64_t> knownSize(const std::filesystem::path& file, const FileManagerService& files) {
    auto size = files.size(file);
    if (!size || *size < 1) return std::nullopt;
    return size;
}

double videoFactor(double quality) { return quality <= 0 ? 0.28 : 0.28 + 0.47 * std::min(quality, 1.0); }
double audioFactor(double quality) { return quality <= 0 ? 0.35 : 0.35 + 0.45 * std::min(quality, 1.0); }

}  // namespace

std::optional<int64_t> SizeEstimator::bitrate(const std::filesystem::path& file, std::optional<double> durationSeconds,
                                              const FileManagerService& files) {
    if (!durationSeconds || !(*durationSeconds > 0)) return std::nullopt;
    auto size = knownSize(file, files);
    if (!size) return std::nullopt;
    return truncated(static_cast<double>(*size) * 8 / *durationSeconds);
}

std::optional<int64_t> SizeEstimator::videoBitrate(const std::filesystem::path& file, const MediaProbe& probe,
                                                   const FileManagerService& files) {
    auto total = bitrate(file, probe.durationSeconds, files);
    if (!total) return std::nullopt;
    return std::max(kVideoFloor, *total - probe.audioBitrate.value_or(0));
}

int64_t SizeEstimator::compressedVideoBitrate(double quality, int64_t sourceVideoBitrate) {
    return std::max(truncated(videoFactor(quality) * static_cast<double>(sourceVideoBitrate)), kVideoFloor);
}

int64_t SizeEstimator::compressedAudioBitrate(double quality, int64_t sourceAudioBitrate) {
    return std::max(truncated(audioFactor(quality) * static_cast<double>(sourceAudioBitrate)), kAudioFloor);
}

int64_t SizeEstimator::videoBitrate(double quality, int64_t pixels) {
    return truncated((quality * 0.34 + 0.06) * static_cast<double>(pixels) * 30);
}

int64_t SizeEstimator::pixels(int64_t longestSide, int64_t width, int64_t height) {
    const int64_t longest = std::max(width, height);
    if (longest < 1) return truncated(static_cast<double>(longestSide) * static_cast<double>(longestSide));
    const double scale = std::min(static_cast<double>(longestSide) / static_cast<double>(longest), 1.0);
    return std::max<int64_t>(1, truncated(scale * (scale * static_cast<double>(width) * static_cast<double>(height))));
}

int64_t SizeEstimator::resizedVideoBitrate(double quality, int64_t outputPixels,
                                           std::optional<int64_t> sourceVideoBitrate) {
    int64_t rate = videoBitrate(quality, outputPixels);
    if (sourceVideoBitrate && *sourceVideoBitrate < rate) rate = *sourceVideoBitrate;
    return std::max(rate, kVideoFloor);
}

int64_t SizeEstimator::estimatedMediaSize(double durationSeconds, int64_t videoBitrate, int64_t audioBitrate) {
    return truncated(durationSeconds * static_cast<double>(videoBitrate + audioBitrate) * 0.125 * kContainerOverhead);
}

std::optional<int64_t> SizeEstimator::estimatedCompressedSize(const std::filesystem::path& file,
                                                              const MediaProbe& probe, double quality,
                                                              const Format& target,
                                                              const ContainerAcceptance& containerAccepts,
                                                              const FileManagerService& files) {
    if (!probe.durationSeconds || !(*probe.durationSeconds > 0)) return std::nullopt;
    const double duration = *probe.durationSeconds;

    int64_t video = 0;
    const bool hasVideo = target.category != FormatCategory::audio && probe.videoCodec.has_value();
    // A sound file: what the compress tool's plan will do to it, a kept file weighing what it does.
    if (!probe.videoCodec && target.category == FormatCategory::audio && probe.audioCodec) {
        auto bytes = knownSize(file, files);
        return SoundCompression::plan(target, quality, probe.durationSeconds, probe.audioBitrate, bytes).expectedBytes;
    }
    if (hasVideo) {
        auto size = knownSize(file, files);
        if (!size) return std::nullopt;
        const int64_t total = truncated(static_cast<double>(*size) * 8 / duration);
        const int64_t sourceVideo = std::max(kVideoFloor, total - probe.audioBitrate.value_or(0));
        video = compressedVideoBitrate(quality, sourceVideo);
    }

    int64_t audio = 0;
    if (!probe.audioCodec) {
        if (video < 1) return std::nullopt;
    } else {
        const int64_t sourceAudio = probe.audioBitrate.value_or(kAssumedAudioRate);
        if (video < 1) {
            audio = compressedAudioBitrate(quality, sourceAudio);
        } else if (containerAccepts && containerAccepts(*probe.audioCodec, target.id)) {
            audio = sourceAudio;  // copied as it is
        } else {
            audio = compressedAudioBitrate(quality, sourceAudio);
        }
    }
    return estimatedMediaSize(duration, video, audio);
}

std::string SizeEstimator::format(int64_t bytes) { return ByteCountFormatter::file(bytes); }

std::optional<int64_t> SizeEstimator::measuredImageSize(const ConversionEngine& imageEngine,
                                                        const std::filesystem::path& image, const Format& format,
                                                        double quality, std::optional<int64_t> maxDimension,
                                                        bool preserveMetadata, std::stop_token stop) {
    ConversionOptions options;
    options.quality = quality;
    options.preserveMetadata = preserveMetadata;
    options.maxDimension = maxDimension;
    options.allowPassthrough = true;
    options.tool = "compress";
    return trialSize(imageEngine, image, format, options, std::move(stop));
}

std::optional<int64_t> SizeEstimator::measuredResizedImageSize(const ConversionEngine& imageEngine,
                                                               const std::filesystem::path& image,
                                                               const Format& format, int64_t maxDimension,
                                                               std::stop_token stop) {
    ConversionOptions options;
    options.preserveMetadata = true;
    options.maxDimension = maxDimension;
    options.allowPassthrough = true;
    options.tool = "resize";
    return trialSize(imageEngine, image, format, options, std::move(stop));
}

std::optional<int64_t> SizeEstimator::trialSize(const ConversionEngine& imageEngine, const std::filesystem::path& image,
                                                const Format& format, const ConversionOptions& options,
                                                std::stop_token stop) {
    try {
        return TemporaryFileManager::shared().withScratchDirectory(
            [&](const std::filesystem::path& scratch) -> std::optional<int64_t> {
                const auto destination = scratch / ("probe." + format.canonicalExtension());
                ConversionJob job(image, {}, destination, format, format,
                                  ConversionCapability{format.id, format.id, engine_ids::image,
                                                       ConversionCost::inProcess, false},
                                  options);
                imageEngine.convert(job, [](double) {}, stop);
                return FileManagerService::shared().size(destination);
            });
    } catch (const std::exception&) {
        // A trial that cannot be made only means there is no measured size to show.
        return std::nullopt;
    }
}

}  // namespace kolvex
