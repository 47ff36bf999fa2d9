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

std::optional<int64_t> FFmpegProgressParser::picturesWritten(std::string_view progress) {
    // Only a report that ended says how many there were in all: its "frame=" line.
    const auto end = progress.rfind("progress=end");
    if (end == std::string_view::npos) return std::nullopt;
    const auto begin = progress.rfind("progress=", end == 0 ? 0 : end - 1);
    std::string_view report = progress.substr(0, end);
    if (begin != std::string_view::npos && begin < end) report = report.substr(begin);
    while (!report.empty()) {
        const auto lineEnd = report.find_first_of("\r\n");
        std::string_view line = report.substr(0, lineEnd);
        report = lineEnd == std::string_view::npos ? std::string_view() : report.substr(lineEnd + 1);
        if (!line.starts_with("frame=")) continue;
        line.remove_prefix(6);
        while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
        int64_t count = 0;
        const auto [ptr, error] = std::from_chars(line.data(), line.data() + line.size(), count);
        if (error != std::errc() || ptr != line.data() + line.size() || line.empty() || count < 0) return std::nullopt;
        return count;
    }
    return std::nullopt;
}

}  // namespace kolvex
