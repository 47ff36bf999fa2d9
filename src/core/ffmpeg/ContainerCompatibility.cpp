// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/ContainerCompatibility.h"

#include <set>
#include <unordered_map>

#include "core/services/PathUtils.h"

namespace kolvex {

namespace {

const std::unordered_map<std::string, std::set<std::string>>& table() {
    static const std::unordered_map<std::string, std::set<std::string>> rows = {
        {"mp4", {"h264", "hevc", "mpeg4", "av1", "aac", "alac", "mp3"}},
        {"m4v", {"h264", "hevc", "mpeg4", "aac", "alac"}},
        {"mov", {"h264", "hevc", "mpeg4", "prores", "mjpeg", "dvvideo", "aac", "alac", "pcm_s16le", "pcm_s24le", "mp3"}},
        {"mkv", {"h264",  "hevc", "mpeg4", "mpeg2video", "mpeg1video", "vp8",    "vp9",  "av1",  "prores",
                 "mjpeg", "theora", "vc1", "wmv3", "flv1", "h263", "aac", "mp3", "ac3", "eac3", "flac", "alac",
                 "vorbis", "opus", "pcm_s16le", "pcm_s24le", "wmav2"}},
        {"webm", {"vp8", "vp9", "av1", "vorbis", "opus"}},
        {"m4a", {"aac", "alac"}},
        {"mp3", {"mp3"}},
        {"wav", {"pcm_s16le", "pcm_s24le", "pcm_s32le", "pcm_f32le", "pcm_u8"}},
        // What ffmpeg's AIFF writer takes: little-endian samples only 16 bits deep ("sowt").
        {"aiff", {"pcm_s16be", "pcm_s16le", "pcm_s24be"}},
        {"flac", {"flac"}},
        {"ogg", {"vorbis", "opus", "flac"}},
        {"opus", {"opus"}},
        {"aac", {"aac"}},
    };
    return rows;
}

}  // namespace

bool ContainerCompatibility::isKnownContainer(const FormatID& container) {
    return table().contains(container.rawValue);
}

bool ContainerCompatibility::accepts(const std::string& codec, const FormatID& container) {
    const auto row = table().find(container.rawValue);
    return row != table().end() && row->second.contains(paths::asciiLower(codec));
}

std::optional<FormatID> ContainerCompatibility::audioContainer(const std::string& codec) {
    for (const char* container : {"m4a", "mp3", "flac", "wav", "aiff", "opus", "ogg"})
        if (accepts(codec, container)) return FormatID(container);
    return std::nullopt;
}

bool ContainerCompatibility::keepsRotation(const FormatID& container) {
    return container.rawValue == "mp4" || container.rawValue == "m4v" || container.rawValue == "mov";
}

bool ContainerCompatibility::keepsChapters(const FormatID& container) {
    static const std::set<std::string> without = {"avi", "wav", "aiff", "aac"};
    return !without.contains(container.rawValue);
}

bool ContainerCompatibility::keepsEditList(const FormatID& container) {
    return keepsRotation(container) || container.rawValue == "m4a";
}

}  // namespace kolvex
