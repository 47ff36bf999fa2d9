// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/ByteCountFormatter.h"

#include <array>
#include <cmath>

#include <fmt/format.h>

namespace kolvex {

std::string ByteCountFormatter::file(int64_t bytes) {
    if (bytes == 0) return "Zero KB";
    const bool negative = bytes < 0;
    const double magnitude = std::fabs(static_cast<double>(bytes));
    const std::string sign = negative ? "-" : "";
    if (magnitude < 1000) {
        auto n = static_cast<int64_t>(magnitude);
        return fmt::format("{}{} {}", sign, n, n == 1 ? "byte" : "bytes");
    }
    static constexpr std::array<const char*, 6> kUnits{"KB", "MB", "GB", "TB", "PB", "EB"};
    static constexpr std::array<int, 6> kDigits{0, 1, 2, 2, 2, 2};
    size_t unit = 0;
    double value = magnitude / 1000.0;
    while (unit + 1 < kUnits.size()) {
        const double scale = std::pow(10.0, kDigits[unit]);
        if (std::round(value * scale) / scale < 1000.0) break;
        value /= 1000.0;
        ++unit;
    }
    const double scale = std::pow(10.0, kDigits[unit]);
    const double rounded = std::round(value * scale) / scale;
    std::string text = fmt::format("{:.{}f}", rounded, kDigits[unit]);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    return fmt::format("{}{} {}", sign, text, kUnits[unit]);
}

}  // namespace kolvex
