// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <chrono>
#include <fstream>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ArchiveFixtures.h"
#include "core/engines/archive/ArchiveEngine.h"
#include "core/services/Cancellation.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveFixtures;
using testing::TarBuilder;
using testing::TempDir;
using testing::ZipBuilder;

using testing::ArchiveEngineFiles;
using testing::FixedCapacityFiles;
using testing::entriesOf;
using testing::sorted;

TEST(ArchiveEngine, TaredNames) {
    const std::vector<std::pair<fs::path, fs::path>> rows{
        {"/out/photos.gz", "/out/photos.tar.gz"},
        {"/out/photos.bz2", "/out/photos.tar.bz2"},
        {"/out/photos.xz", "/out/photos.tar.xz"},
        {"/out/photos.tar.gz", "/out/photos.tar.gz"},
        {"/out/my photos.v2.gz", "/out/my photos.v2.tar.gz"},
    };
    for (const auto& [in, out] : rows) EXPECT_EQ(ArchiveEngine::taredName(in), out) << in;
}

TEST(ArchiveEngine, CanHandle) {
    ArchiveEngine engine(FileManagerService::shared(), TemporaryFileManager::shared());
    EXPECT_EQ(engine.id(), EngineID("archive"));
    EXPECT_TRUE(engine.canHandle(ArchiveFixtures::job("/a.zip", "zip", "/b.tar", "tar")));
    EXPECT_TRUE(engine.canHandle(ArchiveFixtures::job("/a.rar", "rar", "/b", "zip", "extract")));
    EXPECT_TRUE(engine.canHandle(ArchiveFixtures::job("/a.rar", "rar", "/b.rar", "rar", "compress")));
    EXPECT_FALSE(engine.canHandle(ArchiveFixtures::job("/a.zip", "zip", "/b.rar", "rar")));
    EXPECT_FALSE(engine.canHandle(ArchiveFixtures::job("/a.zip", "zip", "/b.zip", "zip", "resize")));
    auto image = ArchiveFixtures::job("/a.png", "zip", "/b.zip", "zip", "extract");
    image.from.category = FormatCategory::image;
    EXPECT_FALSE(engine.canHandle(image));

    ArchiveEngine::Settings noTar;
    noTar.tar = "/nonexistent/bsdtar";
    ArchiveEngine missing(FileManagerService::shared(), TemporaryFileManager::shared(), noTar);
    EXPECT_FALSE(missing.canHandle(ArchiveFixtures::job("/a.zip", "zip", "/b.tar", "tar")));
    EXPECT_FALSE(missing.canHandle(ArchiveFixtures::job("/a.zip", "zip", "/b", "zip", "extract")));
}

TEST(ArchiveEngine, RegularFilesSkipHiddenMacMetadataAndLinks) {
    TempDir dir;
    dir.write("a.txt", "a");
    dir.write("sub/b.txt", "b");
    dir.write(".hidden", "h");
    dir.write(".secret/c.txt", "c");
    dir.write("__MACOSX/._a.txt", "m");
    dir.write("sub/__MACOSX/d.txt", "m");
    fs::create_symlink("/etc/hostname", dir / "link");
    std::vector<std::string> names;
    for (const auto& p : ArchiveEngine::regularFiles(dir.path())) names.push_back(fs::relative(p, dir.path()).string());
    EXPECT_EQ(sorted(names), (std::vector<std::string>{"a.txt", "sub/b.txt"}));
    EXPECT_TRUE(ArchiveEngine::regularFiles(dir / "missing").empty());
}

TEST_F(ArchiveEngineFiles, ExtractsIntoNewFreeNamedFolders) {
    auto archive = pack("photos.tar.gz", {{"one.txt", "1"}, {"sub/two.txt", "2"}}, {"--format=pax", "-z"});
    auto job = ArchiveFixtures::job(archive, "targz", work / "photos.tar.gz-out", "zip", "extract");
    std::vector<double> progress;
    auto first = engine().convert(job, [&](double f) { progress.push_back(f); }, {});
    ASSERT_EQ(first, std::vector<fs::path>{work / "photos"});
    EXPECT_EQ(entriesOf(first[0]), (std::vector<std::string>{"one.txt", "sub", "sub/two.txt"}));
    EXPECT_EQ(progress, (std::vector<double>{0.1, 1.0}));
    EXPECT_EQ(engine().convert(job, [](double) {}, {}), std::vector<fs::path>{work / "photos 2"});

    // With every name up to "photos 999" taken, the job fails and leaves nothing new.
    for (int n = 3; n <= 999; ++n) fs::create_directory(work / ("photos " + std::to_string(n)));
    auto error = failure(engine(), job);
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, ConversionError::outputNameUnavailable(work / "photos 999"));
}

