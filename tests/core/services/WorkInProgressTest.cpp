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

}  // namespace
}  // namespace kolvex
