// SPDX-License-Identifier: GPL-3.0-or-later
// Edges of the single-stream formats and of names: a compress that keeps a bare stream keeps its
// kind of name, an empty file's stream is an empty file, and names in any script read back as
// themselves.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>

#include <gtest/gtest.h>

#include "ArchiveFixtures.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveEngineFiles;
using testing::ArchiveFixtures;

struct Compressor {
    std::string format;
    fs::path program;
    std::string extension;
};

// Built when asked: the programs' paths are statics of another file.
std::vector<Compressor> compressors() {
    return {{"gzip", ArchiveFixtures::gzip, "gz"}, {"bz2", ArchiveFixtures::bzip2, "bz2"}, {"xz", ArchiveFixtures::xz, "xz"}};
}

fs::path compress(const fs::path& program, const fs::path& plain, const fs::path& into, std::vector<std::string> flags = {}) {
    flags.insert(flags.end(), {"-c", plain.string()});
    const auto result = ArchiveFixtures::run(program, flags);
    EXPECT_EQ(result.exitCode, 0) << result.standardErrorData;
    std::ofstream(into, std::ios::binary) << result.standardOutputData;
    return into;
}

std::string prose(int lines) {
    static const char* words[] = {"alpha", "beta", "gamma", "delta", "omega", "kappa", "sigma", "theta"};
    std::mt19937 random(5);
    std::string text;
    for (int line = 0; line < lines; ++line) {
        for (int i = 0; i < 12; ++i) text += std::string(words[random() % 8]) + std::to_string(random() % 100) + " ";
        text.push_back('\n');
    }
    return text;
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return testing::sorted(names);
}

TEST_F(ArchiveEngineFiles, ACompressedBareXzKeptAsItWasKeepsItsName) {
    // So repetitive that the stream is a few hundred bytes and a tar's headers would outweigh it.
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "the same line again\n";
    const fs::path plain = dir.write("plain/text.txt", text);
    const fs::path best = compress(ArchiveFixtures::xz, plain, work / "best.xz", {"-9e"});
    const std::string bytes = testing::readFile(best);

    const auto outputs = engine().convert(ArchiveFixtures::job(best, "xz", work / "best 2.xz", "xz", "compress"), [](double) {}, {});
    ASSERT_EQ(outputs, std::vector<fs::path>{work / "best 2.xz"});
    EXPECT_TRUE(testing::readFile(outputs[0]) == bytes);
    const auto unpacked = ArchiveFixtures::run(ArchiveFixtures::xz, {"-dc", outputs[0].string()});
    EXPECT_EQ(unpacked.exitCode, 0);
    EXPECT_TRUE(unpacked.standardOutputData == text);
    // Nothing else appeared: no tar name holding a bare stream.
    EXPECT_EQ(filesIn(work), (std::vector<std::string>{"best 2.xz", "best.xz"}));

    // A stream that a tar of it beats becomes that tar, under the tar's name, and opens as one.
    const fs::path prosePlain = dir.write("plain/prose.txt", prose(1500));
    const fs::path loose = compress(ArchiveFixtures::xz, prosePlain, work / "loose.xz", {"-0"});
    const auto repacked = engine().convert(ArchiveFixtures::job(loose, "xz", work / "loose 2.xz", "xz", "compress"), [](double) {}, {});
    ASSERT_EQ(repacked.size(), 1u);
    if (repacked[0] == work / "loose 2.tar.xz") {
        EXPECT_EQ(ArchiveFixtures::list(repacked[0]), std::vector<std::string>{"loose"});
    } else {
        EXPECT_EQ(repacked[0], work / "loose 2.xz");
        EXPECT_TRUE(testing::readFile(repacked[0]) == testing::readFile(loose));
    }
    EXPECT_TRUE(scratchIsClean());
}

