// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/conversion/SizeEstimator.h"
#include "core/conversion/SoundCompression.h"

namespace kolvex::testing {
namespace {

Format sound(const std::string& id, bool lossy) {
    Format format{FormatID(id), FormatCategory::audio, {id}, {}, {}, id};
    format.capabilities = {lossy ? FormatCapability::lossy : FormatCapability::lossless};
    return format;
}

TEST(SoundCompression, ALowerRateWhereItShrinksTheFileElseTheReasonItStays) {
    const Format mp3 = sound("MP3", true);
    // 20 s at 192 kb/s: re-encoded at the compressed rate, weighing what that rate gives.
    const auto shrinks = SoundCompression::plan(mp3, 0.6, 20.0, 192000, 482000);
    ASSERT_FALSE(shrinks.leftAsItIs());
    EXPECT_EQ(shrinks.bitrate, SizeEstimator::compressedAudioBitrate(0.6, 192000));
    EXPECT_EQ(shrinks.expectedBytes, SizeEstimator::estimatedMediaSize(20.0, 0, *shrinks.bitrate));
    EXPECT_LT(*shrinks.expectedBytes, 482000);

    struct Row {
        const char* what;
        SoundCompression plan;
    };
    const Row kept[] = {
        {"lossless", SoundCompression::plan(sound("FLAC", false), 0.6, 20.0, 900000, 2250000)},
        {"at the floor already", SoundCompression::plan(mp3, 0.6, 20.0, 32000, 80000)},
        {"no length", SoundCompression::plan(mp3, 0.6, std::nullopt, 192000, 482000)},
        // A stream stating no rate, in a file smaller than the usual rate's re-encode.
        {"smaller than the estimate", SoundCompression::plan(mp3, 1.0, 20.0, std::nullopt, 50000)},
    };
    for (const auto& row : kept) {
        EXPECT_TRUE(row.plan.leftAsItIs()) << row.what;
        EXPECT_TRUE(row.plan.reason.starts_with("Left as it is: ")) << row.what;
        EXPECT_FALSE(row.plan.bitrate) << row.what;
    }
    EXPECT_EQ(kept[0].plan.expectedBytes, 2250000) << "a kept file weighs what it does";
}

}  // namespace
}  // namespace kolvex::testing
