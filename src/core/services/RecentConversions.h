// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kolvex {

class UserDefaults;

// One converted file as the Recent menu lists it.
struct RecentConversion {
    using Clock = std::chrono::system_clock;

    std::string outputPath;  // the converted file
    std::string sourceName;  // the name of the file it was made from
    Clock::time_point date;  // when it was recorded

    RecentConversion() = default;
    RecentConversion(const std::filesystem::path& output, const std::filesystem::path& source, Clock::time_point date);

    const std::string& id() const { return outputPath; }
    std::filesystem::path url() const { return outputPath; }
    // The output's file name, which the menu shows.
    std::string name() const;

    // Seconds since 2001-01-01 00:00:00 UTC, the stored form of dates.
    static double referenceSeconds(Clock::time_point date);
    static Clock::time_point fromReferenceSeconds(double seconds);

    bool operator==(const RecentConversion&) const = default;
};

// The last ten converted files, newest first, stored as JSON data under
// "KolvexRecentConversions". Stateless; the caller (the GUI thread) never overlaps calls.
struct RecentConversionsStore {
    static constexpr const char* kKey = "KolvexRecentConversions";
    static constexpr std::size_t limit = 10;

    // The stored records whose outputs still exist; empty when nothing readable is stored.
    static std::vector<RecentConversion> load(const UserDefaults& defaults);
    // Puts `records` (newest first) before the stored ones, one record per output, at most `limit`.
    static void record(const std::vector<RecentConversion>& records, UserDefaults& defaults);
    static void clear(UserDefaults& defaults);
};

}  // namespace kolvex
