// SPDX-License-Identifier: GPL-3.0-or-later
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/format/ConversionError.h"
#include "core/services/OutputNaming.h"
#include "core/services/StagedOutput.h"
#include "core/services/StagedOutputSet.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
}

// File systems that lack the calls a no-replace move prefers: one with no RENAME_NOREPLACE
// (older network and FUSE volumes), one with no hard links either (FAT).
class NoRenameNoReplace : public FileManagerService {
protected:
    int renameNoReplace(const fs::path&, const fs::path&) const override { return EINVAL; }
};

class NoRenameNoReplaceNoLinks : public NoRenameNoReplace {
protected:
    int hardLink(const fs::path&, const fs::path&) const override { return EPERM; }
};

struct FileSystemCase {
    const char* name;
    std::shared_ptr<const FileManagerService> files;
};

void PrintTo(const FileSystemCase& value, std::ostream* out) { *out << value.name; }

class StagedOutputOn : public ::testing::TestWithParam<FileSystemCase> {};

INSTANTIATE_TEST_SUITE_P(
    FileSystems, StagedOutputOn,
    ::testing::Values(FileSystemCase{"native", std::make_shared<FileManagerService>()},
                      FileSystemCase{"noRenameNoReplace", std::make_shared<NoRenameNoReplace>()},
                      FileSystemCase{"noRenameNoReplaceNoLinks", std::make_shared<NoRenameNoReplaceNoLinks>()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(StagedOutputOn, AppearsWholeAndNeverReplaces) {
    const FileManagerService& files = *GetParam().files;
    TempDir dir;
    // A file: nothing under the final name until committed, then exactly what was written.
    {
        StagedOutput output(dir / "out.txt", StagedOutput::Kind::file, files);
        output.write("whole");
        EXPECT_EQ(names(dir.path()), std::vector<std::string>{output.path().filename().string()});
        output.commit();
    }
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"out.txt"});
    EXPECT_EQ(testing::readFile(dir / "out.txt"), "whole");

    // A name taken meanwhile keeps what is there; the work takes the next free name.
    {
        StagedOutput output(dir / "out.txt", StagedOutput::Kind::file, files);
        output.write("newer");
        output.commit();
        EXPECT_EQ(output.destination(), dir / "out 2.txt");
    }
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"out 2.txt", "out.txt"}));
    EXPECT_EQ(testing::readFile(dir / "out.txt"), "whole");
    EXPECT_EQ(testing::readFile(dir / "out 2.txt"), "newer");
    fs::remove(dir / "out 2.txt");
    // Asked for exactly that name, it refuses, and the staged file goes.
    {
        StagedOutput output(dir / "out.txt", StagedOutput::Kind::file, files);
        output.write("newer");
        try {
            output.commit(dir / "out.txt");
            FAIL() << "replaced an existing file";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error, ConversionError::outputNameUnavailable(dir / "out.txt"));
        }
    }
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"out.txt"});

    // A folder likewise, with whatever was put in it; a taken name (even an empty folder) stays.
    {
        StagedOutput folder(dir / "unpacked", StagedOutput::Kind::folder, files);
        std::ofstream(folder.path() / "inside.txt") << "x";
        folder.commit();
    }
    EXPECT_EQ(testing::readFile(dir / "unpacked" / "inside.txt"), "x");
    fs::create_directory(dir / "empty.d");
    {
        StagedOutput folder(dir / "empty.d", StagedOutput::Kind::folder, files);
        std::ofstream(folder.path() / "inside.txt") << "y";
        EXPECT_THROW(folder.commit(dir / "empty.d"), ConversionError);
        // A folder's name is numbered whole.
        folder.commit();
        EXPECT_EQ(folder.destination(), dir / "empty.d 2");
    }
    EXPECT_TRUE(fs::is_empty(dir / "empty.d"));
    EXPECT_EQ(testing::readFile(dir / "empty.d 2" / "inside.txt"), "y");
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"empty.d", "empty.d 2", "out.txt", "unpacked"}));
}

// Several writers that were all given one free name: each keeps its work under a name of its
// own, and no file is replaced.
TEST_P(StagedOutputOn, WritersRacingForOneNameAllKeepTheirWork) {
    const FileManagerService& files = *GetParam().files;
    TempDir dir;
    dir.write("a 2.webp", "someone else's");  // taken from the start, skipped
    constexpr int kWriters = 12;
    std::vector<fs::path> placed(kWriters);
    std::vector<std::string> failures(kWriters);
    {
        std::atomic<int> ready = 0;
        std::vector<std::jthread> writers;
        for (int i = 0; i < kWriters; ++i) {
            writers.emplace_back([&, i] {
                try {
                    StagedOutput output(dir / "a.webp", StagedOutput::Kind::file, files);
                    output.write("writer " + std::to_string(i));
                    ++ready;
                    while (ready < kWriters) std::this_thread::yield();
                    output.commit();
                    placed[i] = output.destination();
                } catch (const std::exception& error) {
                    failures[i] = error.what();
                }
            });
        }
    }
    std::set<fs::path> distinct;
    for (int i = 0; i < kWriters; ++i) {
        EXPECT_EQ(failures[i], "") << "writer " << i;
        EXPECT_EQ(testing::readFile(placed[i]), "writer " + std::to_string(i)) << placed[i];
        distinct.insert(placed[i]);
    }
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kWriters));
    EXPECT_TRUE(distinct.contains(dir / "a.webp"));
    EXPECT_FALSE(distinct.contains(dir / "a 2.webp"));
    EXPECT_EQ(testing::readFile(dir / "a 2.webp"), "someone else's");
    EXPECT_EQ(names(dir.path()).size(), static_cast<size_t>(kWriters) + 1) << "something was left beside them";
}

