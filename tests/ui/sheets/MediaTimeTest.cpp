// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>

#include "ui/sheets/MediaTime.h"

namespace kolvex {
namespace {

TEST(MediaTimeTest, FormatsWholeMinutesAndHundredths) {
    const std::vector<std::pair<double, std::string>> cases{
        {75.5, "1:15.50"}, {5, "0:05.00"},   {3725, "62:05.00"}, {-3, "0:00.00"},
        {0, "0:00.00"},    {59.999, "1:00.00"}, {0.2, "0:00.20"}, {NAN, "0:00.00"},
    };
    for (const auto& [seconds, text] : cases) EXPECT_EQ(MediaTime::format(seconds), text) << seconds;
}

TEST(MediaTimeTest, ReadsSecondsMinutesAndHours) {
    const std::vector<std::pair<std::string, std::optional<double>>> cases{
        {"90", 90},         {"1:30", 90},     {"0:1:30", 90},  {" 1:30\t", 90}, {"1:75", 135},
        {"1.5", 1.5},       {"2:03.25", 123.25},
        {"1.5:00", std::nullopt}, {"::", std::nullopt}, {"1:2:3:4", std::nullopt}, {"-5", std::nullopt},
        {"", std::nullopt},  {"  ", std::nullopt}, {"1: 30", std::nullopt}, {"abc", std::nullopt},
        {"1:", std::nullopt}, {"nan", std::nullopt}, {"inf", std::nullopt}, {"1,5", std::nullopt},
        {"0:1.5:00", std::nullopt},
    };
    for (const auto& [text, seconds] : cases) {
        const auto parsed = MediaTime::parse(text);
        ASSERT_EQ(parsed.has_value(), seconds.has_value()) << "'" << text << "'";
        if (seconds) {
            EXPECT_DOUBLE_EQ(*parsed, *seconds) << text;
        }
    }
}

TEST(MediaTimeTest, ClockTextOfADuration) {
    EXPECT_EQ(MediaTime::clock(75), "1:15");
    EXPECT_EQ(MediaTime::clock(59.5), "1:00");
    EXPECT_EQ(MediaTime::clock(205), "3:25");
    EXPECT_EQ(MediaTime::clock(3600), "1:00:00");
    EXPECT_EQ(MediaTime::clock(3725), "1:02:05");
}

}  // namespace
}  // namespace kolvex
