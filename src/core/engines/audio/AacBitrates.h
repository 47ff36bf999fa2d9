// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <vector>

namespace kolvex {

// The AAC bit rates we offer for a sample rate and channel count. FFmpeg's AAC encoder takes
// any rate and publishes no list, so the ladder of usual rates lives here, narrowed to what
// makes sense per channel and to what fits in an AAC frame at that sample rate.
// Pure functions; any thread.
struct AacBitrates {
    // The sample rates an AAC stream can carry, highest first.
    static const std::vector<int>& sampleRates();
    static bool supportsSampleRate(double sampleRate);

    // Applicable rates in bits per second, ascending; empty when the sample rate is not one AAC
    // carries or the channel count is outside 1…8.
    static std::vector<int64_t> applicable(double sampleRate, int channels);
};

}  // namespace kolvex
