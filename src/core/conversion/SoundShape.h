// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kolvex {

// The sample rate and channel layout a sound is written with: the nearest to the source's (or to
// a rate asked for) that its encoder takes. One decision for the FFmpeg command lines and the
// in-process audio engine, so no encoder is handed a rate or a layout it refuses (AAC stops at
// 96 kHz; libopus takes only the Vorbis channel orders; MP3 holds two channels at most).
// Pure; any thread.
struct SoundShape {
    int64_t sampleRate = 0;  // hertz
    std::string layout;      // FFmpeg's name ("stereo", "5.1")
    int channels = 0;

    bool operator==(const SoundShape&) const = default;

    // `encoder`: FFmpeg's name for it ("aac", "libopus", "pcm_s16le"). `sourceLayout`: FFmpeg's
    // name of the source's layout, empty when unknown (the usual layout of `sourceChannels` is
    // then assumed). `askedRate`: a rate the job asks for instead of the source's.
    static SoundShape of(const std::string& encoder, int64_t sourceRate, int sourceChannels,
                         const std::string& sourceLayout, std::optional<double> askedRate = std::nullopt);

    // The rates `encoder` takes, highest first; empty when it takes any rate up to maxRate().
    static const std::vector<int64_t>& rates(const std::string& encoder);
    // The highest rate an encoder that takes any rate stores.
    static int64_t maxRate(const std::string& encoder);
    // The number of channels FFmpeg's layout of that name holds; 0 for a name it does not list.
    static int channelsOf(const std::string& layout);
    // FFmpeg's usual layout for a channel count (1 mono, 2 stereo, 6 5.1 …).
    static std::string usualLayout(int channels);
};

}  // namespace kolvex
