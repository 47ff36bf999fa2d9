#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/format/ConversionJob.h"

namespace kolvex {

// Turns what a failed ffmpeg run wrote on standard error into the error the user sees, by
// looking for fixed phrases. Pure apart from measuring disk figures; any thread.
class FFmpegErrorMapper {
public:
    // Room needed and room left, in bytes, for a "no space left" failure.
    struct DiskFigures {
        int64_t required = 0;
        int64_t available = 0;
    };

    // `figures`: when absent and the text says the disk is full, the job's source size is taken as
    // the need and the free capacity of the destination's folder as what is left.
    static ConversionError map(int32_t exitCode, const std::string& stderrText, const ConversionJob& job,
                               std::optional<DiskFigures> figures = std::nullopt);

    // The first word after `marker` (found ignoring case) in `text`, with blanks, quotes and line
    // feeds as separators; nothing when the marker is absent or nothing follows it.
    static std::optional<std::string> extract(const std::string& marker, const std::string& text);

    static DiskFigures measure(const ConversionJob& job);
};

}  // namespace kolvex