TEST_F(ArchiveEngineFiles, RepacksIntoEveryWritableFormat) {
    auto zip = pack("src.zip", {{"a.txt", "alpha"}, {"dir/b.txt", "beta"}}, {"--format=zip"});
    struct Row {
        std::string to;
        std::string name;
        std::string magic;
        size_t offset;
    };
    const std::vector<Row> rows{
        {"zip", "out.zip", "PK\x03\x04", 0},
        {"7z", "out.7z", "7z\xBC\xAF\x27\x1C", 0},
        {"tar", "out.tar", "ustar", 257},
        {"targz", "out.tar.gz", "\x1F\x8B", 0},
        {"gzip", "two.gz", "\x1F\x8B", 0},
        {"bz2", "two.bz2", "BZh", 0},
        {"xz", "two.xz", std::string("\xFD" "7zXZ\0", 6), 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.to);
        std::vector<double> progress;
        auto outputs = engine().convert(ArchiveFixtures::job(zip, "zip", work / row.name, row.to),
                                        [&](double f) { progress.push_back(f); }, {});
        ASSERT_EQ(outputs.size(), 1u);
        // Two files make a tar stream under the single-stream targets, named with .tar.
        const bool tared = row.to == "gzip" || row.to == "bz2" || row.to == "xz";
        EXPECT_EQ(outputs[0], tared ? ArchiveEngine::taredName(work / row.name) : work / row.name);
        if (tared) {
            EXPECT_FALSE(fs::exists(work / row.name));
        }
        EXPECT_EQ(testing::readFile(outputs[0]).substr(row.offset, row.magic.size()), row.magic);
        auto listed = ArchiveFixtures::list(outputs[0]);
        listed.erase(std::remove(listed.begin(), listed.end(), ""), listed.end());
        EXPECT_TRUE(std::find(listed.begin(), listed.end(), "a.txt") != listed.end());
        EXPECT_TRUE(std::find(listed.begin(), listed.end(), "dir/b.txt") != listed.end());
        EXPECT_EQ(progress, (std::vector<double>{0.1, 0.55, 0.95, 1.0}));
    }
    EXPECT_TRUE(scratchIsClean());
    // No partial files were left beside the outputs.
    for (auto& e : fs::directory_iterator(work)) EXPECT_FALSE(e.path().filename().string().starts_with(".kolvex"));
}

TEST_F(ArchiveEngineFiles, OneFileBecomesAPlainStreamOnDisk) {
    auto zip = pack("one.zip", {{"report.csv", "a,b\n1,2\n"}, {".DS_Store", "x"}, {"__MACOSX/._report.csv", "m"}},
                    {"--format=zip"});
    auto gz = engine().convert(ArchiveFixtures::job(zip, "zip", work / "report.gz", "gzip"), [](double) {}, {});
    ASSERT_EQ(gz, std::vector<fs::path>{work / "report.gz"});
    auto unpacked = ArchiveFixtures::run(ArchiveFixtures::gzip, {"-dc", gz[0].string()});
    EXPECT_EQ(unpacked.standardOutputData, "a,b\n1,2\n");

    // A file whose own name ends in the stream's extension still compresses.
    auto named = pack("named.zip", {{"data.bz2", "not compressed"}}, {"--format=zip"});
    auto bz = engine().convert(ArchiveFixtures::job(named, "zip", work / "data.bz2", "bz2"), [](double) {}, {});
    ASSERT_EQ(bz, std::vector<fs::path>{work / "data.bz2"});
    EXPECT_EQ(ArchiveFixtures::run(ArchiveFixtures::bzip2, {"-dc", bz[0].string()}).standardOutputData,
              "not compressed");

    // xz has no stream program: even one file gives a tar stream.
    auto xz = engine().convert(ArchiveFixtures::job(zip, "zip", work / "report.xz", "xz"), [](double) {}, {});
    EXPECT_EQ(xz, std::vector<fs::path>{work / "report.tar.xz"});
    EXPECT_TRUE(scratchIsClean());
}

