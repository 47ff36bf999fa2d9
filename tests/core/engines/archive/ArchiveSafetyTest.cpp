// SPDX-License-Identifier: GPL-3.0-or-later
// Archives that are encrypted, that declare more than fits, that lie about their sizes or that
// hold links leading out of their folder.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>

#include <sys/statvfs.h>

#include <gtest/gtest.h>

#include "ArchiveFixtures.h"
#include "core/services/PathUtils.h"
#include "support/SmallVolume.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveEngineFiles;
using testing::ArchiveFixtures;
using testing::entriesOf;
using testing::FixedCapacityFiles;
using testing::TarBuilder;

using Tool = std::optional<std::string>;
const std::vector<Tool> kExtractAndRepack{std::string("extract"), std::nullopt};

// The archive with every size field that says `real` changed to say `claimed`.
std::string withLyingSizes(std::string zip, uint32_t real, uint32_t claimed) {
    const auto patch = [&](std::string_view signature, size_t offset) {
        for (size_t at = zip.find(signature); at != std::string::npos; at = zip.find(signature, at + 4)) {
            uint32_t value = 0;
            std::memcpy(&value, zip.data() + at + offset, 4);
            if (value == real) std::memcpy(zip.data() + at + offset, &claimed, 4);
        }
    };
    patch(std::string_view("PK\x03\x04", 4), 22);  // local header
    patch(std::string_view("PK\x01\x02", 4), 24);  // central directory
    patch(std::string_view("PK\x07\x08", 4), 12);  // data descriptor
    return zip;
}

