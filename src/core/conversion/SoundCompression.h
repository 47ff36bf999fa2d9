// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/ffmpeg/MediaProbe.h"
#include "core/format/ConversionJob.h"
#include "core/format/FormatManifest.h"
#include "core/services/FileManagerService.h"

namespace kolvex {

// What the compress tool does to a sound file: re-encode it at a lower rate, or leave it as it is
// and say why. The one plan that the compress sheet's estimate, the FFmpeg command line and the
// in-process audio engine all follow, so what the sheet promises is what is done.
// Pure apart from reading the file's size; any thread.
struct SoundCompression {
    // The rate the sound is re-encoded at (bits per second); none when it is left as it is.
    std::optional<int64_t> bitrate;
    // What the re-encoded file should weigh; the source's size when it is left as it is.
    std::optional<int64_t> expectedBytes;
    // Why it is left as it is, one sentence for the user; empty for a re-encode.
    std::string reason;

    bool leftAsItIs() const { return !bitrate.has_value(); }

    // For a sound file of `format` weighing `sourceBytes`, lasting `durationSeconds`, whose sound
    // runs at `sourceBitrate` (none: the usual 128 kb/s is assumed), compressed at
    // `quality`. A lossless format is left as it is (only another format makes it smaller), as is
    // a file the lower rate would not make smaller.
    static SoundCompression plan(const Format& format, double quality, std::optional<double> durationSeconds,
                                 std::optional<int64_t> sourceBitrate, std::optional<int64_t> sourceBytes);
    // The same for a file and what the probe read of it.
    static SoundCompression plan(const std::filesystem::path& file, const MediaProbe& probe, const Format& format,
                                 double quality, const FileManagerService& files = FileManagerService::shared());

    // Whether `job` is the compress tool on a sound file, written in its own format.
    static bool applies(const ConversionJob& job);
    // The quality a compress job runs at (the sheet's default when it names none).
    static double quality(const ConversionJob& job);
};

}  // namespace kolvex
