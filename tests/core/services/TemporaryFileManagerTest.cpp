// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/TemporaryFileManager.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/services/Log.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

TEST(TemporaryFileManager, ScratchFolderLivesOnlyWhileTheBodyRuns) {
    testing::TempDir dir;
    const TemporaryFileManager manager(dir / "missing" / "root");
    fs::path seen;
    const int value = manager.withScratchDirectory([&](const fs::path& scratch) {
        seen = scratch;
        EXPECT_TRUE(fs::is_directory(scratch));
        EXPECT_EQ(scratch.parent_path(), manager.root());
        EXPECT_EQ(scratch.filename().string().size(), 36u);
        return 42;
    });
    EXPECT_EQ(value, 42);
    EXPECT_FALSE(fs::exists(seen));
    struct stat info {};
    ASSERT_EQ(::stat(manager.root().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // A throwing body: the caller sees its error and the folder is gone.
    EXPECT_THROW(manager.withScratchDirectory([&](const fs::path& scratch) {
        seen = scratch;
        std::ofstream(scratch / "partial.bin") << "x";
        throw std::logic_error("body failed");
    }),
                 std::logic_error);
    EXPECT_FALSE(fs::exists(seen));
}

TEST(TemporaryFileManager, DefaultRootIsPrivateToTheUser) {
    testing::TempDir dir;
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    const TemporaryFileManager manager;
    ::unsetenv("TMPDIR");
    EXPECT_EQ(manager.root(), dir / ("Kolvex-" + std::to_string(::geteuid())));
    manager.withScratchDirectory([](const fs::path&) {});
    EXPECT_TRUE(fs::is_directory(manager.root()));
}

TEST(TemporaryFileManager, RefusesAnUnsafeRoot) {
    testing::TempDir dir;
    fs::create_directory(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / "link");
    bool ran = false;
    EXPECT_THROW(TemporaryFileManager(dir / "link").withScratchDirectory([&](const fs::path&) { ran = true; }),
                 fs::filesystem_error);
    dir.write("file", "x");
    EXPECT_THROW(TemporaryFileManager(dir / "file").withScratchDirectory([&](const fs::path&) { ran = true; }),
                 fs::filesystem_error);
    if (::geteuid() == 0) {
        fs::create_directory(dir / "theirs");
        ASSERT_EQ(::chown((dir / "theirs").c_str(), 65534, 65534), 0);
        EXPECT_THROW(TemporaryFileManager(dir / "theirs").withScratchDirectory([&](const fs::path&) { ran = true; }),
                     fs::filesystem_error);
    }
    EXPECT_FALSE(ran);
    // A root of ours left open to others is closed first.
    fs::create_directory(dir / "open");
    fs::permissions(dir / "open", fs::perms::all);
    TemporaryFileManager(dir / "open").withScratchDirectory([](const fs::path&) {});
    EXPECT_EQ(fs::status(dir / "open").permissions(), fs::perms::owner_all);
}

TEST(TemporaryFileManager, ReapsOnlyOldFolders) {
    testing::TempDir dir;
    const TemporaryFileManager manager(dir.path());
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(2);
    for (const char* name : {"old1", "old2", ".hidden-old", "recent"}) fs::create_directories(dir / name / "inner");
    dir.write("old-file", "x");
    for (const char* name : {"old1", "old2", ".hidden-old", "old-file"}) fs::last_write_time(dir / name, old);

    LogCapture log;
    EXPECT_EQ(manager.reapOrphans(3600), 2);
    EXPECT_FALSE(fs::exists(dir / "old1"));
    EXPECT_FALSE(fs::exists(dir / "old2"));
    EXPECT_TRUE(fs::exists(dir / ".hidden-old"));
    EXPECT_TRUE(fs::exists(dir / "recent"));
    EXPECT_TRUE(fs::exists(dir / "old-file"));
    EXPECT_TRUE(log.contains("files", "Reaped 2 orphaned scratch directories"));

    log.clear();
    EXPECT_EQ(TemporaryFileManager(dir / "absent").reapOrphans(3600), 0);
    EXPECT_TRUE(log.entries().empty());
}

TEST(TemporaryFileManager, ReapingNeverLeavesItsRootNorTouchesAnUnsafeOne) {
    testing::TempDir dir;
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(2);
    dir.write("precious/keep.txt", "mine");
    // An orphan holding a link out of the root and a folder made read-only.
    const fs::path root = dir / "root";
    fs::create_directories(root / "orphan" / "locked");
    fs::permissions(root, fs::perms::owner_all);
    dir.write("root/orphan/locked/f", "x");
    fs::permissions(root / "orphan" / "locked", fs::perms(0555));
    fs::create_directory_symlink(dir / "precious", root / "orphan" / "out");
    fs::create_directory_symlink(dir / "precious", root / "linked");
    fs::last_write_time(root / "orphan", old);
    fs::last_write_time(dir / "precious", old);

    EXPECT_EQ(TemporaryFileManager(root).reapOrphans(3600), 1);
    EXPECT_FALSE(fs::exists(fs::symlink_status(root / "orphan")));
    EXPECT_TRUE(fs::is_symlink(root / "linked"));
    EXPECT_EQ(testing::readFile(dir / "precious" / "keep.txt"), "mine");

    // Roots that are not a private folder of ours are left as they are.
    const auto rootWithOrphan = [&](const std::string& name) {
        fs::create_directories(dir / name / "orphan");
        fs::permissions(dir / name, fs::perms::owner_all);
        fs::last_write_time(dir / name / "orphan", old);
        return dir / name;
    };
    const fs::path real = rootWithOrphan("real");
    fs::create_directory_symlink(real, dir / "symlinked");
    const fs::path open = rootWithOrphan("open");
    fs::permissions(open, fs::perms(0755));
    std::vector<fs::path> unsafe{dir / "symlinked", open};
    if (::geteuid() == 0) {
        const fs::path theirs = rootWithOrphan("theirs");
        ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
        unsafe.push_back(theirs);
    }
    for (const auto& candidate : unsafe) {
        EXPECT_EQ(TemporaryFileManager(candidate).reapOrphans(3600), 0) << candidate;
        EXPECT_TRUE(fs::exists(candidate / "orphan")) << candidate;
    }
}

}  // namespace
}  // namespace kolvex
