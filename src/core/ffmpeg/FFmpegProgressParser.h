// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kolvex {

// Turns the key=value lines of ffmpeg's "-progress" stream into a completion fraction that only
// grows. A mutable value: its owner serialises calls (lines arrive on the runner's thread).
class FFmpegProgressParser {
public:
    // `durationSeconds`: the expected length of the output's time line, when known. `floor`: the
    // fraction already reported; only larger ones are returned.
    explicit FFmpegProgressParser(std::optional<double> durationSeconds, double floor = 0);

    // A new fraction to report for this line, or nothing. "progress=end" always gives 1.
    std::optional<double> consume(std::string_view line);

    // How many pictures the first output's first video stream received, as the last report of a
    // whole "-progress" stream (`progress`) counts them ("frame="); none when it does not say.
    static std::optional<int64_t> picturesWritten(std::string_view progress);

    std::optional<double> durationSeconds() const { return m_durationSeconds; }
    double lastFraction() const { return m_lastFraction; }

private:
    std::optional<double> m_durationSeconds;
    double m_lastFraction;
};

}  // namespace kolvex
