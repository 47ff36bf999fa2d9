// SPDX-License-Identifier: GPL-3.0-or-later
// A single compressed file is that file, whatever its text looks like; an archive "compress"
// never hands back something bigger than what it was given.
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "ArchiveFixtures.h"
#include "core/conversion/ConversionCoordinator.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveEngineFiles;
using testing::ArchiveFixtures;

// One word a line: what a spelling list or a password list looks like.
std::string wordList() {
    std::string text;
    for (int i = 0; i < 800; ++i) text += "word" + std::to_string(i * 37 % 1000) + "\n";
    return text;
}

// Base64 text in 76-column lines, as mail and key files carry it.
std::string base64Text() {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::mt19937 random(7);
    std::string text;
    for (int line = 0; line < 60; ++line) {
        for (int i = 0; i < 76; ++i) text.push_back(digits[random() % 64]);
        text.push_back('\n');
    }
    return text;
}

// Text that compresses well but not to nothing, so compression levels make a difference.
std::string prose(int lines) {
    static const char* words[] = {"alpha", "beta", "gamma", "delta", "omega", "kappa", "sigma", "theta"};
    std::mt19937 random(11);
    std::string text;
    for (int line = 0; line < lines; ++line) {
        for (int i = 0; i < 12; ++i) text += std::string(words[random() % 8]) + std::to_string(random() % 100) + " ";
        text.push_back('\n');
    }
    return text;
}

struct Compressor {
    std::string format;
    fs::path program;
    std::string extension;
};

const Compressor kCompressors[] = {{"gzip", ArchiveFixtures::gzip, "gz"},
                                   {"bz2", ArchiveFixtures::bzip2, "bz2"},
                                   {"xz", ArchiveFixtures::xz, "xz"}};

fs::path compress(const Compressor& with, const fs::path& plain, const fs::path& into,
                  std::vector<std::string> flags = {}) {
    flags.insert(flags.end(), {"-c", plain.string()});
    const auto result = ArchiveFixtures::run(with.program, flags);
    EXPECT_EQ(result.exitCode, 0) << result.standardErrorData;
    std::ofstream(into, std::ios::binary) << result.standardOutputData;
    return into;
}

// What bsdtar reads out of `archive` under `name`, or of a plain gzip/bzip2 stream.
std::string readBack(const fs::path& archive, const std::string& to, const std::string& name) {
    ProcessResult result;
    if (to == "gzip") {
        EXPECT_EQ(ArchiveFixtures::run(ArchiveFixtures::gzip, {"-t", archive.string()}).exitCode, 0);
        result = ArchiveFixtures::run(ArchiveFixtures::gzip, {"-dc", archive.string()});
    } else if (to == "bz2") {
        result = ArchiveFixtures::run(ArchiveFixtures::bzip2, {"-dc", archive.string()});
    } else {
        result = ArchiveFixtures::run(ArchiveFixtures::bsdtar, {"-xOf", archive.string(), name});
    }
    EXPECT_EQ(result.exitCode, 0) << result.standardErrorData;
    return result.standardOutputData;
}

TEST_F(ArchiveEngineFiles, AnyCompressedTextFileExtractsAndRepacksAsItself) {
    const std::pair<std::string, std::string> texts[] = {{"words.txt", wordList()}, {"notes.txt", base64Text()}};
    for (const auto& [name, data] : texts) {
        const fs::path plain = dir.write("plain/" + name, data);
        for (const auto& with : kCompressors) {
            SCOPED_TRACE(name + "." + with.extension);
            const fs::path stream = compress(with, plain, work / (name + "." + with.extension));

            const auto extracted =
                engine().convert(ArchiveFixtures::job(stream, with.format, work / name, "zip", "extract"), [](double) {}, {});
            ASSERT_EQ(extracted, std::vector<fs::path>{work / name});
            EXPECT_TRUE(testing::readFile(work / name) == data);
            fs::remove(work / name);

            for (const std::string to : {"zip", "7z", "tar", "targz", "gzip", "bz2", "xz"}) {
                if (to == with.format) continue;
                SCOPED_TRACE(to);
                const auto outputs =
                    engine().convert(ArchiveFixtures::job(stream, with.format, work / ("out." + to), to), [](double) {}, {});
                ASSERT_EQ(outputs.size(), 1u);
                EXPECT_TRUE(readBack(outputs[0], to, name) == data);
                fs::remove(outputs[0]);
            }
            fs::remove(stream);
        }
    }
    EXPECT_TRUE(scratchIsClean());
}

