// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>

namespace kolvex {

// Where a file's first moving picture and first sound lie on the file's own clock, in seconds, as
// its packets state them: what a merge that copies the pictures needs to join each file's sound
// where its pictures begin and end. A plain value.
struct ClipSpan {
    double fileStart = 0;     // the file's start: its earliest stream's first time
    double pictureStart = 0;  // the first picture's presentation time
    double pictureEnd = 0;    // the last picture's end: the latest presentation time plus its duration
    // The first and last decoded sample's times: the packets' times less what the decoder drops
    // (an encoder's delay at the start, padding at the end, where the file states them).
    std::optional<double> soundStart;
    std::optional<double> soundEnd;

    // Reads the span with FFmpeg's libraries in this process, from the packets alone (nothing is
    // decoded): those of the first sound and those of the last few seconds. Blocks for at most
    // 120 s; a stop request ends it within one packet. None for a file with no moving picture or
    // one whose pictures state no time. Throws ConversionError::corruptedInput when the file
    // cannot be read as media, OperationCancelled when stopped.
    static std::optional<ClipSpan> read(const std::filesystem::path& url, std::stop_token stop = {});

    bool operator==(const ClipSpan&) const = default;
};

}  // namespace kolvex
