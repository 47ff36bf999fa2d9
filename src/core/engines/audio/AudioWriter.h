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

// How an audio file is written: the encoding and its parameters.
struct AudioOutputSettings {
    enum class Encoding { linearPCM, mpeg4AAC };

    Encoding format = Encoding::linearPCM;
    double sampleRate = 0;
    int channels = 1;
    // FFmpeg's name of the channel layout written; empty: the usual one for `channels`.
    std::string layout;
    // Linear PCM only.
    int bitDepth = 0;
    bool isFloat = false;
    bool isBigEndian = false;
    bool isNonInterleaved = false;
    // AAC only; none lets the encoder choose.
    std::optional<int64_t> bitRate;

    bool operator==(const AudioOutputSettings&) const = default;
};

// What an output keeps of its source besides the sound. Both may be absent.
struct AudioMetadata {
    const AVDictionary* tags = nullptr;  // written as the file's tags (M4A, AIFF as ID3v2, WAV as INFO)
    const AVStream* cover = nullptr;     // an attached JPEG or PNG picture (M4A and AIFF hold one)
};

// A failure to open or write the output; what() is a short English description.
class AudioWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thrown when the output path is already taken.
class AudioFileExists : public AudioWriteError {
public:
    using AudioWriteError::AudioWriteError;
};

// Writes an audio file with FFmpeg's libraries: AAC in an MPEG-4 (.m4a) file, or 16- or 24-bit
// PCM in WAV (little-endian) or AIFF (big-endian). Takes decoded frames of any layout, sample
// format and rate and converts them. Writes the tags and cover it is given, no encoder tag. One instance per job; not
// shared between threads. The file is complete only after finish(); a writer destroyed before
// that closes the file but leaves it incomplete (the caller removes it).
class AudioWriter {
public:
    // Creates `path`, which must not exist (an existing file is never replaced: AudioFileExists).
    // Throws AudioWriteError when the settings cannot be encoded or the file cannot be created.
    AudioWriter(const std::filesystem::path& path, const AudioOutputSettings& settings,
                const AudioMetadata& metadata = {});
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // Converts and encodes one decoded frame. Throws AudioWriteError.
    void write(const AVFrame& frame);
    // Drains the converter and the encoder, writes the trailer and closes the file.
    void finish();
    // True when a cover was given that this file cannot hold, so it was left out.
    bool droppedCover() const;

private:
    struct State;
    std::unique_ptr<State> m;
};

}  // namespace kolvex
