// SPDX-License-Identifier: GPL-3.0-or-later
// Times read in process agree to the bit with those ffprobe prints (six decimals, read back):
// the keyframes a sheet shows and the cuts a job plans are compared with them.
#include <bit>
#include <charconv>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/ffmpeg/LibavInput.h"

namespace kolvex {
namespace {

double asPrinted(double seconds) {
    const std::string text = fmt::format("{:.6f}", seconds);
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

TEST(PrintedSeconds, ReadsBackAsThePrintedTextDoes) {
    std::vector<double> rows = {0.0, -0.0, 1e-7, -1e-7, 5e-7, -5e-7, 0.5e-6, 1.5e-6, 2.5e-6, 999999.9999995,
                                1e6, -1e6, 1e12, 1e300, INFINITY, -INFINITY};
    // Every packet time of the time bases containers use, over an hour and around a day.
    for (const auto& [num, den] : {std::pair(1, 25), std::pair(1001, 30000), std::pair(1, 90000), std::pair(1, 1000),
                                   std::pair(1, 44100), std::pair(1, 48000), std::pair(1001, 24000), std::pair(1, 14112000)})
        for (const int64_t from : {int64_t(0), int64_t(86400) * den / num - 5000})
            for (int64_t k = from; k < from + 20000; ++k) rows.push_back(double(k * num) / den - 0.011);
    // Halves of a microsecond and their neighbours, where the rounding of the text is decided.
    for (int64_t n = -2000; n < 2000000; n += 997) {
        const double half = (double(n) + 0.5) / 1e6;
        rows.insert(rows.end(), {half, std::nextafter(half, 1e9), std::nextafter(half, -1e9), -half});
    }
    // Any time, from nanoseconds to months, either side of 0.
    std::mt19937_64 random(57);
    std::uniform_real_distribution<double> exponent(-9, 7.5);
    for (int i = 0; i < 200000; ++i) rows.push_back(std::pow(10.0, exponent(random)) * (i % 2 ? 1 : -1));
    for (const double seconds : rows) {
        const double read = LibavInput::printedSeconds(seconds);
        ASSERT_EQ(std::bit_cast<uint64_t>(read), std::bit_cast<uint64_t>(asPrinted(seconds))) << fmt::format("{:.17g}", seconds);
    }
}

}  // namespace
}  // namespace kolvex
