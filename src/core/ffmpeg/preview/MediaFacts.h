// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>
#include <vector>

#include "core/ffmpeg/KeyframeIndex.h"
#include "core/ffmpeg/MediaProbe.h"

namespace kolvex {

// What the tool sheets read of a video or audio file, one fact at a time so a sheet can show
// as soon as the first is in. Every read blocks (call it on a worker thread) and ends early,
// throwing OperationCancelled, once `stop` is triggered. Shared between threads.
class MediaFacts {
public:
    static constexpr int kWaveformBuckets = 500;

    virtual ~MediaFacts() = default;
    // Duration, streams and rates. Throws ConversionError when the file cannot be read as media.
    virtual MediaProbe probe(const std::filesystem::path& file, std::stop_token stop) const = 0;
    // The keyframe times of the first video stream. A file whose keyframes cannot be read gets
    // an empty index (cuts are then re-encoded where they fall); the reason is logged.
    virtual KeyframeIndex keyframes(const std::filesystem::path& file, std::stop_token stop) const = 0;
    // The same read, every packet of the first video stream kept, so a sheet can ask where a
    // stream copy can cut (CutQuestion).
    virtual StreamCopyCuts copyCuts(const std::filesystem::path& file, std::stop_token stop) const = 0;
    // Peaks of the first audio stream for a timeline; none without readable audio.
    virtual std::optional<std::vector<float>> waveform(const std::filesystem::path& file,
                                                       std::stop_token stop) const = 0;
    // The sheet ended without a job (cancelled, failed or withdrawn): nothing read for the job
    // that would have followed stays open. Call after the sheet's reads were stopped.
    virtual void letGo() const = 0;
};

// The facts through FFmpeg's libraries, in process.
class FFmpegMediaFacts final : public MediaFacts {
public:
    MediaProbe probe(const std::filesystem::path& file, std::stop_token stop) const override;
    KeyframeIndex keyframes(const std::filesystem::path& file, std::stop_token stop) const override;
    StreamCopyCuts copyCuts(const std::filesystem::path& file, std::stop_token stop) const override;
    std::optional<std::vector<float>> waveform(const std::filesystem::path& file, std::stop_token stop) const override;
    void letGo() const override;
};

}  // namespace kolvex
