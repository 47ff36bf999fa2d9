// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/preview/MediaFacts.h"

#include "core/format/ConversionError.h"
#include "core/ffmpeg/KeptInput.h"
#include "core/ffmpeg/LibavKeyframeReader.h"
#include "core/ffmpeg/LibavProber.h"
#include "core/ffmpeg/preview/WaveformSampler.h"
#include "core/services/Cancellation.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"

namespace kolvex {

MediaProbe FFmpegMediaFacts::probe(const std::filesystem::path& file, std::stop_token stop) const {
    return LibavProber().probe(file, stop);
}

KeyframeIndex FFmpegMediaFacts::keyframes(const std::filesystem::path& file, std::stop_token stop) const {
    try {
        return LibavKeyframeReader().index(file, stop);
    } catch (const ConversionError& error) {
        Log::app().info("No keyframes read from {}: {}", paths::lastComponent(file), error.shortDescription());
        return KeyframeIndex{};
    }
}

StreamCopyCuts FFmpegMediaFacts::copyCuts(const std::filesystem::path& file, std::stop_token stop) const {
    try {
        return LibavKeyframeReader().everyCut(file, stop);
    } catch (const ConversionError& error) {
        Log::app().info("No keyframes read from {}: {}", paths::lastComponent(file), error.shortDescription());
        return StreamCopyCuts();
    }
}

std::optional<std::vector<float>> FFmpegMediaFacts::waveform(const std::filesystem::path& file,
                                                               std::stop_token stop) const {
    auto peaks = WaveformSampler::peaks(file, kWaveformBuckets, stop);
    throwIfStopRequested(stop);
    return peaks;
}

void FFmpegMediaFacts::letGo() const { KeptInput::forget(); }

}  // namespace kolvex
