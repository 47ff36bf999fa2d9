// SPDX-License-Identifier: GPL-3.0-or-later
#include <sys/statvfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "core/format/ConversionError.h"
#include "core/services/FileManagerService.h"
#include "support/FixedCapacityFiles.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

size_t entryCount(const fs::path& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(FileManagerService, EnsureWritableCreatesMissingFoldersAndLeavesNoProbe) {
    TempDir dir;
    const auto destination = dir / "a/b/c/out.png";
    FileManagerService::shared().ensureWritable(destination);
    EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
    EXPECT_EQ(entryCount(dir / "a/b/c"), 0u);
    EXPECT_FALSE(fs::exists(destination));
}

TEST(FileManagerService, UnwritableFolderNamesTheFileNotTheFolder) {
    // Even root cannot create files in /proc.
    const fs::path destination = "/proc/kolvex-output.png";
    ASSERT_FALSE(FileManagerService::shared().canWrite("/proc"));
    try {
        FileManagerService::shared().ensureWritable(destination);
        FAIL() << "expected insufficientPermissions";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::insufficientPermissions);
        EXPECT_EQ(error.url(), destination);
        EXPECT_EQ(error.shortDescription(), "No permission to write to proc");
    }
}

TEST(FileManagerService, FolderThatCannotBeCreatedIsAFileSystemError) {
    TempDir dir;
    dir.write("blocker", "a file where a folder should be");
    EXPECT_THROW(FileManagerService::shared().ensureWritable(dir / "blocker/sub/out.png"), fs::filesystem_error);
}

TEST(FileManagerService, CanWriteLeavesTheFolderAsItWas) {
    TempDir dir;
    dir.write("keep.txt", "x");
    EXPECT_TRUE(FileManagerService::shared().canWrite(dir.path()));
    EXPECT_EQ(entryCount(dir.path()), 1u);
    EXPECT_FALSE(FileManagerService::shared().canWrite(dir / "missing"));
}

TEST(FileManagerService, Sizes) {
    TempDir dir;
    const auto& files = FileManagerService::shared();
    EXPECT_EQ(files.size(dir.write("ten.bin", "0123456789")), 10);
    EXPECT_EQ(files.size(dir.write("empty.bin", "")), 0);
    EXPECT_FALSE(files.size(dir / "missing.bin"));
    struct stat info {};
    ASSERT_EQ(::stat(dir.path().c_str(), &info), 0);
    EXPECT_EQ(files.size(dir.path()), static_cast<int64_t>(info.st_size));  // the folder's own size
}

TEST(FileManagerService, AvailableCapacityLooksAtTheRightFolder) {
    TempDir dir;
    const auto& files = FileManagerService::shared();
    struct statvfs info {};
    ASSERT_EQ(::statvfs(dir.path().c_str(), &info), 0);
    const auto expected = static_cast<int64_t>(info.f_bavail * info.f_frsize);
    const auto forFile = files.availableCapacity(dir / "not-yet-written.png");
    const auto forFolder = files.availableCapacity(dir.path().string() + "/");
    ASSERT_TRUE(forFile && forFolder);
    // Other programs write meanwhile: allow some slack.
    EXPECT_NEAR(static_cast<double>(*forFile), static_cast<double>(expected), 64.0 * 1024 * 1024);
    EXPECT_NEAR(static_cast<double>(*forFolder), static_cast<double>(expected), 64.0 * 1024 * 1024);
    // A directory path without the slash names a file inside its parent; a missing folder is unknown.
    EXPECT_FALSE(files.availableCapacity(dir / "missing/sub/"));
    EXPECT_FALSE(files.availableCapacity(dir / "missing/out.png"));
}

TEST(FileManagerService, EnsureCapacity) {
    EXPECT_NO_THROW(testing::FixedCapacityFiles(100).ensureCapacity(100, "/x/y"));
    EXPECT_NO_THROW(testing::FixedCapacityFiles(std::nullopt).ensureCapacity(1'000'000, "/x/y"));
    try {
        testing::FixedCapacityFiles(99).ensureCapacity(100, "/x/y");
        FAIL();
    } catch (const ConversionError& error) {
        EXPECT_EQ(error, ConversionError::insufficientDiskSpace(100, 99));
    }
}

}  // namespace
}  // namespace kolvex
