// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

struct AVDictionary;
struct AVFrame;
struct AVStream;

namespace kolvex {

// A failure to open or read audio; what() is a short English description.
class AudioReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decodes the first audio stream of a file with FFmpeg's libraries, one decoded frame at a
// time, so memory does not grow with the file's length. One instance per job; not shared
// between threads.
class AudioReader {
public:
    // Opens the file and its decoder. Throws AudioReadError when the file holds no audio that
    // can be decoded, or when its header promises more audio data than the file holds.
    explicit AudioReader(const std::filesystem::path& path);
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    // The stream's sample rate (always above 0) and channel count (may be 0 when unknown).
    double sampleRate() const;
    int channels() const;
    // FFmpeg's name of the stream's channel layout ("5.1(side)"); empty when its channels have
    // no stated positions.
    std::string channelLayout() const;
    // The sound's bit rate as the stream states it, and the file's length as its container
    // states it (what a probe of the file reads); none when not stated.
    std::optional<int64_t> bitRate() const;
    std::optional<double> durationSeconds() const;

    // Significant bits per sample of a lossless stream (16, 24, 32); 0 for lossy streams and
    // when unknown.
    int bitsPerSample() const;
    // The file's tags (title, artist, album, track…): the container's, completed by the audio
    // stream's own. Never null; may be empty.
    const AVDictionary* tags() const;
    // The embedded cover picture (a stream marked as attached picture), or nullptr.
    const AVStream* cover() const;

    // The stream's length in frames as the container states it; none when unknown.
    std::optional<int64_t> lengthFrames() const;

    // The next decoded frame (valid until the next call), or nullptr at the end of the stream.
    // Throws AudioReadError when the file cannot be read or decoded any further.
    const AVFrame* next();

    // Frames decoded so far.
    int64_t framesRead() const;
    // How far through the file reading is, 0…1.
    double fractionRead() const;
    // After the end: true when the container stated an exact length and decoding ended well
    // short of it — the file was cut off.
    bool endedShort() const;

private:
    struct State;
    std::unique_ptr<State> m;
};

}  // namespace kolvex