TEST_F(ArchiveEngineFiles, EncryptedArchivesAreRefusedBeforeUnpacking) {
    const fs::path content = dir / "secret-content";
    dir.write("secret-content/secret.txt", std::string(200'000, 's'));
    for (const char* method : {"zipcrypt", "aes256"}) {
        SCOPED_TRACE(method);
        const fs::path archive = work / (std::string(method) + ".zip");
        const auto made = ArchiveFixtures::run(ArchiveFixtures::bsdtar,
                                               {"--format=zip", "--options", std::string("zip:encryption=") + method,
                                                "--passphrase", "secret", "-cf", archive.string(), "-C",
                                                content.string(), "."});
        if (made.exitCode != 0) GTEST_SKIP() << "bsdtar cannot write " << method << ": " << made.standardErrorData;
        for (const auto& tool : kExtractAndRepack) {
            const auto started = std::chrono::steady_clock::now();
            const auto error = failure(engine(), ArchiveFixtures::job(archive, "zip", work / "out.tar", "tar", tool));
            ASSERT_TRUE(error);
            EXPECT_EQ(*error, ConversionError::passwordProtected(archive)) << error->what();
            EXPECT_EQ(error->shortDescription(), paths::lastComponent(archive) + " is password-protected");
            // At once, not after bsdtar has asked for a passphrase entry by entry.
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
        }
    }
    EXPECT_EQ(entriesOf(work), (std::vector<std::string>{"aes256.zip", "zipcrypt.zip"}));
    EXPECT_TRUE(scratchIsClean());
}

TEST_F(ArchiveEngineFiles, ArchiveDeclaringMoreThanFitsIsRefusedWithRealFigures) {
    // A few hundred bytes that declare 10 GiB: a sparse file keeps only its size.
    const fs::path content = dir / "sparse-content";
    fs::create_directories(content);
    { std::ofstream(content / "big.bin").flush(); }
    fs::resize_file(content / "big.bin", int64_t{10} << 30);
    const fs::path bomb = work / "bomb.tar.gz";
    ASSERT_EQ(ArchiveFixtures::run(ArchiveFixtures::bsdtar, {"--format=pax", "--read-sparse", "-czf", bomb.string(),
                                                              "-C", content.string(), "."})
                  .exitCode,
              0);
    fs::remove_all(content);
    ASSERT_LT(fs::file_size(bomb), 64u << 10);

    const FixedCapacityFiles disk(int64_t{1} << 30);
    const ArchiveEngine tight(disk, TemporaryFileManager(scratchRoot));
    for (const auto& tool : kExtractAndRepack) {
        const auto error = failure(tight, ArchiveFixtures::job(bomb, "targz", work / "bomb.zip", "zip", tool));
        ASSERT_TRUE(error);
        ASSERT_EQ(error->kind(), ConversionError::Kind::insufficientDiskSpace) << error->what();
        EXPECT_GE(error->required(), int64_t{10} << 30);
        EXPECT_EQ(error->available(), int64_t{1} << 30);
        EXPECT_EQ(error->shortDescription().find("Zero"), std::string::npos) << error->shortDescription();
    }
    EXPECT_EQ(entriesOf(work), std::vector<std::string>{"bomb.tar.gz"});
    EXPECT_TRUE(scratchIsClean());
}

TEST_F(ArchiveEngineFiles, ArchiveWhoseHeadersLieIsStoppedAsDamaged) {
    // 8 MB of zeros whose sizes claim 1000 bytes.
    const fs::path content = dir / "lie-content";
    fs::create_directories(content);
    { std::ofstream(content / "zeros.bin").flush(); }
    fs::resize_file(content / "zeros.bin", 8 << 20);
    const fs::path honest = dir / "honest.zip";
    ASSERT_EQ(ArchiveFixtures::run(ArchiveFixtures::bsdtar,
                                   {"--format=zip", "-cf", honest.string(), "-C", content.string(), "."})
                  .exitCode,
              0);
    const fs::path liar = dir.write("work/liar.zip", withLyingSizes(testing::readFile(honest), 8 << 20, 1000));
    for (const auto& tool : kExtractAndRepack) {
        const auto error = failure(engine(), ArchiveFixtures::job(liar, "zip", work / "liar.tar", "tar", tool));
        ASSERT_TRUE(error);
        EXPECT_EQ(*error, ConversionError::corruptedInput(liar)) << error->what();
    }
    EXPECT_EQ(entriesOf(work), std::vector<std::string>{"liar.zip"});
    EXPECT_TRUE(scratchIsClean());
}

TEST_F(ArchiveEngineFiles, LinksLeadingOutOfTheTreeAreDropped) {
    const auto archive = dir.write("work/links.tar", TarBuilder()
                                                         .file("a.txt", "a")
                                                         .directory("sub/")
                                                         .symlink("inside", "a.txt")
                                                         .symlink("sub/up-inside", "../a.txt")
                                                         .symlink("absolute", "/etc/hostname")
                                                         .symlink("escape", "../../outside")
                                                         .symlink("sub/escape", "../../x")
                                                         .symlink("loop", "loop")
                                                         .bytes());
    const auto folder = engine().convert(ArchiveFixtures::job(archive, "tar", work / "links.zip", "zip", "extract"),
                                         [](double) {}, {});
    ASSERT_EQ(folder, std::vector<fs::path>{work / "links"});
    EXPECT_EQ(entriesOf(folder[0]), (std::vector<std::string>{"a.txt", "inside", "sub", "sub/up-inside"}));
    EXPECT_TRUE(fs::is_symlink(folder[0] / "inside"));

    const auto repacked =
        engine().convertReporting(ArchiveFixtures::job(archive, "tar", work / "links.zip", "zip"), [](double) {}, {});
    EXPECT_EQ(repacked.note, "4 entries were left out: links leading outside the archive, or special files.");
    auto listed = ArchiveFixtures::list(repacked.outputs.at(0));
    listed.erase(std::remove(listed.begin(), listed.end(), ""), listed.end());
    for (auto& name : listed)
        if (name.ends_with('/')) name.pop_back();
    EXPECT_EQ(testing::sorted(listed), (std::vector<std::string>{"a.txt", "inside", "sub", "sub/up-inside"}));
}

TEST_F(ArchiveEngineFiles, AFullDiskReadsAsOneWithRealFigures) {
    testing::SmallVolume volume(2 << 20);
    if (!volume.available()) GTEST_SKIP() << volume.whyNot();
    std::string noise;
    for (uint32_t i = 0, x = 12345; i < (8u << 20); ++i) {
        x = x * 1103515245u + 12345u;
        noise.push_back(static_cast<char>(x >> 24));
    }
    const fs::path plain = dir.write("noise/noise.bin", noise);
    const fs::path zip = work / "noise.zip";
    ASSERT_EQ(ArchiveFixtures::run(ArchiveFixtures::bsdtar,
                                   {"--format=zip", "-cf", zip.string(), "-C", plain.parent_path().string(), "."})
                  .exitCode,
              0);
    const auto gz = ArchiveFixtures::run(ArchiveFixtures::gzip, {"-c", plain.string()});
    const fs::path stream = dir.write("work/noise.bin.gz", gz.standardOutputData);

    // The ZIP says what it holds and is refused before anything is written; the bare stream
    // says nothing and fills the disk first.
    for (const auto& [source, from] : {std::pair{zip, "zip"}, std::pair{stream, "gzip"}}) {
        SCOPED_TRACE(from);
        const auto error = failure(engine(), ArchiveFixtures::job(source, from, volume.path() / "out.zip", "zip", "extract"));
        ASSERT_TRUE(error);
        ASSERT_EQ(error->kind(), ConversionError::Kind::insufficientDiskSpace) << error->what();
        EXPECT_GT(error->required(), error->available()) << error->what();
        EXPECT_GE(error->required(), int64_t{1} << 20) << error->what();
        EXPECT_LE(error->available(), int64_t{2} << 20) << error->what();
        EXPECT_TRUE(entriesOf(volume.path()).empty());
    }
}

TEST_F(ArchiveEngineFiles, AStreamStoppedForTheReserveNamesTheVolumesFreeSpace) {
    testing::SmallVolume volume(4 << 20);
    if (!volume.available()) GTEST_SKIP() << volume.whyNot();
    // A bzip2 stream records no length: it is stopped while it unpacks, once the volume is down
    // to the reserve the guard keeps (a quarter of the room here), before it is full.
    const fs::path plain = dir.write("zeros/zeros.bin", std::string(8 << 20, '\0'));
    const auto packed = ArchiveFixtures::run(ArchiveFixtures::bzip2, {"-c", plain.string()});
    const fs::path stream = dir.write("work/zeros.bin.bz2", packed.standardOutputData);
    struct statvfs info {};
    ASSERT_EQ(::statvfs(volume.path().c_str(), &info), 0);
    const int64_t room = static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);

    ArchiveEngine::Settings settings;
    settings.limits.pollInterval = std::chrono::milliseconds(1);
    const auto error =
        failure(engine(settings), ArchiveFixtures::job(stream, "bz2", volume.path() / "out", "bz2", "extract"));
    ASSERT_TRUE(error);
    ASSERT_EQ(error->kind(), ConversionError::Kind::insufficientDiskSpace) << error->what();
    // What the volume had free, not what is left of it once the reserve is kept.
    EXPECT_EQ(error->available(), room) << error->shortDescription();
    EXPECT_GT(error->required(), room) << error->shortDescription();
    EXPECT_TRUE(entriesOf(volume.path()).empty());
}

}  // namespace
}  // namespace kolvex
