// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/MediaTime.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include <fmt/format.h>

namespace kolvex {

namespace {

std::optional<double> readPiece(std::string_view piece) {
    if (!piece.empty() && piece.front() == '+') piece.remove_prefix(1);
    if (piece.empty() || piece.front() == '-' || piece.front() == '+') return std::nullopt;
    double value = 0;
    const char* end = piece.data() + piece.size();
    const auto [ptr, ec] = std::from_chars(piece.data(), end, value, std::chars_format::general);
    if (ec != std::errc{} || ptr != end) return std::nullopt;
    if (!std::isfinite(value) || value < 0) return std::nullopt;
    return value;
}

bool isWhole(double value) {
    return std::floor(value) == value;
}

}  // namespace

std::string MediaTime::format(double seconds) {
    double s = std::isfinite(seconds) && seconds > 0 ? seconds : 0;
    // Hundredths first, so that the seconds never read "60.00".
    const double hundredths = std::round(s * 100);
    if (hundredths < 9.0e15) s = hundredths / 100;
    const auto minutes = static_cast<int64_t>(std::floor(s)) / 60;
    const double rest = s - static_cast<double>(minutes) * 60;
    return fmt::format("{}:{:05.2f}", minutes, rest < 0 ? 0.0 : rest);
}

std::optional<double> MediaTime::parse(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.empty()) return std::nullopt;

    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (true) {
        const size_t colon = text.find(':', start);
        if (colon == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            break;
        }
        pieces.push_back(text.substr(start, colon - start));
        start = colon + 1;
    }
    if (pieces.size() >= 4) return std::nullopt;

    std::vector<double> values;
    for (auto piece : pieces) {
        auto value = readPiece(piece);
        if (!value) return std::nullopt;
        values.push_back(*value);
    }
    switch (values.size()) {
    case 1:
        return values[0];
    case 2:
        if (!isWhole(values[0])) return std::nullopt;
        return values[0] * 60 + values[1];
    default:
        if (!isWhole(values[0]) || !isWhole(values[1])) return std::nullopt;
        return (values[0] * 60 + values[1]) * 60 + values[2];
    }
}

std::string MediaTime::clock(double seconds) {
    const double rounded = std::isfinite(seconds) ? std::round(seconds) : 0;
    const auto total = static_cast<int64_t>(std::max(rounded, 0.0));
    if (total < 3600) return fmt::format("{}:{:02}", total / 60, total % 60);
    return fmt::format("{}:{:02}:{:02}", total / 3600, (total % 3600) / 60, total % 60);
}

}  // namespace kolvex
