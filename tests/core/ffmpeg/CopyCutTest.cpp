// SPDX-License-Identifier: GPL-3.0-or-later
// Where a stream copy can start and end a cut, planned from a packet list like x264's with two
// B-frames: I0 P3 B1 B2 P6 B4 B5 … in decode order, a keyframe every second at 25 pictures a second.
#include <cmath>

#include <gtest/gtest.h>

#include "core/ffmpeg/CopyCut.h"

namespace kolvex {
namespace {

constexpr double kFrame = 0.04;

// Two seconds of pictures (and the next keyframe), decoded two pictures ahead of their times.
StreamCopyCuts bFrameStream(double offset = 0) {
    StreamCopyCuts cuts;
    std::vector<double> keyframes;
    for (int group = 0; group < 3; ++group) {
        const int first = group * 25;
        // Presentation numbers in decode order: the keyframe, then P before the two B it carries.
        std::vector<int> order = {first};
        for (int p = first + 3; p < first + 25; p += 3) order.insert(order.end(), {p, p - 2, p - 1});
        for (size_t i = 0; i < order.size(); ++i) {
            const double time = offset + order[i] * kFrame;
            const double decode = offset + (first + int(i) - 2) * kFrame;
            cuts.pictures.push_back({time, decode, i == 0});
        }
        keyframes.push_back(offset + first * kFrame);
    }
    cuts.keyframes = KeyframeIndex(keyframes);
    cuts.decodeDelay = 2 * kFrame;
    return cuts;
}

TEST(CopyCut, StartsOnTheKeyframeWithinTheTolerance) {
    const StreamCopyCuts cuts = bFrameStream(0.021);
    struct Case {
        double start;
        bool copied;
    };
    for (const Case c : {Case{1.021, true}, Case{1.04, true}, Case{1.002, true}, Case{1.05, false}, Case{1.5, false}}) {
        SCOPED_TRACE(c.start);
        const auto cut = CopyCut::plan(cuts, c.start, std::nullopt, 1024.0 / 44100);
        ASSERT_EQ(cut.has_value(), c.copied);
        if (!cut) continue;
        EXPECT_DOUBLE_EQ(cut->start, 1.021);
        // A sound frame before the keyframe, in whole milliseconds, after the keyframe before it.
        ASSERT_TRUE(cut->seek);
        EXPECT_DOUBLE_EQ(*cut->seek, 0.997);
        EXPECT_FALSE(cut->pictureEnd);
        EXPECT_EQ(cut->pictures, 50);
    }
    // From the very start: no seek at all.
    const auto whole = CopyCut::plan(cuts, 0.01, std::nullopt);
    ASSERT_TRUE(whole);
    EXPECT_FALSE(whole->seek);
    EXPECT_EQ(whole->pictures, 75);
}

// A copy ends in decode order: only where every picture before the end is decoded before every
// picture after it, and then between the two in decode time.
TEST(CopyCut, EndsOnlyWhereDecodeOrderAllows) {
    const StreamCopyCuts cuts = bFrameStream();
    struct Case {
        double end;
        std::optional<int64_t> pictures;  // none: no exact copy
    };
    // One picture: its stop on the decode clock lies before the seek point, where no copy stops.
    for (const Case c : {Case{2.0, 25}, Case{1.12, std::nullopt}, Case{1.08, std::nullopt}, Case{1.16, 4},
                         Case{1.28, 7}, Case{5.0, 50}, Case{1.04, std::nullopt}}) {
        SCOPED_TRACE(c.end);
        const auto cut = CopyCut::plan(cuts, 1.0, c.end);
        ASSERT_EQ(cut.has_value(), c.pictures.has_value());
        if (!cut) continue;
        EXPECT_EQ(cut->pictures, *c.pictures);
        if (c.end > 3) {
            EXPECT_FALSE(cut->pictureEnd);
            continue;
        }
        // The last picture kept and the first left out, in decode order, lie either side.
        ASSERT_TRUE(cut->pictureEnd);
        const size_t first = 25;
        const auto& kept = cuts.pictures[first + size_t(*c.pictures) - 1];
        const auto& left = cuts.pictures[first + size_t(*c.pictures)];
        EXPECT_GT(*cut->pictureEnd, *kept.decodeTime);
        EXPECT_LE(*cut->pictureEnd, *left.decodeTime);
    }
}

// Without B-frames across the end, the asked end itself stops the pictures: the plan ends them
// there, so one reading of the file serves pictures and sound alike.
TEST(CopyCut, AnEndNoBFrameCrossesStopsThePicturesItself) {
    StreamCopyCuts cuts;
    std::vector<double> keyframes;
    for (int n = 0; n < 75; ++n) {
        cuts.pictures.push_back({n * kFrame, n * kFrame, n % 25 == 0});
        if (n % 25 == 0) keyframes.push_back(n * kFrame);
    }
    cuts.keyframes = KeyframeIndex(keyframes);
    for (const double end : {2.0, 1.5, 1.53}) {
        SCOPED_TRACE(end);
        const auto cut = CopyCut::plan(cuts, 1.0, end, 1024.0 / 44100);
        ASSERT_TRUE(cut);
        ASSERT_TRUE(cut->pictureEnd);
        EXPECT_DOUBLE_EQ(*cut->pictureEnd, end);
        EXPECT_EQ(cut->pictures, static_cast<int64_t>(std::ceil(end / kFrame - 1e-9)) - 25);
    }
    // With B-frames the pictures stop earlier than the sound, on their decode clock.
    const auto crossed = CopyCut::plan(bFrameStream(), 1.0, 1.12 + kFrame, 1024.0 / 44100);
    ASSERT_TRUE(crossed);
    ASSERT_TRUE(crossed->pictureEnd);
    EXPECT_LT(*crossed->pictureEnd, 1.12 + kFrame);
}

// An AVI's clock counts whole pictures from the one its seek rounds onto: the read's length
// counts from the keyframe, and whether it alone ends the pictures is known to the microsecond,
// whatever sums of seconds would round to.
TEST(CopyCut, AnAviClockEndsThePicturesByTheReadWhereItCan) {
    const auto stream = [](int64_t num, int64_t den, int first, int count, int every) {
        StreamCopyCuts cuts;
        std::vector<double> keyframes;
        for (int n = first; n < first + count; ++n) {
            const double time = std::round(double(n) * 1e6 * double(num) / double(den)) / 1e6;
            const bool key = (n - first) % every == 0;
            cuts.pictures.push_back({time, time, key});
            if (key) keyframes.push_back(time);
        }
        cuts.keyframes = KeyframeIndex(keyframes);
        return cuts;
    };
    // 25 pictures a second, 30 s from a keyframe at 300.2 s: the seek lands 11 ms before it, and
    // 300.189 + 30.011 sums past 330.2 in doubles.
    const CopyCut::Clock pal{1, 25};
    const auto at25 = CopyCut::plan(stream(1, 25, 7405, 1000, 50), 300.2, 330.2, 0.01, pal);
    ASSERT_TRUE(at25);
    ASSERT_TRUE(at25->seek);
    EXPECT_DOUBLE_EQ(*at25->seek, 300.189);
    EXPECT_EQ(at25->pictures, 750);
    EXPECT_FALSE(at25->countsPictures);
    EXPECT_EQ(at25->readMilliseconds(330.2), 30000);
    // At 29.97 the read's whole milliseconds fall either side of the picture at the end: where
    // they fall past it, the pictures are counted.
    const CopyCut::Clock ntsc{1001, 30000};
    const StreamCopyCuts at2997 = stream(1001, 30000, 0, 600, 15);
    struct Case {
        int last;  // the first picture left out
        bool counted;
    };
    // 37 pictures: 1.234567 s, read as 1.235 s; 30: 1.001 s exactly; 31: 1.034367 s, read as 1.034 s.
    for (const Case c : {Case{337, true}, Case{330, false}, Case{331, false}}) {
        SCOPED_TRACE(c.last);
        const double end = at2997.pictures[size_t(c.last)].time;
        const auto cut = CopyCut::plan(at2997, at2997.pictures[300].time, end, 0.008, ntsc);
        ASSERT_TRUE(cut);
        EXPECT_EQ(cut->pictures, c.last - 300);
        EXPECT_EQ(cut->countsPictures, c.counted);
    }
    // A read that would stop a picture of the span holds no copy of it: a picture 0.12 ms before
    // the end, the read (1.034487 s) rounded down to 1.034 s, before it.
    const double before = at2997.pictures[331].time + 0.00012;
    EXPECT_FALSE(CopyCut::plan(at2997, at2997.pictures[300].time, before, 0.008, ntsc));
}

TEST(CopyCut, NoCopyWithoutPicturesOrAnOpenGroup) {
    EXPECT_FALSE(CopyCut::plan(StreamCopyCuts(), 1.0, 2.0));
    StreamCopyCuts open = bFrameStream();
    // A picture after the second keyframe in decode order that shows before it.
    open.pictures[26].time = 0.96;
    EXPECT_FALSE(CopyCut::plan(open, 1.0, 2.0));
}

TEST(CopyCut, SoundFramesByCodec) {
    EXPECT_DOUBLE_EQ(CopyCut::soundFrame("aac", 48000), 1024.0 / 48000);
    EXPECT_DOUBLE_EQ(CopyCut::soundFrame("mp3", 44100), 1152.0 / 44100);
    EXPECT_DOUBLE_EQ(CopyCut::soundFrame("opus", 48000), 0.02);
    EXPECT_DOUBLE_EQ(CopyCut::soundFrame(std::nullopt, std::nullopt), 0);
    EXPECT_DOUBLE_EQ(CopyCut::soundFrame("aac", std::nullopt), 0.025);
}

}  // namespace
}  // namespace kolvex