TEST_F(ArchiveEngineFiles, NeverWritesOverAnExistingTaredName) {
    auto zip = pack("two.zip", {{"a", "1"}, {"b", "2"}}, {"--format=zip"});
    dir.write("work/pack.tar.gz", "precious");
    auto out = engine().convert(ArchiveFixtures::job(zip, "zip", work / "pack.gz", "gzip"), [](double) {}, {});
    EXPECT_EQ(out, std::vector<fs::path>{work / "pack 2.tar.gz"});
    EXPECT_EQ(testing::readFile(work / "pack.tar.gz"), "precious");

    // A planned destination taken meanwhile is not replaced either: the archive takes the next name.
    dir.write("work/taken.zip", "mine");
    out = engine().convert(ArchiveFixtures::job(zip, "zip", work / "taken.zip", "zip"), [](double) {}, {});
    EXPECT_EQ(out, std::vector<fs::path>{work / "taken 2.zip"});
    EXPECT_EQ(testing::readFile(work / "taken.zip"), "mine");
    EXPECT_GT(fs::file_size(work / "taken 2.zip"), 0u);
}

// A ZIP whose directory marks every name as UTF-8 and whose local headers are broken.
std::string markedWithoutHeaders(std::string zip) {
    for (size_t at = zip.find(std::string_view("PK\x01\x02", 4)); at != std::string::npos;
         at = zip.find(std::string_view("PK\x01\x02", 4), at + 4))
        zip[at + 9] = static_cast<char>(zip[at + 9] | 0x08);
    for (size_t at = zip.find(std::string_view("PK\x03\x04", 4)); at != std::string::npos;
         at = zip.find(std::string_view("PK\x03\x04", 4), at + 4))
        zip[at + 3] = 0x05;
    return zip;
}

TEST_F(ArchiveEngineFiles, HostileArchivesFailCleanlyAndWriteNothingOutside) {
    const fs::path outside = dir / "outside";
    fs::create_directories(outside);
    fs::create_directories(work / "deep");
    using Kind = ConversionError::Kind;
    using C = ConversionError::Circumstance;
    struct Row {
        std::string name;
        std::string from;
        std::string bytes;
        Kind kind;
        C circumstance;
    };
    const std::vector<Row> rows{
        {"dotdot.tar", "tar", TarBuilder().file("ok.txt", "ok").file("../../escape.txt", "bad").bytes(),
         Kind::corruptedInput, C::unsafeEntry},
        {"symlink.tar", "tar", TarBuilder().symlink("link", outside.string()).file("link/evil.txt", "bad").bytes(),
         Kind::corruptedInput, C::unsafeEntry},
        {"hardlink.tar", "tar", TarBuilder().hardlink("h", "../../outside/target").bytes(), Kind::corruptedInput,
         C::unsafeEntry},
        {"locked.zip", "zip", ZipBuilder().file("secret.txt", std::string(64, '\x5a'), true).bytes(),
         Kind::corruptedInput, C::passwordProtected},
        {"junk.zip", "zip", std::string(300, 'j'), Kind::corruptedInput, C::general},
        {"empty.zip", "zip", "", Kind::corruptedInput, C::general},
        // Names falsely marked as UTF-8, and their entries' headers gone.
        {"marked.zip", "zip", markedWithoutHeaders(ZipBuilder().file("caf\xE9.txt", "a").file("caf\xE8.txt", "b").bytes()),
         Kind::corruptedInput, C::general},
        {"twice.zip", "zip", ZipBuilder().file("a.txt", "first").file("a.txt", "second").bytes(), Kind::corruptedInput,
         C::clashingEntries},
    };
    const auto started = std::chrono::steady_clock::now();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto archive = dir.write("work/deep/" + row.name, row.bytes);
        for (const auto& [to, tool] : std::vector<std::pair<std::string, std::optional<std::string>>>{
                 {"zip", std::string("extract")}, {"zip", std::nullopt}}) {
            auto out = work / "deep" / (row.name + ".out.zip");
            auto error = failure(engine(), ArchiveFixtures::job(archive, row.from, out, to, tool));
            ASSERT_TRUE(error) << (tool ? "extract" : "repack");
            EXPECT_EQ(error->kind(), row.kind) << error->what() << " " << error->stderrText().substr(0, 200);
            EXPECT_EQ(error->circumstance(), row.circumstance) << error->what();
            EXPECT_EQ(error->url(), archive);
            EXPECT_FALSE(fs::exists(out));
        }
        // Only the archive itself is left: no folder, no partial output.
        EXPECT_EQ(entriesOf(work / "deep"), std::vector<std::string>{row.name});
        fs::remove(archive);
    }
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_FALSE(fs::exists(dir / "escape.txt"));
    EXPECT_FALSE(fs::exists(work / "escape.txt"));
    EXPECT_TRUE(scratchIsClean());
    // The encrypted archive failed at once instead of waiting for a passphrase.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST_F(ArchiveEngineFiles, AbsolutePathsLandInsideTheFolder) {
    const fs::path target = dir / "absolute-target.txt";
    auto archive = dir.write("work/abs.tar", TarBuilder().file(target.string(), "inside").bytes());
    auto out = engine().convert(ArchiveFixtures::job(archive, "tar", work / "abs.zip", "zip", "extract"),
                                [](double) {}, {});
    ASSERT_EQ(out, std::vector<fs::path>{work / "abs"});
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(testing::readFile(work / "abs" / target.relative_path()), "inside");
}

