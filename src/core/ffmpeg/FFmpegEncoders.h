// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/format/FormatManifest.h"

namespace kolvex {

// The one place that says which ffmpeg encoder each target format needs. Command lines, the
// engine's checks and the registry's encoder filter all read it, so they never disagree.
//
// The design names the encoders of the Apple build of FFmpeg (hardware H.264/HEVC, the system
// AAC encoder); this build uses Debian's FFmpeg, whose counterparts are libx264, libx265 and
// FFmpeg's own aac. Pure functions; any thread.
class FFmpegEncoders {
public:
    // The encoder name on this platform for a name as the design writes it:
    // "h264_videotoolbox" → "libx264", "hevc_videotoolbox" → "libx265", "aac_at" → "aac";
    // every other name is the same on both.
    static std::string platformName(std::string_view designName);

    // "libvpx-vp9" for webm, H.264 for every other video target.
    static std::string videoEncoder(const Format& target);
    // By target id: mp3 "libmp3lame", flac "flac", wav "pcm_s16le", aiff "pcm_s16be",
    // opus/ogg/webm "libopus", anything else AAC.
    static std::string audioEncoder(const Format& target);
    // By target id: webp "libwebp", jpg "mjpeg", gif "gif", anything else "png".
    static std::string imageEncoder(const Format& target);
    // The encoder a conversion to `target` cannot do without, for the registry's filter:
    // The encoder that keeps a cut or a join of sound coded as `sourceCodec` in that codec, where
    // the target's own encoder would change it: ALAC and FLAC stay so (lossless) wherever the
    // target holds them, Vorbis stays Vorbis in Ogg (what a Vorbis player reads). None otherwise.
    static std::optional<std::string> keepingEncoder(const Format& target, const std::optional<std::string>& sourceCodec);
    // gif → "gif", then by category (audio, video, image); none for other categories.
    static std::optional<std::string> requiredEncoder(const Format& target);
};

}  // namespace kolvex
