// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/FFmpegProgressParser.h"

#include <algorithm>
#include <charconv>

namespace kolvex {

FFmpegProgressParser::FFmpegProgressParser(std::optional<double> durationSeconds, double floor)
    : m_durationSeconds(durationSeconds), m_lastFraction(floor) {}

std::optional<double> FFmpegProgressParser::consume(std::string_view line) {
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::nullopt;
    line = line.substr(first, line.find_last_not_of(" \t") - first + 1);

    if (line == "progress=end") {
        m_lastFraction = 1.0;
        return 1.0;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos || line.substr(0, equals) != "out_time_us") return std::nullopt;

    const std::string_view value = line.substr(equals + 1);
    double microseconds = 0;
    const char* begin = value.data();
    const char* end = value.data() + value.size();
    if (begin != end && *begin == '+') ++begin;
    const auto [ptr, error] = std::from_chars(begin, end, microseconds);
    if (error != std::errc() || ptr != end || begin == end) return std::nullopt;
    if (!m_durationSeconds || !(*m_durationSeconds > 0)) return std::nullopt;

    const double fraction = std::clamp(microseconds / 1'000'000.0 / *m_durationSeconds, 0.0, 1.0);
    if (!(fraction > m_lastFraction)) return std::nullopt;  // NaN never passes
    m_lastFraction = fraction;
    return fraction;
}

}  // namespace kolvex
