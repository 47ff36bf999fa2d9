// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/FFmpegEncoders.h"

#include "core/ffmpeg/ContainerCompatibility.h"
#include "core/services/PathUtils.h"

namespace kolvex {

std::string FFmpegEncoders::platformName(std::string_view designName) {
    if (designName == "h264_videotoolbox") return "libx264";
    if (designName == "hevc_videotoolbox") return "libx265";
    if (designName == "aac_at") return "aac";
    return std::string(designName);
}

std::string FFmpegEncoders::videoEncoder(const Format& target) {
    if (target.id.rawValue == "webm") return "libvpx-vp9";
    return platformName("h264_videotoolbox");
}

std::string FFmpegEncoders::audioEncoder(const Format& target) {
    const std::string& id = target.id.rawValue;
    if (id == "mp3") return "libmp3lame";
    if (id == "flac") return "flac";
    if (id == "wav") return "pcm_s16le";
    if (id == "aiff") return "pcm_s16be";
    if (id == "opus" || id == "ogg" || id == "webm") return "libopus";
    return platformName("aac_at");
}

std::string FFmpegEncoders::imageEncoder(const Format& target) {
    const std::string& id = target.id.rawValue;
    if (id == "webp") return "libwebp";
    if (id == "jpg") return "mjpeg";
    if (id == "gif") return "gif";
    return "png";
}

std::optional<std::string> FFmpegEncoders::keepingEncoder(const Format& target, const std::optional<std::string>& sourceCodec) {
    if (!sourceCodec) return std::nullopt;
    const std::string codec = paths::asciiLower(*sourceCodec);
    if ((codec == "alac" || codec == "flac") && ContainerCompatibility::accepts(codec, target.id)) return codec;
    if (codec == "vorbis" && target.id.rawValue == "ogg") return "libvorbis";
    return std::nullopt;
}

std::optional<std::string> FFmpegEncoders::requiredEncoder(const Format& target) {
    if (target.id.rawValue == "gif") return "gif";
    switch (target.category) {
    case FormatCategory::audio: return audioEncoder(target);
    case FormatCategory::video: return videoEncoder(target);
    case FormatCategory::image: return imageEncoder(target);
    default: return std::nullopt;
    }
}

}  // namespace kolvex
