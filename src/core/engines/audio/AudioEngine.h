// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/conversion/ConversionEngine.h"
#include "core/engines/audio/AudioWriter.h"

namespace kolvex {

// Converts audio in process with FFmpeg's libraries: reads MP3, M4A, WAV, AIFF, FLAC and AAC;
// writes AAC in M4A, or WAV or AIFF at 16 bits (24 bits for deeper sources); runs the tools
// "compress" and "strip-metadata". Tags and the cover picture are carried when the job keeps
// metadata. Trimming is not offered here. Logs nothing.
//
// Stateless: convert() may run on several worker threads at once; each call streams the audio
// through one buffer, so memory does not grow with the file's length.
class AudioEngine final : public ConversionEngine {
public:
    // The source's own parameters, as its container states them.
    struct SourceFormat {
        double sampleRate = 0;
        int channels = 0;
        int bitsPerSample = 0;  // of a lossless source; 0 when lossy or unknown
        std::string layout;     // FFmpeg's name of its channel layout; empty when unknown
    };

    AudioEngine();

    static const std::set<std::string>& supportedTools();
    // The source format ids the engine reads: "mp3", "m4a", "wav", "aiff", "flac", "aac".
    static bool canRead(const Format& format);

    EngineID id() const override { return m_id; }
    // A tool (if any) it supports, no trim, both formats audio, a readable source, and a target
    // of "m4a", "wav" or "aiff".
    bool canHandle(const ConversionJob& job) const override;
    // Leaves the room check before the job to the coordinator.
    bool checksRoom(const ConversionJob&) const override { return false; }
    // The destination alone, with a note when the source's cover picture could not be carried.
    // The output is removed on every failure and on cancel.
    ConversionOutcome convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                       std::stop_token stop) const override;
    std::vector<std::filesystem::path> convert(const ConversionJob& job, const ProgressCallback& progress,
                                               std::stop_token stop) const override;

    // The output settings of a job: per target the encoding, with the rate and channel layout
    // nearest the requested rate or the source's and the source's layout that the encoding
    // takes (SoundShape); none for a target this engine does not write.
    static std::optional<AudioOutputSettings> settings(const ConversionJob& job, const SourceFormat& source,
                                                       std::optional<int64_t> sourceBitrate);

    // The applicable encoder rate nearest to `requested` (the earlier on a tie); none when the
    // encoding has no list of rates or the list is empty for this sample rate and channel count.
    static std::optional<int64_t> nearestSupportedBitrate(int64_t requested, AudioOutputSettings::Encoding formatID,
                                                          double sampleRate, int channels);

private:
    // The AAC rate asked for when the job names none.
    static int64_t defaultBitrate(const ConversionJob& job, std::optional<int64_t> sourceBitrate);

    EngineID m_id;
};

}  // namespace kolvex
