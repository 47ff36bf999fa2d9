// SPDX-License-Identifier: GPL-3.0-or-later
// Trees deeper than the longest path the system takes (an archive of folders in folders, cut
// short by a kill): a killed run's staging folder is swept, a scratch folder goes with its job,
// an orphaned one is reaped, whatever their depth.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "core/services/FileManagerService.h"
#include "core/services/FolderTree.h"
#include "core/services/StagedOutput.h"
#include "core/services/TemporaryFileManager.h"
#include "core/services/UniqueFd.h"
#include "core/services/WorkInProgress.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Builds "dd/dd/…" `levels` deep inside `folder` by descriptors, with a file at the bottom, a
// few on the way and a read-only folder half way. Returns whether it got to the bottom.
bool buildDeepTree(const fs::path& folder, int levels) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int level = 0; fd && level < levels; ++level) {
        if (::mkdirat(fd.get(), "dd", 0700) != 0) return false;
        if (level % 64 == 0) ::close(::openat(fd.get(), "side", O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        UniqueFd down(::openat(fd.get(), "dd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (level == levels / 2) ::fchmod(fd.get(), 0500);
        fd = std::move(down);
    }
    if (!fd) return false;
    ::close(::openat(fd.get(), "leaf", O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    return true;
}

constexpr int kLevels = PATH_MAX / 2;  // three bytes a level: half as long again as the longest path

TEST(DeepTreeRemoval, TreesDeeperThanAnyPathAreRemovedWhereverTheyAreLeft) {
    TempDir user;
    TempDir scratch;
    const fs::path root = scratch / "Kolvex";

    // A staging folder of a run killed while unpacking.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        WorkInProgress record(root);
        StagedOutput folder(user / "unpacked", StagedOutput::Kind::folder, FileManagerService::shared(), record);
        fs::create_directories(folder.path());
        if (!buildDeepTree(folder.path(), kLevels)) ::_exit(1);
        ::raise(SIGKILL);  // before any destructor runs
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the tree could not be built";
    EXPECT_EQ(WorkInProgress(root).sweep(), 1);
    EXPECT_TRUE(fs::is_empty(user.path())) << "the staging folder stayed";

    // A scratch folder, with its job; and one an earlier run left, reaped.
    const TemporaryFileManager temporary(root);
    temporary.withScratchDirectory([](const fs::path& folder) { ASSERT_TRUE(buildDeepTree(folder, kLevels)); });
    const fs::path orphan = root / "00000000-0000-0000-0000-000000000000";
    fs::create_directories(orphan);
    ASSERT_TRUE(buildDeepTree(orphan, kLevels));
    EXPECT_EQ(temporary.reapOrphans(-1), 1);
    for (const auto& entry : fs::directory_iterator(root))
        EXPECT_TRUE(entry.path().filename().string().starts_with(".")) << "left: " << entry.path().filename();

    // A file, a missing item and a link to a folder: the link goes, never what it leads to.
    const fs::path kept = user / "kept";
    fs::create_directories(kept / "inside");
    fs::create_directory_symlink(kept, user / "link");
    EXPECT_TRUE(folder_tree::remove(user / "link"));
    EXPECT_TRUE(fs::exists(kept / "inside"));
    EXPECT_TRUE(folder_tree::remove(user / "missing"));
    EXPECT_TRUE(folder_tree::remove(kept));
    EXPECT_TRUE(fs::is_empty(user.path()));
}

}  // namespace
}  // namespace kolvex
