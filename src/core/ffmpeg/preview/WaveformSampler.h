// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>
#include <vector>

namespace kolvex {

// Turns the audio of a file into peak levels, one per time bucket, for the timelines of the
// trim and split sheets.
struct WaveformSampler {
    // Reads the file's first audio stream once and returns at most `buckets` peaks (the largest
    // absolute sample over all channels in each bucket), scaled so that the loudest is 1.0 unless
    // every peak is at most 0.001. Frames per bucket are the file's length divided by `buckets`
    // (at least 1); frames beyond the last bucket fall into it. None when the file cannot be
    // opened as audio or reports no length; a read error half way keeps what was read. Never
    // throws. Blocks: call it from a worker thread. Memory stays at one decoded block plus the
    // peaks, whatever the file's length.
    static std::optional<std::vector<float>> peaks(const std::filesystem::path& file, int buckets,
                                                   std::stop_token stop = {});
};

}  // namespace kolvex