TEST_F(ArchiveEngineFiles, CompressedZipExtractsToTheZipItself) {
    const fs::path zip = work / "data.zip";
    std::ofstream(zip, std::ios::binary) << testing::ZipBuilder().file("a.txt", "first").file("b.txt", "second").bytes();
    const std::string zipBytes = testing::readFile(zip);
    const fs::path stream = compress(kCompressors[0], zip, work / "data.zip.gz");
    fs::remove(zip);

    const auto extracted = engine().convert(ArchiveFixtures::job(stream, "gzip", work / "data.zip", "zip", "extract"), [](double) {}, {});
    ASSERT_EQ(extracted, std::vector<fs::path>{work / "data.zip"});
    EXPECT_TRUE(fs::is_regular_file(work / "data.zip"));
    EXPECT_TRUE(testing::readFile(work / "data.zip") == zipBytes);
    EXPECT_EQ(testing::sorted(ArchiveFixtures::list(work / "data.zip")), (std::vector<std::string>{"a.txt", "b.txt"}));

    // Repacked, the zip is the one entry of the new archive.
    const auto repacked = engine().convert(ArchiveFixtures::job(stream, "gzip", work / "data.7z", "7z"), [](double) {}, {});
    ASSERT_EQ(repacked.size(), 1u);
    EXPECT_EQ(ArchiveFixtures::list(repacked[0]), std::vector<std::string>{"data.zip"});
    EXPECT_TRUE(readBack(repacked[0], "7z", "data.zip") == zipBytes);
}

TEST_F(ArchiveEngineFiles, CompressNeverGrowsAnArchiveAndItsNoteTellsTheTruth) {
    const fs::path plain = dir.write("content/text.txt", prose(1500));
    struct Row {
        std::string format;
        fs::path source;
        bool alreadySmallest;
    };
    const fs::path content = plain.parent_path();
    const auto packed = [&](const std::string& name, std::vector<std::string> flags) {
        const fs::path archive = work / name;
        flags.insert(flags.end(), {"-cf", archive.string(), "-C", content.string(), "."});
        EXPECT_EQ(ArchiveFixtures::run(ArchiveFixtures::bsdtar, flags).exitCode, 0);
        return archive;
    };
    const fs::path tar = packed("best.tar", {"--format=pax"});
    const Row rows[] = {
        // Packed tighter than a repack at the writers' usual levels.
        {"zip", packed("best.zip", {"--format=zip", "--options", "zip:compression-level=9"}), true},
        {"targz", compress(kCompressors[0], tar, work / "best.tar.gz", {"-9"}), true},
        {"gzip", compress(kCompressors[0], plain, work / "best.gz", {"-9"}), true},
        // Stored without compression: a repack really does shrink it.
        {"zip", packed("stored.zip", {"--format=zip", "--options", "zip:compression=store"}), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.source.filename().string());
        const std::string before = testing::readFile(row.source);
        const auto job =
            ArchiveFixtures::job(row.source, row.format, work / ("out-" + row.source.filename().string()), row.format,
                                 "compress");
        const auto outputs = engine().convert(job, [](double) {}, {});
        ASSERT_EQ(outputs.size(), 1u);
        const auto sourceSize = fs::file_size(row.source);
        const auto outputSize = fs::file_size(outputs[0]);
        EXPECT_LE(outputSize, sourceSize);
        const auto note = ConversionCoordinator::notice(job, outputs, FileManagerService::shared());
        if (row.alreadySmallest) {
            EXPECT_TRUE(testing::readFile(outputs[0]) == before) << outputSize << " vs " << sourceSize;
            EXPECT_TRUE(note.has_value());
        } else {
            EXPECT_LT(outputSize, sourceSize);
            EXPECT_FALSE(note.has_value()) << *note;
            EXPECT_TRUE(readBack(outputs[0], row.format, "text.txt") == testing::readFile(plain));
        }
        fs::remove(outputs[0]);
    }
    EXPECT_TRUE(scratchIsClean());
}

}  // namespace
}  // namespace kolvex
