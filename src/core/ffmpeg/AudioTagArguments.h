// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/ffmpeg/MediaProbe.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

// What an audio output keeps of its source besides the sound: the tags, the embedded cover
// picture and the sample depth. Pure; any thread.
class AudioTagArguments {
public:
    using Arguments = std::vector<std::string>;

    // The mapping and muxer options of an audio output's first audio stream, its cover and its
    // tags: "-map 0:a:0", the cover stream when the target holds one, and the tag options.
    // With preserveMetadata off no tag and no cover is written.
    static Arguments mapping(const ConversionJob& job, const std::optional<MediaProbe>& probe);

    // True when the source has a cover picture the output will not carry although metadata is
    // kept (the target cannot hold a picture, or not one in this format).
    static bool dropsCover(const ConversionJob& job, const std::optional<MediaProbe>& probe);

    // The PCM encoder for a WAV or AIFF target: 24-bit for sources deeper than 16 bits,
    // 16-bit otherwise; none for other targets.
    static std::optional<std::string> pcmEncoder(const Format& target, const std::optional<MediaProbe>& probe);

    // Whether a target container can hold a cover picture of this codec.
    static bool holdsCover(const Format& target, const std::string& codec);
};

}  // namespace kolvex
