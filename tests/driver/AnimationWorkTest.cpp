// SPDX-License-Identifier: GPL-3.0-or-later
// Animations whose few bytes declare a large screen and many frames: refused before ffmpeg
// starts, naming what they ask for, in a bounded time; a modest one still converts.
#include <cstdint>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

// A GIF with a `width` × `height` screen and `frames` frames of one pixel each, 20 ms apart.
std::string gifOfOnePixelFrames(uint16_t width, uint16_t height, int frames) {
    const auto le16 = [](uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
    std::string gif = "GIF89a" + le16(width) + le16(height) + std::string("\xF0\x00\x00", 3) + std::string("\x00\x00\x00\xFF\xFF\xFF", 6);
    gif += std::string("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    for (int i = 0; i < frames; ++i) {
        gif += std::string("\x21\xF9\x04\x00", 4) + le16(2) + std::string("\x00\x00", 2);
        gif += "\x2C" + le16(static_cast<uint16_t>(i % width)) + le16(0) + le16(1) + le16(1) + std::string("\x00", 1);
        gif += std::string("\x02\x02\x44\x01\x00", 5);
    }
    return gif + "\x3B";
}

struct Animation {
    uint16_t width;
    uint16_t height;
    int frames;
    bool refused;
};

TEST(AnimationWork, AnimationsAskingForTooMuchDrawingAreRefusedBeforeFFmpegRuns) {
    KOLVEX_REQUIRE_FFMPEG();
    const Animation animations[] = {
        {4000, 4000, 5000, true},  // 115 KB asking for 80 billion pixels
        {4000, 4000, 1100, true},  // just past the bound
        {64, 64, 20, false},
    };
    for (const Animation& animation : animations) {
        SCOPED_TRACE(fmt::format("{} × {}, {} frames", animation.width, animation.height, animation.frames));
        testing::TempDir dir;
        const fs::path source = dir.write("in/anim.gif", gifOfOnePixelFrames(animation.width, animation.height, animation.frames));
        const fs::path out = dir / "out";
        fs::create_directory(out);
        // The bound is far beyond a refusal or a small conversion, far below what the work takes.
        const auto result = ProcessRunner().run(KOLVEX_DRIVE, {"--to", "mp4", "--out", out.string(), source.string()},
                                                std::chrono::seconds(60), nullptr, nullptr);
        const std::string said = result.standardOutput();
        if (animation.refused) {
            EXPECT_EQ(result.exitCode, 1) << said;
            EXPECT_NE(said.find(fmt::format("anim.gif asks for {} frames of {} × {} pixels", animation.frames, animation.width,
                                            animation.height)),
                      std::string::npos)
                << said;
            EXPECT_TRUE(fs::is_empty(out)) << "left in the output folder";
        } else {
            EXPECT_EQ(result.exitCode, 0) << said << result.standardError();
            EXPECT_TRUE(fs::exists(out / "anim.mp4"));
        }
    }
}

}  // namespace
}  // namespace kolvex