TEST(StagedOutput, HiddenNamesFitAndUncommittedWorkLeavesNothing) {
    TempDir dir;
    std::string longName;
    while (longName.size() + 2 <= 250) longName += "\xC3\xA9";
    longName += ".txt";
    for (const std::string& name : {std::string("plain.mp4"), std::string("-starts with dash.txt"), longName,
                                    std::string(".hidden"), std::string("no extension")}) {
        {
            StagedOutput output(dir / name);
            const std::string staged = output.path().filename().string();
            EXPECT_EQ(output.path().parent_path(), dir.path());
            EXPECT_LE(staged.size(), 255u) << name;
            EXPECT_EQ(staged.front(), '.') << name;
            EXPECT_TRUE(WorkInProgress::isStagingName(staged)) << name;
            // Writers that pick a format by the name's extension still find it.
            if (fs::path(name).has_extension() && name.front() != '.') {
                EXPECT_EQ(output.path().extension(), fs::path(name).extension()) << name;
            }
            output.write("partial");
        }
        EXPECT_TRUE(fs::is_empty(dir.path())) << name;
        StagedOutput::writeAtomically(dir / name, "whole");
        EXPECT_EQ(testing::readFile(dir / name), "whole");
        fs::remove(dir / name);
    }
}

// Near the longest path the system takes, the part of our hidden names taken from the output's
// gives way: an output whose hidden name can fit is staged and placed, one that cannot is
// refused before anything is made.
TEST(StagedOutput, HiddenNamesGiveWayNearThePathLimit) {
    TempDir dir;
    // `room`: the bytes left for a name in the folder before its path reaches the limit.
    for (const size_t room : {size_t{20}, size_t{64}, size_t{100}, size_t{180}}) {
        SCOPED_TRACE(room);
        fs::path folder = dir.path() / std::to_string(room);
        while (folder.string().size() + 1 + room + 201 <= 4095) folder /= std::string(200, 'd');
        folder /= std::string(4095 - room - 2 - folder.string().size(), 'e');
        fs::create_directories(folder);
        ASSERT_EQ(folder.string().size() + 1 + room, 4095u);
        const std::string stem(room - 4, 'o');
        // A file's hidden name needs 50 bytes with a three-letter extension, however long the
        // output's; a set's hidden folder 46, with its files' short names below it.
        const fs::path single = folder / (stem + ".txt");
        if (room < 50) {
            EXPECT_FALSE(StagedOutput::fits(single));
            try {
                StagedOutput output(single);
                ADD_FAILURE() << "staged a name that cannot fit";
            } catch (const ConversionError& error) {
                EXPECT_EQ(error, ConversionError::outputPathTooLong(single));
            }
        } else {
            EXPECT_TRUE(StagedOutput::fits(single));
            StagedOutput::writeAtomically(single, "whole");
            EXPECT_EQ(testing::readFile(single), "whole");
        }
        const auto set = [&] {
            StagedOutputSet parts(folder / (stem + ".pdf"));
            for (int part = 1; part <= 2; ++part) std::ofstream(parts.add(folder / ("p" + std::to_string(part) + ".pdf"))) << part;
            parts.commit();
        };
        if (room < 93) {
            EXPECT_THROW(set(), ConversionError);
        } else {
            set();
            EXPECT_EQ(testing::readFile(folder / "p2.pdf"), "2");
        }
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_NE(entry.path().filename().string().front(), '.') << "left " << entry.path().filename();
    }
}

