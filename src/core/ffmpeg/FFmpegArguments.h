#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ffmpeg/MediaProbe.h"
#include "core/ffmpeg/PassthroughPlanner.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

// Turns one planned conversion into the argument list of one ffmpeg run (everything after the
// program path). Pure: touches no file and starts nothing, apart from reading the source's size
// for bit-rate estimates. Numbers are written without regard to the locale. Any thread.
class FFmpegArguments {
public:
    using Arguments = std::vector<std::string>;

    // The preamble of every run: no standard input, errors only, the key=value progress stream
    // on standard output every 0.2 s, never write over an existing file (the engine hands ffmpeg
    // a fresh hidden name and moves the finished file into place itself).
    static const Arguments& common();

    // The whole argument list of a single conversion. Source and destination are passed as
    // absolute paths, so a name starting with "-" is never read as an option.
    static Arguments build(const ConversionJob& job, const PassthroughPlanner::Decision& decision,
                           const std::optional<MediaProbe>& probe);

    // Encoder choice per target; see FFmpegEncoders, the one place that knows the names.
    static std::string videoEncoder(const Format& target);
    static std::string audioEncoder(const Format& target);
    static std::string imageEncoder(const Format& target);

    // "HH:MM:SS.mmm", rounded to whole milliseconds first (59.9996 gives 00:01:00.000, never
    // 00:00:60.000); negative or non-finite values give 00:00:00.000.
    static std::string timestamp(double seconds);
    // "-movflags +faststart" for mp4, m4v, mov and m4a; nothing otherwise.
    static Arguments containerFlags(const Format& target);
    // The audio-stream arguments of a video output.
    static Arguments audioArguments(const ConversionJob& job, const std::optional<MediaProbe>& probe);
    // Loudness normalisation to -16 LUFS, planar float samples, then an optional resampling.
    static std::string loudnessFilter(std::optional<int64_t> sampleRate);
    // Crop (even pixel counts, bottom-left origin turned into ffmpeg's top-left) then scale.
    static std::optional<std::string> videoFilter(const ConversionJob& job);
    // A video bit rate text such as "8700k", when the options ask for a quality.
    static std::optional<std::string> videoBitrate(const ConversionJob& job, const std::optional<MediaProbe>& probe);
    // "-maxrate" 110 % and "-bufsize" 200 % of a bit rate text; nothing for text it cannot read.
    static Arguments rateCap(const std::string& bitrate);
};

}  // namespace kolvex
