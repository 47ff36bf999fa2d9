#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "core/services/StagedOutput.h"
#include "core/services/Uuid.h"
#include "core/services/WorkInProgress.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Runs `body` in a child process that is then killed with SIGKILL, as a crash would.
template <class Body>
void inKilledProcess(Body body) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
}

TEST(WorkInProgress, SweepsExactlyWhatAKilledRunLeft) {
    TempDir user;
    TempDir scratch;
    const fs::path root = scratch / "Kolvex";
    // What is not ours, though it looks like it, stays.
    const fs::path lookalike = user.write(".photo.kolvex-0000.png", "not recorded");
    const fs::path finished = user.write("photo.png", "a finished output");

    inKilledProcess([&] {
        WorkInProgress record(root);
        // A file half written, a folder half filled (read-only inside, as archives make them),
        // and one committed output whose record is gone with the commit.
        StagedOutput file(user / "clip.mp4", StagedOutput::Kind::file, FileManagerService::shared(), record);
        std::ofstream(file.path()) << "half";
        StagedOutput folder(user / "unpacked", StagedOutput::Kind::folder, FileManagerService::shared(), record);
        fs::create_directories(folder.path() / "deep");
        std::ofstream(folder.path() / "deep" / "entry") << "x";
        fs::permissions(folder.path() / "deep", fs::perms::owner_read | fs::perms::owner_exec);
        StagedOutput done(user / "done.txt", StagedOutput::Kind::file, FileManagerService::shared(), record);
        done.write("done");
        done.commit();
        // A scratch folder under the root.
        const fs::path scratchFolder = root / Uuid::random().toString();
        const auto recorded = record.add(scratchFolder);
        fs::create_directories(scratchFolder / "work");
        std::ofstream(user / "ready") << "1";
        ::raise(SIGKILL);  // before any destructor runs
    });
    ASSERT_TRUE(fs::exists(user / "ready"));
    fs::remove(user / "ready");
    EXPECT_EQ(std::distance(fs::directory_iterator(user.path()), {}), 5);

    // A live run's work in progress is not touched.
    WorkInProgress live(root);
    StagedOutput running(user / "running.txt", StagedOutput::Kind::file, FileManagerService::shared(), live);
    running.write("still going");

    EXPECT_EQ(WorkInProgress(root).sweep(), 3);
    for (const auto& entry : fs::directory_iterator(root)) {
        EXPECT_TRUE(entry.path().filename().string().starts_with(".")) << "scratch folder left: " << entry.path();
    }
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(user.path())) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected{running.path().filename().string(), lookalike.filename().string(), "done.txt",
                                      "photo.png"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
    EXPECT_EQ(testing::readFile(finished), "a finished output");
    EXPECT_EQ(WorkInProgress(root).sweep(), 0) << "the dead run's record went with its items";
}

// The record's folders under the root: one per process that has work in progress.
std::vector<fs::path> recordFolders(const fs::path& root) {
    std::vector<fs::path> folders;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root / ".in-progress", ec)) folders.push_back(entry.path());
    return folders;
}

TEST(WorkInProgress, SettlesItsRecordOnceNothingIsOpen) {
    TempDir user;
    TempDir scratch;
    const fs::path root = scratch / "Kolvex";
    WorkInProgress record(root);
    {
        StagedOutput output(user / "a.txt", StagedOutput::Kind::file, FileManagerService::shared(), record);
        output.write("a");
        record.settle();  // open: the record stays, and stays this live process's
        ASSERT_EQ(recordFolders(root).size(), 1u);
        EXPECT_EQ(WorkInProgress(root).sweep(), 0);
        EXPECT_TRUE(fs::exists(output.path()));
        output.commit();
    }
    record.settle();
    EXPECT_TRUE(recordFolders(root).empty());
    EXPECT_EQ(testing::readFile(user / "a.txt"), "a");

    // Work after a settle is recorded again, and a kill still leaves it to the next sweep.
    inKilledProcess([&] {
        StagedOutput output(user / "b.txt", StagedOutput::Kind::file, FileManagerService::shared(), record);
        output.write("b");
        ::raise(SIGKILL);
    });
    EXPECT_EQ(WorkInProgress(root).sweep(), 1);
    EXPECT_FALSE(fs::exists(user / "b.txt"));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(user.path())) left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"a.txt"});
}

// Ending with an entry open leaves it for the sweep; ending with none leaves nothing.
TEST(WorkInProgress, EndsWithoutReadingItsRecord) {
    TempDir scratch;
    const fs::path root = scratch / "Kolvex";
    {
        WorkInProgress record(root);
        auto entry = record.add(root / Uuid::random().toString());
        entry.drop();
    }
    EXPECT_TRUE(recordFolders(root).empty());
    WorkInProgress::Entry outlives;
    {
        WorkInProgress record(root);
        outlives = record.add(root / Uuid::random().toString());
    }
    EXPECT_EQ(recordFolders(root).size(), 1u);
    outlives.drop();  // after its record is gone: harmless
    EXPECT_EQ(WorkInProgress(root).sweep(), 0);
    EXPECT_TRUE(recordFolders(root).empty());
}

}  // namespace
}  // namespace kolvex
