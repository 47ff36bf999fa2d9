// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>

#include "core/ffmpeg/MediaProbe.h"
#include "core/format/ConversionError.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

// An animation's few bytes can declare any amount of drawing: a GIF of 115 KB with a 4000 × 4000
// screen and 5000 one-pixel frames makes ffmpeg draw and encode 80 billion pixels (minutes, and
// gigabytes of memory). What a picture source asks for, its screen times its frames, is bounded.
struct AnimationWork {
    // Pixels ffmpeg may be asked to draw from one animated picture: 8000 frames of 1920 × 1080.
    static constexpr int64_t kMostPixels = int64_t{16'000'000'000};

    // The frames of `probe`'s first video stream: its duration times its frame rate; none when
    // either is unknown.
    static std::optional<int64_t> frames(const MediaProbe& probe);
    // beyondLimit of the source, naming what it asks for and the bound, when a job from a
    // picture (an animated GIF, WebP or PNG) asks for more than kMostPixels; none otherwise.
    static std::optional<ConversionError> refusal(const ConversionJob& job, const MediaProbe& probe);
};

}  // namespace kolvex
