// SPDX-License-Identifier: GPL-3.0-or-later
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
// rate. FLAC is always re-encoded, losslessly. Coded sound (anything but PCM) starts with its
// encoder's delay and ends padded to a whole frame, which a copy would carry into every join: it
// is re-encoded, each file's sound cut to its pictures, while the pictures are copied; sound
// alone is then re-encoded whole. A file without sound adds silence as long as it lasts.
// A plain value; pure.
struct MergePlan {
    MergePlan(const std::vector<MediaProbe>& probes, const Format& target);

    bool canStreamCopy = false;
    // With canStreamCopy: the pictures are copied and the sound re-encoded.
    bool reencodesSound = false;
    bool wantsVideo = false;   // the target is not audio and every input has video
    bool wantsAudio = false;   // some input has audio
    int64_t width = 1920;      // the largest known input width, as the picture is shown
    int64_t height = 1080;     // the largest known input height, as the picture is shown
    // The inputs' own frame rate when every one has the same steady one ("30000/1001"), so every
    // picture is kept; else 30.
    std::string frameRate = "30";
    int64_t sampleRate = 48000;  // the largest known input sample rate
    std::optional<int64_t> audioBitsPerSample;  // the deepest known lossless input
    std::optional<int64_t> audioBitrate;        // bits per second, the highest known input's
    // The one sound codec of every input with sound, when they share one.
    std::optional<std::string> soundCodec;
    std::optional<double> totalDuration;  // the sum, when every input has a duration
    std::vector<std::optional<double>> durations;  // each input's, in order
    std::vector<bool> sounded;                     // whether each input has sound, in order
    // How long the encoder's priming lasts that each input's decoded sound starts with where its
    // container cannot state it away (AAC and MP3 in AVI, bare AAC), seconds, in order; 0 elsewhere.
    std::vector<double> primings;
    std::string reason;                   // one line for the log
};

}  // namespace kolvex