TEST_F(ArchiveEngineFiles, AnEmptyFilesStreamExtractsToAnEmptyFile) {
    const fs::path empty = dir.write("plain/empty", "");
    for (const auto& with : compressors()) {
        SCOPED_TRACE(with.format);
        const fs::path stream = compress(with.program, empty, work / ("empty." + with.extension));
        const auto extracted = engine().convert(ArchiveFixtures::job(stream, with.format, work / "empty", "zip", "extract"), [](double) {}, {});
        ASSERT_EQ(extracted, std::vector<fs::path>{work / "empty"});
        EXPECT_TRUE(fs::is_regular_file(work / "empty"));
        EXPECT_EQ(fs::file_size(work / "empty"), 0u);
        fs::remove(work / "empty");

        // Repacked, it is an empty entry of the new archive.
        const auto zipped = engine().convert(ArchiveFixtures::job(stream, with.format, work / "empty.zip", "zip"), [](double) {}, {});
        ASSERT_EQ(zipped.size(), 1u);
        EXPECT_EQ(ArchiveFixtures::list(zipped[0]), std::vector<std::string>{"empty"});
        fs::remove(zipped[0]);

        // Cut short, the same stream is damaged, and nothing is left behind.
        const std::string whole = testing::readFile(stream);
        const fs::path cut = work / ("cut." + with.extension);
        std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.size() / 2);
        const auto error = failure(engine(), ArchiveFixtures::job(cut, with.format, work / "cut", "zip", "extract"));
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->kind(), ConversionError::Kind::corruptedInput);
        EXPECT_FALSE(fs::exists(work / "cut"));
        fs::remove(cut);
        fs::remove(stream);
    }
    EXPECT_EQ(filesIn(work), std::vector<std::string>{});
    EXPECT_TRUE(scratchIsClean());
}

// Programs started while it lives inherit the "C" locale, as they do in a session that sets none.
class PlainLocale {
public:
    PlainLocale() {
        if (const char* value = std::getenv("LC_ALL")) m_saved = value;
        ::setenv("LC_ALL", "C", 1);
    }
    ~PlainLocale() {
        if (m_saved) ::setenv("LC_ALL", m_saved->c_str(), 1);
        else ::unsetenv("LC_ALL");
    }
    PlainLocale(const PlainLocale&) = delete;
    PlainLocale& operator=(const PlainLocale&) = delete;

private:
    std::optional<std::string> m_saved;
};

TEST_F(ArchiveEngineFiles, FullwidthAndOtherNamesReadBackAsThemselves) {
    // Fullwidth tilde, solidus and grave accent, the wave dash they are mistaken for, and names
    // from other scripts.
    const std::vector<std::pair<std::string, std::string>> files{
        {"\xEF\xBD\x9E" "tilde.txt", "1"},       {"slash\xEF\xBC\x8F" "half.txt", "2"},
        {"\xEF\xBD\x80" "grave\xEF\xBD\x80.txt", "3"}, {"wave\xE3\x80\x9C" "dash.txt", "4"},
        {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "5"},   {"caf\xC3\xA9/na\xC3\xAFve.txt", "6"},
    };
    const fs::path tar = pack("names.tar", files, {"--format=pax"});
    for (const bool plainLocale : {false, true}) {
        for (const std::string to : {"zip", "7z", "tar", "targz", "xz"}) {
            SCOPED_TRACE(to + (plainLocale ? " in the C locale" : ""));
            std::vector<fs::path> outputs;
            std::vector<fs::path> folder;
            {
                std::optional<PlainLocale> locale;
                if (plainLocale) locale.emplace();
                outputs = engine().convert(ArchiveFixtures::job(tar, "tar", work / ("names-out." + to), to), [](double) {}, {});
                ASSERT_EQ(outputs.size(), 1u);
                // And back out of it, file by file.
                folder = engine().convert(ArchiveFixtures::job(outputs[0], to, work / "names-back", "zip", "extract"),
                                          [](double) {}, {});
                ASSERT_EQ(folder.size(), 1u);
            }
            const std::vector<std::string> listed = ArchiveFixtures::list(outputs[0]);
            for (const auto& [name, data] : files) {
                EXPECT_NE(std::find(listed.begin(), listed.end(), name), listed.end()) << name;
                EXPECT_EQ(testing::readFile(folder[0] / name), data) << name;
            }
            fs::remove_all(folder[0]);
            fs::remove(outputs[0]);
        }
    }
}

}  // namespace
}  // namespace kolvex
