// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kolvex::testing {

// Tiny media made at test time with ffmpeg's lavfi sources (testsrc2 picture, sine tone).
struct ClipSpec {
    double seconds = 0.5;
    int width = 64;
    int height = 48;
    int framesPerSecond = 10;
    bool video = true;
    bool audio = true;
    // Encoder arguments placed before the destination ("-c:v", "libx264", …); ffmpeg picks
    // the container's defaults when empty.
    std::vector<std::string> codecArguments;
};

// True when the ffmpeg and ffprobe programs are installed.
bool haveFFmpeg();
// The installed programs (Debian's).
std::filesystem::path systemFFmpeg();
std::filesystem::path systemFFprobe();

// Writes a clip to `destination` and returns it; throws std::runtime_error with ffmpeg's message
// when ffmpeg fails.
std::filesystem::path makeClip(const std::filesystem::path& destination, const ClipSpec& clipSpec = {});

// Runs the system ffmpeg with `arguments` (after "-nostdin -loglevel error -y") and `destination`
// last; throws std::runtime_error with ffmpeg's message when it fails.
std::filesystem::path makeMedia(const std::filesystem::path& destination, const std::vector<std::string>& arguments);

// ffprobe's answer to one entry ("stream=codec_name", "format=duration", …) for a file, one value
// per line as ffprobe prints them with "-of csv=p=0".
std::string probeEntry(const std::filesystem::path& file, const std::string& entry, const std::string& streams = "");

}  // namespace kolvex::testing

// Skips the current test when ffmpeg is not installed.
#define KOLVEX_REQUIRE_FFMPEG()                                                        \
    do {                                                                               \
        if (!::kolvex::testing::haveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed"; \
    } while (false)
