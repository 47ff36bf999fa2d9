#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ffmpeg/MediaProbe.h"
#include "core/format/FormatManifest.h"

namespace kolvex {

// How several media files become one: joined by stream copy when they carry the same kinds of
// streams in codecs the target holds, else re-encoded to one frame size, rate and sample rate.
// A plain value; pure.
struct MergePlan {
    MergePlan(const std::vector<MediaProbe>& probes, const Format& target);

    bool canStreamCopy = false;
    bool wantsVideo = false;   // the target is not audio and every input has video
    bool wantsAudio = false;   // every input has audio
    int64_t width = 1920;      // the largest known input width
    int64_t height = 1080;     // the largest known input height
    int64_t frameRate = 30;
    int64_t sampleRate = 48000;  // the largest known input sample rate
    std::optional<double> totalDuration;  // the sum, when every input has a duration
    std::string reason;                   // one line for the log
};

}  // namespace kolvex
