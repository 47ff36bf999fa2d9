// SPDX-License-Identifier: GPL-3.0-or-later
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/services/StagedOutput.h"
#include "core/services/StagedOutputSet.h"
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

// Moves items as the system does, and dies right after the `fatal`th move into place: a kill in
// the middle of a set's commit. With `elsewhere`, the last move goes under another name than
// the one asked for, as when the first name was taken meanwhile.
class DyingMover : public FileManagerService {
public:
    DyingMover(int fatal, bool elsewhere) : m_fatal(fatal), m_elsewhere(elsewhere) {}
    int renameNoReplace(const fs::path& from, const fs::path& to) const override {
        const fs::path target = m_elsewhere && m_moves + 1 == m_fatal ? to.parent_path() / ("moved " + to.filename().string()) : to;
        const int error = FileManagerService::renameNoReplace(from, target);
        if (error == 0 && ++m_moves == m_fatal) ::raise(SIGKILL);
        return error;
    }

private:
    int m_fatal;
    bool m_elsewhere;
    mutable int m_moves = 0;
};

std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
}

TEST(WorkInProgress, SweepTakesBackASetWhoseCommitAKillCutShort) {
    enum class Staging { filesBesideTheirNames, oneFolder, folders };
    struct Case {
        const char* name;
        Staging staging;
        int fatalMove;
        bool elsewhere;
    };
    const Case cases[] = {
        {"pages staged beside their names", Staging::filesBesideTheirNames, 3, false},
        {"parts staged in one folder", Staging::oneFolder, 4, false},
        {"part moved under another name", Staging::oneFolder, 2, true},
        {"extracted folders", Staging::folders, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir user;
        TempDir scratch;
        const fs::path root = scratch / "Kolvex";
        user.write("book.pdf", "the source");
        // A part that someone else replaces before the sweep stays theirs.
        const fs::path theirs = user / "book-2.txt";
        inKilledProcess([&] {
            WorkInProgress record(root);
            const DyingMover mover(c.fatalMove, c.elsewhere);
            std::vector<StagedOutput> outputs;
            std::optional<StagedOutputSet> set;
            if (c.staging == Staging::oneFolder) set.emplace(user / "book.pdf", 1, mover, record);
            for (int part = 1; part <= 6; ++part) {
                const fs::path name = user / ("book-" + std::to_string(part) + (c.staging == Staging::folders ? "" : ".txt"));
                if (c.staging == Staging::oneFolder) {
                    std::ofstream(set->add(name)) << "part " << part;
                } else if (c.staging == Staging::folders) {
                    outputs.emplace_back(name, StagedOutput::Kind::folder, mover, record);
                    std::ofstream(outputs.back().path() / "entry") << "entry " << part;
                } else {
                    outputs.emplace_back(name, StagedOutput::Kind::file, mover, record);
                    outputs.back().write("page " + std::to_string(part));
                }
            }
            if (set) {
                set->commit();
            } else {
                StagedOutput::commitAll(outputs, record);
            }
        });
        const auto moved = std::count_if(fs::directory_iterator(user.path()), {}, [](const auto& entry) {
            return entry.path().filename().string().front() != '.' && entry.path().filename() != "book.pdf";
        });
        EXPECT_EQ(moved, c.fatalMove) << "parts under final names before the sweep";
        if (c.staging != Staging::folders) {
            fs::remove(theirs);
            std::ofstream(theirs) << "theirs";
        }

        EXPECT_GE(WorkInProgress(root).sweep(), c.fatalMove);
        std::vector<std::string> expected{"book.pdf"};
        if (c.staging != Staging::folders) expected.insert(expected.begin(), "book-2.txt");
        EXPECT_EQ(names(user.path()), expected);
        EXPECT_EQ(testing::readFile(user / "book.pdf"), "the source");
        if (c.staging != Staging::folders) {
            EXPECT_EQ(testing::readFile(theirs), "theirs");
        }
        EXPECT_EQ(WorkInProgress(root).sweep(), 0) << "the set's record went with its items";
    }
}

}  // namespace
}  // namespace kolvex
