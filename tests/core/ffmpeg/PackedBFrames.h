// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>

#include "core/ffmpeg/FFmpegEngine.h"

namespace kolvex::testing {

// Rewrites the MPEG-4 Visual (ASP) pictures of an AVI that ffmpeg wrote (one picture a chunk, in
// decoding order, B-frames after their later reference) as DivX and Xvid write them in "packed"
// mode, which ffmpeg cannot write: each reference picture shares its chunk with the first
// B-frame after it, and a picture that is not coded (a few bytes) holds the chunk where the
// reference shows, so every chunk is one picture shown and no decoder holds one back. The first
// chunk carries DivX's user data whose last letter "p" tells decoders the stream is packed.
// `timeIncrementBits`: the width of a picture header's time field (from its stream header's
// time resolution: 5 bits for ffmpeg's 25 pictures a second). The pictures are written tagged
// XVID, the first sound stream, when there is one, as it was. Throws std::runtime_error when the
// file cannot be read or written.
// What is written beside them: a DivX subtitle (XSUB) stream with one bitmap subtitle shown from
// the start for half a second; a second picture stream, the pictures as they were (not packed).
struct Beside {
    bool subtitle = false;
    bool secondPicture = false;
};
void packBFrames(const std::filesystem::path& from, const std::filesystem::path& to, int timeIncrementBits,
                 Beside beside = {});

// 30 numbered pictures (JoinMarks) at 25 a second in an AVI of MPEG-4 pictures with B-frames
// between P-frames and a keyframe every 12, as ffmpeg writes them (no picture taken for a new
// scene: each number changes it all), or `packed`, in `dir`; with an MP3 tone when `sound`, and
// (packed only) the streams `beside`. Made once per folder and kind.
std::filesystem::path numberedAvi(const std::filesystem::path& dir, bool packed, bool sound, Beside beside = {});

// What `engine` makes of `job`; none, with the error it threw added as a test failure, when it fails.
std::optional<ConversionOutcome> outcomeOf(const FFmpegEngine& engine, const ConversionJob& job);

}  // namespace kolvex::testing
