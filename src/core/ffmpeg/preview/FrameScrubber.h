// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

namespace kolvex {

class MediaInput;

// One decoded picture: 8-bit RGBA, rows packed (width × 4 bytes each). A plain value.
struct VideoFrame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
};

// Decodes single frames of one video file at exact times, for the previews of the trim and split
// sheets. The file is opened on the first request and kept open; requests are served one at a
// time (a mutex), each decoding anew, and none is cached. Frames come out upright (the stream's
// display rotation applied) and fitted within the size limit, aspect kept. Any thread.
class FrameScrubber {
public:
    // A frame at a time in seconds, or none; blocks, so call it from a worker thread.
    using Provider = std::function<std::optional<VideoFrame>(double seconds, std::stop_token stop)>;

    FrameScrubber(std::filesystem::path source, int maximumWidth, int maximumHeight);
    ~FrameScrubber();

    // The frame shown at `seconds` (negative times ask for the first frame): the last frame that
    // starts at or before it, else the first one after it. None when the file is no readable
    // video, the decode fails or `stop` is requested. Never throws.
    std::optional<VideoFrame> decode(double seconds, std::stop_token stop = {});

    // A provider over a scrubber of its own for the file, frames within 900 × 900; none when
    // `isVideo` is false (audio files get no previews).
    static Provider provider(const std::filesystem::path& file, bool isVideo);

    // The file's duration in seconds, when it reports one.
    static std::optional<double> duration(const std::filesystem::path& file);
    // A still for the crop sheet: the frame at a third of the duration (at 0 when the duration
    // is unknown), within 1280 × 1280. Blocks.
    static std::optional<VideoFrame> videoFrame(const std::filesystem::path& file, std::stop_token stop = {});

private:
    std::optional<VideoFrame> decodeLocked(double seconds, const std::stop_token& stop, bool seek);
    std::optional<VideoFrame> convert() const;

    std::filesystem::path m_source;
    int m_maximumWidth;
    int m_maximumHeight;
    std::mutex m_mutex;
    std::unique_ptr<MediaInput> m_input;
    bool m_opened = false;
};

}  // namespace kolvex
