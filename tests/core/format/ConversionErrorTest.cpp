// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/format/ConversionError.h"

namespace kolvex {
namespace {

TEST(ConversionError, TextsDetailsAndRetryFlags) {
    struct Row {
        ConversionError error;
        std::string text;
        std::optional<std::string> detail;
        bool retryable;
    };
    const Row rows[] = {
        {ConversionError::unsupportedCodec("prores"), "Kolvex can't read the prores codec", std::nullopt, false},
        {ConversionError::unsupportedCodec(""), "Kolvex can't read the  codec", std::nullopt, false},
        {ConversionError::corruptedInput("/home/a/Movies/clip.mov"), "clip.mov appears to be damaged",
         "/home/a/Movies/clip.mov", false},
        {ConversionError::insufficientPermissions("/home/a/Out/photo.png"), "No permission to write to Out",
         "/home/a/Out/photo.png", true},
        {ConversionError::insufficientDiskSpace(12'000'000, 1'500'000), "Needs 12 MB, only 1.5 MB free", std::nullopt,
         true},
        {ConversionError::backendFailure("ffmpeg", -1, "x"), "Conversion failed", "ffmpeg: x", false},
        {ConversionError::backendFailure("image", -1, ""), "Conversion failed", "image failed", false},
        {ConversionError::backendFailure("archive", 2, ""), "Conversion failed", "archive exited 2\n\n", false},
        {ConversionError::unsupportedCombination("heic", "docx"), "Can't convert heic to docx", std::nullopt, false},
        {ConversionError::outputNameUnavailable("/home/a/Out/photo.png"),
         "Couldn't find a free name near photo.png", std::nullopt, false},
        {ConversionError::cancelled(), "Cancelled", std::nullopt, true},
        // Circumstances that share a case but not its text.
        {ConversionError::unreadableInput("/home/a/clip.mov"), "Can't read clip.mov", "/home/a/clip.mov", false},
        {ConversionError::passwordProtected("/home/a/doc.pdf"), "doc.pdf is password-protected", "/home/a/doc.pdf",
         false},
        {ConversionError::inputTooLarge("/home/a/huge.png"), "huge.png is too large to open", "/home/a/huge.png", false},
        {ConversionError::unsafeArchiveEntry("/home/a/x.zip"), "x.zip has an unsafe entry", "/home/a/x.zip", false},
        {ConversionError::outputFolderMissing("/home/a/Out/photo.png"), "The folder Out no longer exists",
         "/home/a/Out/photo.png", true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.error.shortDescription(), row.text);
        EXPECT_EQ(std::string(row.error.what()), row.text);
        EXPECT_EQ(row.error.diagnosticDetail(), row.detail) << row.text;
        EXPECT_EQ(row.error.isRetryable(), row.retryable) << row.text;
    }
}

TEST(ConversionError, EqualityComparesCaseAndPayload) {
    EXPECT_NE(ConversionError::backendFailure("ffmpeg", 1, "x"), ConversionError::backendFailure("ffmpeg", 2, "x"));
    EXPECT_EQ(ConversionError::insufficientPermissions("/a/b"), ConversionError::insufficientPermissions("/a/b"));
    EXPECT_EQ(ConversionError::cancelled(), ConversionError::cancelled());
    EXPECT_NE(ConversionError::cancelled(), ConversionError::corruptedInput("/a"));
    EXPECT_NE(ConversionError::corruptedInput("/a"), ConversionError::outputNameUnavailable("/a"));
    EXPECT_NE(ConversionError::corruptedInput("/a"), ConversionError::passwordProtected("/a"));
    EXPECT_EQ(ConversionError::passwordProtected("/a").kind(), ConversionError::Kind::corruptedInput);
}

}  // namespace
}  // namespace kolvex
