// SPDX-License-Identifier: GPL-3.0-or-later
// Where a bare AAC file's sound ends, against the samples it was made from.
#include "core/ffmpeg/BareAacEnd.h"

#include <gtest/gtest.h>

#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

constexpr double kFrame = 1024.0 / 44100;  // also the encoder's delay
constexpr double kSeconds = 1.01;

TEST(BareAacEnd, EndsWhereTheSoundDoesNotWhereThePaddingDoes) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const auto tone = dir / "tone.aac";
    testing::makeMedia(tone, {"-f", "lavfi", "-i", "sine=frequency=1000:sample_rate=44100:duration=1.01", "-c:a", "aac"});
    const auto end = BareAacEnd::read(tone);
    ASSERT_TRUE(end);
    EXPECT_NEAR(*end, kFrame + kSeconds, 0.002);

    // A file that ends in silence of its own keeps it, all but its last frame.
    const auto quiet = dir / "quiet.aac";
    testing::makeMedia(quiet, {"-f", "lavfi", "-i", "aevalsrc='if(lt(t\\,0.5)\\,0.3*sin(2*PI*1000*t)\\,0)':s=44100:d=1.01",
                               "-c:a", "aac"});
    const auto quietEnd = BareAacEnd::read(quiet);
    ASSERT_TRUE(quietEnd);
    EXPECT_GE(*quietEnd, kSeconds - 1e-3);
    EXPECT_LE(*quietEnd, kFrame + kSeconds + 1e-3);

    // What holds no AAC has no such end.
    const auto wav = dir / "pcm.wav";
    testing::makeMedia(wav, {"-f", "lavfi", "-i", "sine=duration=0.2"});
    EXPECT_FALSE(BareAacEnd::read(wav));
}

}  // namespace
}  // namespace kolvex
