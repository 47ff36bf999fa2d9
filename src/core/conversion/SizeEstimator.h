// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "core/conversion/ConversionEngine.h"
#include "core/ffmpeg/MediaProbe.h"
#include "core/format/FormatManifest.h"
#include "core/services/FileManagerService.h"

namespace kolvex {

// The arithmetic that turns a file, its media facts and a quality setting into bit rates and
// expected output sizes: the tool sheets show these estimates, and the encoders use the same
// rates for real. Bit rates are bits per second, sizes bytes, durations seconds; quality is
// meaningful from 0 to 1. Float results are truncated toward zero and held within the 64-bit
// range (NaN gives 0).
//
// Every operation may be called from any thread; all are pure apart from reading file sizes,
// except measuredImageSize, which encodes a trial copy (blocking; call it from a worker thread).
struct SizeEstimator {
    static constexpr int64_t kVideoFloor = 120000;
    static constexpr int64_t kAudioFloor = 32000;
    static constexpr int64_t kAssumedAudioRate = 128000;
    static constexpr double kContainerOverhead = 1.02;

    // Whether a container (a format id) takes an audio codec as it is. The FFmpeg layer's
    // ContainerCompatibility::accepts is the one to pass; it is handed in because this core
    // library sits below the FFmpeg one.
    using ContainerAcceptance = std::function<bool(const std::string& codec, const FormatID& container)>;

    // size × 8 ÷ duration; none without a positive duration or a known, non-empty file.
    static std::optional<int64_t> bitrate(const std::filesystem::path& file, std::optional<double> durationSeconds,
                                          const FileManagerService& files = FileManagerService::shared());
    // The file's overall rate less the probe's audio rate, at least the video floor; none
    // without a positive duration or a known, non-empty file.
    static std::optional<int64_t> videoBitrate(const std::filesystem::path& file, const MediaProbe& probe,
                                               const FileManagerService& files = FileManagerService::shared());
    // The share of the source video rate that compression keeps (0.28 + 0.47 × quality), at
    // least the video floor.
    static int64_t compressedVideoBitrate(double quality, int64_t sourceVideoBitrate);
    // The share of the source audio rate that compression keeps (0.35 + 0.45 × quality), at
    // least the audio floor.
    static int64_t compressedAudioBitrate(double quality, int64_t sourceAudioBitrate);
    // (0.06 + 0.34 × quality) bits per pixel and frame at 30 frames per second; no clamping.
    static int64_t videoBitrate(double quality, int64_t pixels);
    // Pixels of a picture fitted into `longestSide` (never enlarged); side² when the size is unknown.
    static int64_t pixels(int64_t longestSide, int64_t width, int64_t height);
    // The rate for the output pixels, no more than a known source rate, at least the video floor.
    static int64_t resizedVideoBitrate(double quality, int64_t outputPixels, std::optional<int64_t> sourceVideoBitrate);
    // duration × (video + audio) ÷ 8 × the container overhead.
    static int64_t estimatedMediaSize(double durationSeconds, int64_t videoBitrate, int64_t audioBitrate);
    // What a compress of the file to `target` at `quality` should weigh; none when the probe has
    // no positive duration, the file size is unknown where it is needed, or nothing would remain.
    // A sound file weighs what SoundCompression plans for it: its own size when it is kept.
    static std::optional<int64_t> estimatedCompressedSize(const std::filesystem::path& file, const MediaProbe& probe,
                                                          double quality, const Format& target,
                                                          const ContainerAcceptance& containerAccepts,
                                                          const FileManagerService& files = FileManagerService::shared());
    // The byte count as a file manager shows it ("1.5 MB").
    static std::string format(int64_t bytes);

    // Encodes a trial copy of the image as a same-format "compress" with `imageEngine` in a
    // scratch folder of its own (removed afterwards) and returns its size; none on any failure.
    // Because it is a compress, a trial that does not shrink the image measures the source's size.
    // The engine is handed in because this core library does not link the image engine.
    static std::optional<int64_t> measuredImageSize(const ConversionEngine& imageEngine,
                                                    const std::filesystem::path& image, const Format& format,
                                                    double quality, std::optional<int64_t> maxDimension,
                                                    bool preserveMetadata, std::stop_token stop = {});
    // The same trial as the resize tool runs it: a same-format "resize" to `maxDimension` at the
    // quality the engine picks for it (a JPEG keeps its own), keeping the metadata.
    static std::optional<int64_t> measuredResizedImageSize(const ConversionEngine& imageEngine,
                                                           const std::filesystem::path& image, const Format& format,
                                                           int64_t maxDimension, std::stop_token stop = {});

private:
    static std::optional<int64_t> trialSize(const ConversionEngine& imageEngine, const std::filesystem::path& image,
                                            const Format& format, const ConversionOptions& options,
                                            std::stop_token stop);
};

}  // namespace kolvex
