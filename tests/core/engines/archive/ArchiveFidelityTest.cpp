// SPDX-License-Identifier: GPL-3.0-or-later
// What comes out of an archive is what went in: single-file streams byte for byte, repacked
// archives with their entries, modes, times and folders.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <map>

#include <gtest/gtest.h>

#include "ArchiveFixtures.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveEngineFiles;
using testing::ArchiveFixtures;
using testing::entriesOf;

// Bytes that do not compress to nothing and hold every byte value.
std::string payload() {
    std::string bytes;
    for (int i = 0; i < 300'000; ++i) bytes.push_back(static_cast<char>((static_cast<unsigned>(i) * 7919u) ^ (static_cast<unsigned>(i) >> 5)));
    return bytes;
}

TEST_F(ArchiveEngineFiles, SingleFileStreamsExtractByteForByteAndRepack) {
    const std::string data = payload();
    const fs::path plain = dir.write("plain/report.csv", data);
    struct Row {
        std::string id;
        fs::path program;
        std::string extension;
    };
    const Row rows[] = {{"gzip", ArchiveFixtures::gzip, "gz"},
                        {"bz2", ArchiveFixtures::bzip2, "bz2"},
                        {"xz", ArchiveFixtures::xz, "xz"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.id);
        const auto compressed = ArchiveFixtures::run(row.program, {"-c", plain.string()});
        ASSERT_EQ(compressed.exitCode, 0);
        const fs::path stream = dir.write("work/report.csv." + row.extension, compressed.standardOutputData);

        // Extracting gives the file itself beside the stream, never over an existing one.
        const auto job = ArchiveFixtures::job(stream, row.id, work / "report.csv", "zip", "extract");
        EXPECT_EQ(engine().convert(job, [](double) {}, {}), std::vector<fs::path>{work / "report.csv"});
        EXPECT_EQ(engine().convert(job, [](double) {}, {}), std::vector<fs::path>{work / "report 2.csv"});
        EXPECT_TRUE(testing::readFile(work / "report.csv") == data);
        EXPECT_TRUE(testing::readFile(work / "report 2.csv") == data);

        // Every archive target the stream can become holds the file.
        for (const std::string to : {"zip", "7z", "tar", "targz", "bz2", "gzip"}) {
            if (to == row.id) continue;
            SCOPED_TRACE(to);
            const auto outputs =
                engine().convert(ArchiveFixtures::job(stream, row.id, work / ("out." + to), to), [](double) {}, {});
            ASSERT_EQ(outputs.size(), 1u);
            const bool plainStream = to == "gzip" || to == "bz2";
            const auto unpacked = plainStream
                                      ? ArchiveFixtures::run(to == "gzip" ? ArchiveFixtures::gzip : ArchiveFixtures::bzip2,
                                                             {"-dc", outputs[0].string()})
                                      : ArchiveFixtures::run(ArchiveFixtures::bsdtar,
                                                             {"-xOf", outputs[0].string(), "report.csv"});
            EXPECT_EQ(unpacked.exitCode, 0) << unpacked.standardErrorData;
            EXPECT_TRUE(unpacked.standardOutputData == data);
            fs::remove(outputs[0]);
        }
        for (const auto& name : {"report.csv", "report 2.csv"}) fs::remove(work / name);
        fs::remove(stream);
    }
    EXPECT_TRUE(fs::is_empty(work)) << testing::sorted(entriesOf(work)).size();
    EXPECT_TRUE(scratchIsClean());
}

struct Entry {
    fs::file_type type;
    unsigned mode;
    int64_t mtime;
    bool operator==(const Entry&) const = default;
};

// Type, permission bits and modification time (whole seconds) of everything below `folder`.
std::map<std::string, Entry> describe(const fs::path& folder) {
    std::map<std::string, Entry> entries;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        struct stat info {};
        if (::lstat(item.path().c_str(), &info) != 0) continue;
        entries[fs::relative(item.path(), folder).string()] =
            Entry{item.symlink_status().type(), static_cast<unsigned>(info.st_mode & 07777),
                  S_ISLNK(info.st_mode) ? 0 : static_cast<int64_t>(info.st_mtim.tv_sec)};
    }
    return entries;
}

TEST_F(ArchiveEngineFiles, RepackKeepsEntriesModesTimesAndFolders) {
    const fs::path content = dir / "tree";
    dir.write("tree/readme.txt", "read me");
    dir.write("tree/bin/run.sh", "#!/bin/sh\necho hi\n");
    dir.write("tree/docs/deep/notes.md", "# notes");
    fs::create_directories(content / "empty");
    fs::create_symlink("readme.txt", content / "link");
    fs::permissions(content / "bin/run.sh", fs::perms(0750));
    fs::permissions(content / "readme.txt", fs::perms(0664));
    fs::permissions(content / "docs/deep", fs::perms(0700));
    // Even seconds: a zip keeps times in two-second steps where it has nothing finer.
    const auto when = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    const auto even = std::chrono::floor<std::chrono::seconds>(when) -
                      std::chrono::seconds(std::chrono::floor<std::chrono::seconds>(when).time_since_epoch().count() % 2);
    for (const auto& item : fs::recursive_directory_iterator(content))
        if (!item.is_symlink()) fs::last_write_time(item.path(), even);
    for (const auto& item : {content / "docs", content / "bin", content / "docs/deep", content})
        fs::last_write_time(item, even);
    const auto expected = describe(content);

    const fs::path source = work / "tree.tar";
    ASSERT_EQ(ArchiveFixtures::run(ArchiveFixtures::bsdtar,
                                   {"--format=pax", "-cf", source.string(), "-C", content.string(), "."})
                  .exitCode,
              0);
    for (const std::string to : {"zip", "7z", "targz"}) {
        SCOPED_TRACE(to);
        const auto outputs =
            engine().convert(ArchiveFixtures::job(source, "tar", work / ("tree." + to), to), [](double) {}, {});
        ASSERT_EQ(outputs.size(), 1u);
        // Read back by bsdtar itself, keeping what the archive says.
        const fs::path back = dir / ("back-" + to);
        fs::create_directories(back);
        const auto unpacked = ArchiveFixtures::run(ArchiveFixtures::bsdtar, {"-xpf", outputs[0].string(), "-C", back.string()});
        ASSERT_EQ(unpacked.exitCode, 0) << unpacked.standardErrorData;
        auto actual = describe(back);
        for (auto& [name, entry] : actual)
            if (to == "7z" && entry.type == fs::file_type::directory) entry.mode = expected.at(name).mode;  // 7-Zip keeps no folder modes
        EXPECT_EQ(actual, expected);
    }
}

}  // namespace
}  // namespace kolvex
