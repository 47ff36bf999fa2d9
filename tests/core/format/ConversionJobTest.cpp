// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/format/ConversionJob.h"

namespace kolvex {
namespace {

ConversionJob makeJob(ConversionOptions options, bool passthroughPossible = true) {
    Format mp4{FormatID("mp4"), FormatCategory::video, {"mp4"}, {"video/mp4"}, {}, "MP4"};
    Format mkv{FormatID("mkv"), FormatCategory::video, {"mkv"}, {"video/x-matroska"}, {}, "MKV"};
    ConversionCapability cap{mp4.id, mkv.id, engine_ids::ffmpeg, ConversionCost::subprocess, passthroughPossible};
    return ConversionJob("/in/a.mp4", {}, "/out/a.mkv", mp4, mkv, cap, std::move(options));
}

TEST(ConversionOptions, DefaultsAndRotation) {
    ConversionOptions built;
    built.preserveMetadata = true;
    built.allowPassthrough = true;
    EXPECT_EQ(ConversionOptions::defaults(), built);
    built.allowPassthrough = false;
    EXPECT_NE(ConversionOptions::defaults(), built);

    const std::pair<std::optional<double>, double> rows[] = {
        {std::nullopt, 0}, {-90.0, 270}, {450.0, 90}, {360.0, 0}, {-720.0, 0}, {45.5, 45.5}};
    for (auto [rotation, expected] : rows) {
        ConversionOptions o;
        o.rotation = rotation;
        EXPECT_DOUBLE_EQ(o.rotationDegrees(), expected);
    }
}

TEST(ConversionJob, PassthroughAndContentRules) {
    ConversionOptions trim = ConversionOptions::defaults();
    trim.tool = "trim";
    trim.trimEnd = 3;
    EXPECT_TRUE(makeJob(trim).canPassthrough());
    EXPECT_TRUE(makeJob(trim).isTrim());
    EXPECT_FALSE(makeJob(trim, false).canPassthrough());

    ConversionOptions resize = ConversionOptions::defaults();
    resize.tool = "resize";
    EXPECT_FALSE(makeJob(resize).canPassthrough());
    EXPECT_TRUE(makeJob(resize).changesContent());

    ConversionOptions plain = ConversionOptions::defaults();
    EXPECT_TRUE(makeJob(plain).canPassthrough());
    plain.quality = 0.5;
    EXPECT_FALSE(makeJob(plain).canPassthrough());
    EXPECT_TRUE(makeJob(plain).changesContent());
    // The same settings as the preferences' defaults for a re-encode do not ask for one.
    plain.encodeSettingsFromPreferences = true;
    plain.audioBitrate = 192000;
    EXPECT_TRUE(makeJob(plain).canPassthrough());
    EXPECT_FALSE(makeJob(plain).changesContent());

    ConversionOptions strip = ConversionOptions::defaults();
    strip.tool = "strip-metadata";
    EXPECT_FALSE(makeJob(strip).changesContent());
    strip.allowPassthrough = false;
    EXPECT_FALSE(makeJob(strip).canPassthrough());

    EXPECT_NE(makeJob(plain).id, makeJob(plain).id);
}

TEST(ConversionResult, SucceedsOnlyWithOutputsAndNoError) {
    ConversionResult r{Uuid::random(), "/a", {"/b", "/c"}, std::nullopt, 1.0, false, std::nullopt};
    EXPECT_TRUE(r.succeeded());
    EXPECT_TRUE(r.producedMultipleFiles());
    EXPECT_EQ(r.output(), std::filesystem::path("/b"));
    r.error = ConversionError::cancelled();
    EXPECT_FALSE(r.succeeded());
    ConversionResult empty{Uuid::random(), "/a", {}, std::nullopt, 0, false, std::nullopt};
    EXPECT_FALSE(empty.succeeded());
    EXPECT_FALSE(empty.output());
}

}  // namespace
}  // namespace kolvex
