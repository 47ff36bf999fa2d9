#include "core/ffmpeg/KeyframeIndex.h"

#include <gtest/gtest.h>

#include "core/format/ConversionError.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using Times = std::vector<double>;

TEST(KeyframeIndex, ParsesFFprobeOutput) {
    const std::vector<std::pair<std::string, Times>> rows = {
        {"0.000000\n2.002000\n4.004000\n", {0, 2.002, 4.004}},
        {"2.5\n1.0\n", {0, 1, 2.5}},
        {"0.033000,\n", {0, 0.033}},
        {"N/A\n\n  \nwords here\n-1.5\n", {0}},
        {"", {0}},
        {"1.0, 2.0\n", {0}},  // the piece after the comma starts with a blank: not a number
        {"1.0,2.0\n", {0, 2}},
        {" \t3.5\t \r\n4.5\r5.5\x0b" "6.5\x0c" "7.5\xc2\x85" "8.5\xe2\x80\xa8" "9.5\xe2\x80\xa9", {0, 3.5, 4.5, 5.5, 6.5, 7.5, 8.5, 9.5}},
        {"\xc2\xa0" "1.25\xe2\x80\x83\n", {0, 1.25}},  // no-break and em spaces are trimmed too
        {"+2\n1e1\nnan\ninf\n0x10\n2,N/A\n", {0, 2, 10}},
        {"3\n3\n0\n", {0, 3, 3}},  // duplicates stay
    };
    for (const auto& [text, times] : rows) EXPECT_EQ(KeyframeIndex::parse(text).times(), times) << text;
}

TEST(KeyframeIndex, LooksUpNeighbours) {
    const KeyframeIndex two({0, 2});
    EXPECT_EQ(two.nearest(1.0), 0);  // a tie goes to the earlier keyframe
    EXPECT_EQ(KeyframeIndex({0, 1.9}).nearest(1.0), 1.9);
    EXPECT_EQ(KeyframeIndex({0, 1, 1, 1.5}).nearest(2), 1.5);
    EXPECT_EQ(two.nearest(-5), 0);
    EXPECT_EQ(two.nearest(50), 2);
    EXPECT_EQ(two.atOrBefore(-3), 0);
    EXPECT_EQ(two.atOrBefore(2), 2);
    EXPECT_EQ(two.atOrBefore(1.999), 0);
    EXPECT_EQ(two.atOrAfter(2.0001), std::nullopt);
    EXPECT_EQ(two.atOrAfter(2), 2);
    EXPECT_EQ(KeyframeIndex({0, 2, 7, 8}).largestGap(), 5);
    EXPECT_EQ(KeyframeIndex().largestGap(), 0);
    EXPECT_EQ(KeyframeIndex().times(), Times{0});

    const KeyframeIndex three({0, 1, 2});
    EXPECT_FALSE(three.isAllIntra(0));
    EXPECT_TRUE(three.isAllIntra(3));
    EXPECT_FALSE(three.isAllIntra(4));

    // A long video: every lookup agrees with a plain scan.
    Times times;
    for (int i = 0; i < 50'000; ++i) times.push_back(i * 2.0 + (i % 3) * 0.25);
    const KeyframeIndex many(times);
    for (double x : {-1.0, 0.0, 1.0, 1.125, 777.3, 5000.5, 99'999.0, 200'000.0}) {
        double best = many.times().front();
        for (double t : many.times())
            if (std::abs(x - t) < std::abs(x - best)) best = t;
        EXPECT_EQ(many.nearest(x), best) << x;
    }
}

TEST(TrimPlan, DecidesExactCopiesAndSnapping) {
    EXPECT_TRUE(TrimPlan::copyIsExact(0.02, KeyframeIndex({0, 10})));
    EXPECT_TRUE(TrimPlan::copyIsExact(3.0, KeyframeIndex({0, 2.99})));
    EXPECT_FALSE(TrimPlan::copyIsExact(3.0, KeyframeIndex({0, 2.9})));
    EXPECT_TRUE(TrimPlan::requiresReencode(3.0, KeyframeIndex({0, 2.9})));
    EXPECT_TRUE(TrimPlan::copyIsExact(3.0, KeyframeIndex()));
    EXPECT_FALSE(TrimPlan::requiresReencode(3.0, KeyframeIndex()));

    const KeyframeIndex four({0, 4});
    EXPECT_EQ(TrimPlan::magnetised(4.1, four, 0.01, 10), 4);
    EXPECT_EQ(TrimPlan::magnetised(4.1, four, 0.01, 5), 4.1);
    EXPECT_EQ(TrimPlan::magnetised(4.1, four, 0, 10), 4.1);
    EXPECT_EQ(TrimPlan::magnetised(4.1, KeyframeIndex(), 1, 10), 4.1);
    EXPECT_EQ(TrimPlan::copyWouldStart(5, KeyframeIndex({0, 4, 8})), 4);
    EXPECT_EQ(TrimPlan::copyWouldStart(5, KeyframeIndex()), 5);
}

TEST(KeyframeIndex, ReadsKeyframesOfRealClips) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const auto tools = BundledFFmpeg::inBundle();
    // 2 s at 10 fps with a keyframe every 5 frames, and an all-intra clip.
    const auto gop = testing::makeClip(dir / "gop 5.mp4", {.seconds = 2, .audio = false,
                                                           .codecArguments = {"-c:v", "libx264", "-g", "5", "-keyint_min", "5", "-sc_threshold", "0"}});
    const auto intra = testing::makeClip(dir / "intra.mkv", {.seconds = 0.5, .audio = false, .codecArguments = {"-c:v", "mjpeg"}});
    const FFprobeKeyframeReader reader(tools);
    EXPECT_EQ(reader.index(gop).times(), (Times{0, 0.5, 1, 1.5}));
    EXPECT_TRUE(reader.index(intra).isAllIntra(5));

    const auto text = dir.write("text.mp4", "not a video");
    EXPECT_THROW(reader.index(text), ConversionError);
}

}  // namespace
}  // namespace kolvex
