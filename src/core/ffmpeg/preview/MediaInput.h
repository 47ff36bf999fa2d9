// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <memory>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;

namespace kolvex {

// One decodable stream of a local media file, opened with FFmpeg's libraries: the demuxer, the
// decoder and the packet and frame they share, released together. Only local files in the
// containers the media tools take are opened, so a playlist or a concat script dressed up as a
// video never makes FFmpeg open what it names. Not thread-safe: one thread at a time.
class MediaInput {
public:
    enum class Kind { video, audio };

    // Null when the file cannot be opened, is not a regular file (a FIFO, a device; refused
    // without waiting) or holds no decodable stream of that kind.
    static std::unique_ptr<MediaInput> open(const std::filesystem::path& file, Kind kind);
    ~MediaInput();
    MediaInput(const MediaInput&) = delete;
    MediaInput& operator=(const MediaInput&) = delete;

    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int streamIndex = -1;

private:
    MediaInput() = default;
};

}  // namespace kolvex
