#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ffmpeg/MediaProbe.h"
#include "core/format/FormatManifest.h"

namespace kolvex {

// How several media files become one: joined by stream copy when they carry the same streams in
// every respect a copied packet depends on (container, rates, time bases, formats, profiles,
// decoder setup) in codecs the target holds, else re-encoded to one frame size, rate and sample
// rate. FLAC is always re-encoded, losslessly.
// A plain value; pure.
struct MergePlan {
    MergePlan(const std::vector<MediaProbe>& probes, const Format& target);

    bool canStreamCopy = false;
    bool wantsVideo = false;   // the target is not audio and every input has video
    bool wantsAudio = false;   // every input has audio
    int64_t width = 1920;      // the largest known input width, as the picture is shown
    int64_t height = 1080;     // the largest known input height, as the picture is shown
    int64_t frameRate = 30;
    int64_t sampleRate = 48000;  // the largest known input sample rate
    std::optional<int64_t> audioBitsPerSample;  // the deepest known lossless input
    std::optional<double> totalDuration;  // the sum, when every input has a duration
    std::vector<std::optional<double>> durations;  // each input's, in order
    std::string reason;                   // one line for the log
};

}  // namespace kolvex
