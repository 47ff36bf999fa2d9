#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/format/ConversionJob.h"

namespace kolvex::testing {

// Audio inputs made with the ffmpeg program and outputs read back with ffprobe.
struct AudioFixtures {
    // False (with a message for GTEST_SKIP) when ffmpeg or ffprobe is missing.
    static bool available(std::string* why);

    // Runs ffmpeg with `-v error -y -f lavfi -i sine=…` plus `extra` arguments, writing `out`.
    // Returns false when ffmpeg failed.
    static bool makeSine(const std::filesystem::path& out, double seconds = 0.5, int sampleRate = 44100,
                         const std::vector<std::string>& extra = {});

    // ffprobe's JSON report of streams and format; null when ffprobe could not read the file.
    static nlohmann::json probe(const std::filesystem::path& file);

    static Format format(const std::string& id);
    static ConversionJob job(const std::filesystem::path& source, const std::string& from,
                             const std::filesystem::path& destination, const std::string& to,
                             ConversionOptions options = ConversionOptions::defaults());
};

}  // namespace kolvex::testing