TEST(StagedOutput, SetsAppearWholeOrNotAtAll) {
    TempDir dir;
    dir.write("page-3.txt", "someone else's");
    const auto stagePages = [&] {
        std::vector<StagedOutput> pages;
        for (int page = 1; page <= 3; ++page) {
            pages.emplace_back(dir / ("page-" + std::to_string(page) + ".txt"));
            pages.back().write("page " + std::to_string(page));
        }
        return pages;
    };
    // A part whose name was taken meanwhile gives way to the next free name; the set appears.
    {
        auto pages = stagePages();
        StagedOutput::commitAll(pages);
        EXPECT_EQ(pages[2].destination(), dir / "page-3 2.txt");
    }
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"page-1.txt", "page-2.txt", "page-3 2.txt", "page-3.txt"}));
    EXPECT_EQ(testing::readFile(dir / "page-3.txt"), "someone else's");
    EXPECT_EQ(testing::readFile(dir / "page-3 2.txt"), "page 3");
    for (const char* name : {"page-1.txt", "page-2.txt", "page-3 2.txt"}) fs::remove(dir / name);

    // Every name of a part taken: none of the set appears.
    for (int k = 2; k <= OutputNaming::maxCollisionAttempts; ++k) dir.write("page-3 " + std::to_string(k) + ".txt", "");
    const auto ours = [&] {
        std::vector<std::string> found = names(dir.path());
        std::erase_if(found, [](const std::string& name) { return name.starts_with("page-3 "); });
        return found;
    };
    {
        auto pages = stagePages();
        EXPECT_THROW(StagedOutput::commitAll(pages), ConversionError);
    }
    EXPECT_EQ(ours(), std::vector<std::string>{"page-3.txt"});
    EXPECT_EQ(testing::readFile(dir / "page-3.txt"), "someone else's");

    // A set staged in one folder: only that folder is recorded and shows while it is written.
    TempDir root;
    for (const bool clash : {true, false}) {
        SCOPED_TRACE(clash ? "a name taken" : "every name free");
        WorkInProgress record(root.path());
        {
            const int shards = clash ? 1 : 2;  // writers on two threads use a shard each
            StagedOutputSet set(dir / "book.txt", shards, FileManagerService::shared(), record);
            const auto pageName = [&](int page) {
                return dir / ("page-" + std::to_string(page + (clash ? 0 : 3)) + ".txt");
            };
            for (int page = 1; page <= 3; ++page) std::ofstream(set.add(pageName(page), page % shards)) << "page " << page;
            EXPECT_THROW(set.add(pageName(2)), std::invalid_argument);
            EXPECT_THROW(set.add(root / "page-9.txt"), std::invalid_argument);
            EXPECT_THROW(set.add(dir / "page-9.txt", shards), std::invalid_argument);
            const std::vector<std::string> staging = ours();
            ASSERT_EQ(staging.size(), 2u);
            EXPECT_TRUE(staging[0].starts_with(".book.kolvex-")) << staging[0];
            int recorded = 0;
            for (const auto& entry : fs::recursive_directory_iterator(root.path()))
                recorded += entry.is_regular_file() && entry.path().filename() != "lock";
            EXPECT_EQ(recorded, 1);
            if (clash) {
                EXPECT_THROW(set.commit(), ConversionError);
            } else {
                set.commit();
            }
        }
        const std::vector<std::string> expected =
            clash ? std::vector<std::string>{"page-3.txt"}
                  : std::vector<std::string>{"page-3.txt", "page-4.txt", "page-5.txt", "page-6.txt"};
        EXPECT_EQ(ours(), expected);
    }
    EXPECT_EQ(testing::readFile(dir / "page-5.txt"), "page 2");

    // Withdrawing spares a file that took the name after ours went in.
    StagedOutput output(dir / "mine.txt");
    output.write("mine");
    output.commit();
    fs::remove(dir / "mine.txt");
    dir.write("mine.txt", "theirs");
    output.withdraw();
    EXPECT_EQ(testing::readFile(dir / "mine.txt"), "theirs");
}

TEST(StagedOutput, AdoptsAFileFromAnotherVolume) {
    TempDir dir;
    struct stat tmpInfo {}, shmInfo {};
    if (::stat("/dev/shm", &shmInfo) != 0 || ::access("/dev/shm", W_OK) != 0 ||
        ::stat(dir.path().c_str(), &tmpInfo) != 0 || tmpInfo.st_dev == shmInfo.st_dev) {
        GTEST_SKIP() << "no second writable volume (/dev/shm) here";
    }
    const fs::path produced = "/dev/shm/kolvex-adopt-test-" + std::to_string(::getpid());
    { std::ofstream(produced) << "moved"; }
    StagedOutput output(dir / "moved.txt");
    output.adopt(produced);
    EXPECT_FALSE(fs::exists(dir / "moved.txt"));
    output.commit();
    EXPECT_EQ(testing::readFile(dir / "moved.txt"), "moved");
    EXPECT_FALSE(fs::exists(produced));
}

TEST(StagedOutput, RefusedFolderNamesTheDestination) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    TempDir dir;
    fs::create_directory(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    try {
        StagedOutput::writeAtomically(dir / "locked" / "out.txt", "x");
        FAIL();
    } catch (const ConversionError& error) {
        EXPECT_EQ(error, ConversionError::insufficientPermissions(dir / "locked" / "out.txt"));
    }
}

}  // namespace
}  // namespace kolvex
