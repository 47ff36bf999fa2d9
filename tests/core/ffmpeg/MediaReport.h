// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/ffmpeg/KeyframeIndex.h"
#include "core/ffmpeg/MediaProbe.h"

namespace kolvex::testing {

// A media file as ffprobe and a full decode with ffmpeg see it: the independent reader every
// output-contract test judges by (never our own prober).
struct MediaReport {
    struct Stream {
        std::string type;  // "video", "audio", "subtitle", "attachment", "data"
        std::string codec;
        std::string profile;
        std::string pixelFormat;
        std::string tag;  // codec_tag_string ("hvc1")
        int64_t width = 0;
        int64_t height = 0;
        int rotation = 0;  // display matrix, degrees as ffprobe reports them
        bool coverPicture = false;
        std::optional<double> duration;
        std::optional<int64_t> frames;  // counted by decoding
        std::string language;
    };
    std::vector<Stream> streams;
    std::optional<double> duration;  // the container's
    int64_t chapters = 0;
    std::string decodeErrors;        // what "ffmpeg -v error -i file -f null -" printed
    bool indexFirst = false;         // an MP4/QuickTime "moov" before "mdat" (fast start)

    // Probes (counting frames) and decodes the whole file. Throws std::runtime_error when
    // ffprobe cannot read it at all.
    static MediaReport of(const std::filesystem::path& file);

    std::vector<Stream> ofType(const std::string& type) const;
    const Stream& video() const;  // the first video stream that is no cover picture; throws when none
};

// One stream as a full decode meets it: the first frame's presentation time, the end of the
// last frame, and how many frames (and, for sound, samples) came out.
struct DecodedStream {
    double start = 0;
    double end = 0;
    int64_t frames = 0;
    int64_t samples = 0;
    double seconds() const { return end - start; }
};

// Decodes the stream `streams` selects ("v:0", "a:0") with ffprobe. Throws std::runtime_error
// when ffprobe fails; a file without such a stream gives an empty one.
DecodedStream decodedStream(const std::filesystem::path& file, const std::string& streams);

// The facts a MediaProbe holds, as ffprobe's report of streams and format states them. Throws
// std::runtime_error when ffprobe cannot read the file.
MediaProbe ffprobeFacts(const std::filesystem::path& file);

// The keyframes (packets flagged "K") of the first moving-picture stream as ffprobe lists them,
// counted from the file's start time as ffmpeg's -ss counts, with the largest
// presentation-minus-decode time among them; with `window` (seconds from the start), ffprobe's
// reading interval over it. Throws std::runtime_error when ffprobe
// fails.
StreamCopyCuts ffprobeCuts(const std::filesystem::path& file,
                           std::optional<std::pair<double, double>> window = std::nullopt);

// The same for an AVI whose decoder puts B-frames in order (its packets state no presentation
// time), from ffmpeg's decoding: each picture when ffprobe shows it, moved back by the pictures
// the decoder holds, as the engine cuts; the decode delay from the keyframes' packets. Pictures
// in the order shown, with no decode times.
StreamCopyCuts ffprobeShownCuts(const std::filesystem::path& file);

}  // namespace kolvex::testing

namespace kolvex {
// Field by field, so a failed comparison of two probes says which facts differ.
void PrintTo(const MediaProbe& probe, std::ostream* out);
}  // namespace kolvex
