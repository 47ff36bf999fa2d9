// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/audio/AacBitrates.h"

#include <algorithm>
#include <cmath>

namespace kolvex {

namespace {

// Usual AAC-LC rates; multichannel streams reach the upper rungs.
constexpr int64_t kLadder[] = {8000,   12000,  16000,  20000,  24000,  28000,  32000,  40000,  48000,
                               56000,  64000,  72000,  80000,  96000,  112000, 128000, 144000, 160000,
                               192000, 224000, 256000, 288000, 320000, 384000, 448000, 512000, 576000,
                               640000, 768000, 896000, 1024000, 1280000};

// Below this a channel sounds broken; above it AAC-LC gains nothing audible.
int64_t minimumPerChannel(double sampleRate) { return sampleRate >= 32000 ? 16000 : 8000; }
constexpr int64_t kMaximumPerChannel = 160000;
// An AAC frame of 1024 samples holds at most 6144 bits per channel.
int64_t frameLimitPerChannel(double sampleRate) { return static_cast<int64_t>(6144.0 * sampleRate / 1024.0); }

}  // namespace

const std::vector<int>& AacBitrates::sampleRates() {
    static const std::vector<int> rates{96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                        22050, 16000, 12000, 11025, 8000,  7350};
    return rates;
}

bool AacBitrates::supportsSampleRate(double sampleRate) {
    const auto& rates = sampleRates();
    return std::any_of(rates.begin(), rates.end(), [&](int r) { return std::fabs(r - sampleRate) < 0.5; });
}

std::vector<int64_t> AacBitrates::applicable(double sampleRate, int channels) {
    std::vector<int64_t> result;
    if (!supportsSampleRate(sampleRate) || channels < 1 || channels > 8) return result;
    const int64_t low = minimumPerChannel(sampleRate) * channels;
    const int64_t high = std::min(kMaximumPerChannel, frameLimitPerChannel(sampleRate)) * channels;
    for (int64_t rate : kLadder) {
        if (rate >= low && rate <= high) result.push_back(rate);
    }
    return result;
}

}  // namespace kolvex