TEST_F(ArchiveEngineFiles, TruncatedArchiveIsDamagedInput) {
    std::string noise;
    for (int i = 0; i < 200000; ++i) noise.push_back(char((i * 7919) ^ (i >> 3)));
    auto good = pack("good.tar.gz", {{"noise.bin", noise}}, {"--format=pax", "-z"});
    const std::string bytes = testing::readFile(good);
    auto cut = dir.write("work/cut.tar.gz", bytes.substr(0, bytes.size() / 2));
    for (std::optional<std::string> tool : {std::optional<std::string>("extract"), std::optional<std::string>()}) {
        auto error = failure(engine(), ArchiveFixtures::job(cut, "targz", work / "cut-out.zip", "zip", tool));
        ASSERT_TRUE(error);
        EXPECT_EQ(*error, ConversionError::corruptedInput(cut));
    }
    EXPECT_FALSE(fs::exists(work / "cut"));
    EXPECT_FALSE(fs::exists(work / "cut-out.zip"));
}

TEST_F(ArchiveEngineFiles, ArchiveThatWouldFillTheDiskIsStoppedAndRemoved) {
    // 64 MB of zeros packs into about 64 KB of ZIP.
    const fs::path zeros = dir / "bomb-content" / "zeros.bin";
    fs::create_directories(zeros.parent_path());
    { std::ofstream(zeros).flush(); }
    fs::resize_file(zeros, 64 << 20);
    const fs::path bomb = work / "bomb.zip";
    ASSERT_EQ(ArchiveFixtures::run(ArchiveFixtures::bsdtar,
                                   {"--format=zip", "-cf", bomb.string(), "-C", zeros.parent_path().string(), "."})
                  .exitCode,
              0);
    ASSERT_LT(fs::file_size(bomb), 1u << 20);
    fs::remove_all(zeros.parent_path());

    ArchiveEngine::Settings settings;
    settings.limits.maxExtractedBytes = 4 << 20;
    settings.limits.pollInterval = std::chrono::milliseconds(5);
    for (std::optional<std::string> tool : {std::optional<std::string>("extract"), std::optional<std::string>()}) {
        auto error = failure(engine(settings), ArchiveFixtures::job(bomb, "zip", work / "bomb.tar", "tar", tool));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), ConversionError::Kind::insufficientDiskSpace);
        EXPECT_EQ(error->available(), 4 << 20);
        EXPECT_GT(error->required(), 4 << 20);
    }
    EXPECT_EQ(entriesOf(work), std::vector<std::string>{"bomb.zip"});
    EXPECT_TRUE(scratchIsClean());
}

TEST_F(ArchiveEngineFiles, RarIsReadButNeverWritten) {
    auto rar = dir.write("work/notes.rar", testing::rarWithStoredFile("note.txt", "hello from rar\n"));
    auto folder = engine().convert(ArchiveFixtures::job(rar, "rar", work / "notes.zip", "zip", "extract"),
                                   [](double) {}, {});
    ASSERT_EQ(folder, std::vector<fs::path>{work / "notes"});
    EXPECT_EQ(testing::readFile(work / "notes" / "note.txt"), "hello from rar\n");

    auto zip = engine().convert(ArchiveFixtures::job(rar, "rar", work / "notes.zip", "zip"), [](double) {}, {});
    EXPECT_EQ(ArchiveFixtures::list(zip.at(0)), std::vector<std::string>{"note.txt"});

    auto error = failure(engine(), ArchiveFixtures::job(rar, "rar", work / "again.rar", "rar"));
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, ConversionError::unsupportedCombination("rar", "rar"));
}

TEST_F(ArchiveEngineFiles, RepackNeedsFourTimesTheSourceFree) {
    auto zip = pack("big.zip", {{"a.txt", std::string(1000, 'a')}}, {"--format=zip"});
    const auto size = static_cast<int64_t>(fs::file_size(zip));
    {
        FixedCapacityFiles disk(size * 4 - 1);
        ArchiveEngine tight(disk, TemporaryFileManager(scratchRoot));
        auto error = failure(tight, ArchiveFixtures::job(zip, "zip", work / "big.tar.gz", "targz"));
        ASSERT_TRUE(error);
        EXPECT_EQ(*error, ConversionError::insufficientDiskSpace(size * 4, size * 4 - 1));
        EXPECT_FALSE(fs::exists(work / "big.tar.gz"));
    }
    // A plain tar is as large as what it holds, whatever the source's compression: that is its need.
    FixedCapacityFiles disk(size * 4);
    ArchiveEngine tight(disk, TemporaryFileManager(scratchRoot));
    auto error = failure(tight, ArchiveFixtures::job(zip, "zip", work / "big.tar", "tar"));
    ASSERT_TRUE(error);
    ASSERT_EQ(error->kind(), ConversionError::Kind::insufficientDiskSpace);
    EXPECT_GE(error->required(), 1000 + 2 * 512);
    EXPECT_EQ(error->available(), size * 4);
    EXPECT_FALSE(fs::exists(work / "big.tar"));
}

TEST_F(ArchiveEngineFiles, CancellingRemovesFoldersAndPartialArchives) {
    auto zip = pack("c.zip", {{"a.txt", "a"}, {"b.txt", "b"}}, {"--format=zip"});
    std::stop_source before;
    before.request_stop();
    EXPECT_THROW(engine().convert(ArchiveFixtures::job(zip, "zip", work / "c.tar", "tar", "extract"), [](double) {},
                                  before.get_token()),
                 OperationCancelled);

    // Stopped after unpacking, while the new archive is being written.
    for (std::optional<std::string> tool : {std::optional<std::string>("extract"), std::optional<std::string>()}) {
        std::stop_source stop;
        const double at = tool ? 0.1 : 0.55;
        EXPECT_THROW(engine().convert(ArchiveFixtures::job(zip, "zip", work / "c.tar", "tar", tool),
                                      [&](double f) {
                                          if (f >= at) stop.request_stop();
                                      },
                                      stop.get_token()),
                     OperationCancelled);
    }
    EXPECT_EQ(entriesOf(work), std::vector<std::string>{"c.zip"});
    EXPECT_TRUE(scratchIsClean());
}

TEST_F(ArchiveEngineFiles, TimeOutStopsTarAndRemovesTheFolder) {
    // A program that never finishes stands in for a tar run that hangs.
    const fs::path slow = dir.write("slow-tar", "#!/bin/sh\nexec sleep 30\n");
    fs::permissions(slow, fs::perms::owner_all);
    ArchiveEngine::Settings settings;
    settings.tar = slow;
    settings.tarTimeout = std::chrono::milliseconds(200);
    auto zip = dir.write("work/t.zip", ZipBuilder().file("a", "a").bytes());
    try {
        engine(settings).convert(ArchiveFixtures::job(zip, "zip", work / "t.tar", "tar", "extract"), [](double) {},
                                 {});
        ADD_FAILURE() << "no time-out";
    } catch (const ProcessRunnerError& e) {
        EXPECT_EQ(e.kind(), ProcessRunnerError::Kind::timedOut);
    }
    EXPECT_EQ(entriesOf(work), std::vector<std::string>{"t.zip"});
}

}  // namespace
}  // namespace kolvex
