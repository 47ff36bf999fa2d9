// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "core/format/ConversionError.h"
#include "core/services/FileManagerService.h"
#include "core/services/OutputNaming.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

bool validUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

TEST(OutputNaming, Stems) {
    const std::pair<const char*, const char*> rows[] = {
        {"Backup.TAR.GZ", "Backup"},
        {"logs.tar.zst", "logs"},
        {"old.Tar.Z", "old"},
        {"movie.final.mp4", "movie.final"},
        {".tar.gz", ".tar"},
        {".hidden", ".hidden"},
        {"README", "README"},
        {"-rf.png", "-rf"},
        {"two  spaces .jpg", "two  spaces "},
        {"archive.tar.gz.part", "archive.tar.gz"},
        {"Cafe\xCC\x81.jpg", "Caf\xC3\xA9"},  // decomposed é comes back composed
        {"\xE5\x86\x99\xE7\x9C\x9F.heic", "\xE5\x86\x99\xE7\x9C\x9F"},
    };
    for (auto [name, stem] : rows) EXPECT_EQ(OutputNaming::stem(name), stem) << name;
}

TEST(OutputNaming, FilenamesJoinStemNumberAndExtension) {
    EXPECT_EQ(OutputNaming::filename("photo", 2, "jpg"), "photo 2.jpg");
    EXPECT_EQ(OutputNaming::filename("photo", std::nullopt, ""), "photo");
    EXPECT_EQ(OutputNaming::filename("", std::nullopt, "png"), "file.png");
    EXPECT_EQ(OutputNaming::filename("-n", std::nullopt, "png"), "-n.png");
    EXPECT_EQ(OutputNaming::filename(".", std::nullopt, ""), "file");
}

TEST(OutputNaming, LongNamesStayWithinTheByteLimitWithoutCuttingACharacter) {
    const std::string ascii(300, 'a');
    const std::string cut = OutputNaming::filename(ascii, 12, "png");
    EXPECT_EQ(cut.size(), 255u);
    EXPECT_EQ(cut, std::string(248, 'a') + " 12.png");

    struct Row {
        const char* character;  // one grapheme cluster
        const char* what;
    };
    const Row rows[] = {
        {"\xC3\xA9", "two-byte letter"},
        {"e\xCC\x81", "letter with a combining accent"},
        {"\xE5\x86\x99", "three-byte ideograph"},
        {"\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7", "family emoji sequence"},
    };
    for (const auto& row : rows) {
        std::string stem;
        while (stem.size() < 400) stem += row.character;
        for (std::optional<int> suffix : {std::optional<int>(), std::optional<int>(7), std::optional<int>(999)}) {
            const std::string name = OutputNaming::filename(stem, suffix, "jpeg");
            EXPECT_LE(name.size(), OutputNaming::maxFilenameBytes) << row.what;
            EXPECT_TRUE(validUtf8(name)) << row.what;
            const std::string tail = (suffix ? " " + std::to_string(*suffix) : "") + ".jpeg";
            const std::string kept = name.substr(0, name.size() - tail.size());
            const size_t unit = std::string(row.character).size();
            EXPECT_EQ(kept.size() % unit, 0u) << row.what;  // whole characters only
            EXPECT_GT(kept.size() + tail.size() + unit, OutputNaming::maxFilenameBytes) << row.what;  // no more cut than needed
        }
    }
}

TEST(OutputNaming, NamesThatAreNotUtf8KeepTheirBytes) {
    // Linux allows any bytes in a name; they are kept as they are, never replaced.
    EXPECT_EQ(OutputNaming::stem("\xFF\xFEscan.TAR.GZ"), "\xFF\xFEscan");
    EXPECT_EQ(OutputNaming::stem("caf\xE9.png"), "caf\xE9");
    const std::string name = OutputNaming::filename(std::string(300, '\xE9'), 3, "jpg");
    EXPECT_EQ(name.size(), 255u);
    EXPECT_EQ(name.substr(name.size() - 6), " 3.jpg");
}

TEST(OutputNaming, DestinationTakesTheFirstFreeNumberedName) {
    TempDir dir;
    auto source = dir.write("photo.png", "x");
    dir.write("photo.jpg", "taken");
    dir.write("photo 2.jpg", "taken");
    auto exists = [](const fs::path& p) { return fs::exists(p); };
    EXPECT_EQ(OutputNaming::destination(source, ".JPG", std::nullopt, exists), dir / "photo 3.jpg");
    EXPECT_EQ(OutputNaming::destination(source, "WEBP.", std::nullopt, exists), dir / "photo.webp");

    TempDir other;
    other.write("photo.jpg", "taken");
    EXPECT_EQ(OutputNaming::destination(source, "jpg", other.path(), exists), other / "photo 2.jpg");

    auto readme = dir.write("README", "x");
    EXPECT_EQ(OutputNaming::destination(readme, "txt", std::nullopt, exists), dir / "README.txt");
    auto dashed = dir.write("-rf my file.png", "x");
    EXPECT_EQ(OutputNaming::destination(dashed, "jpg", std::nullopt, exists), dir / "-rf my file.jpg");
    auto backup = dir.write("backup.tar.gz", "x");
    EXPECT_EQ(OutputNaming::destination(backup, "zip", std::nullopt, exists), dir / "backup.zip");
}

TEST(OutputNaming, LongAndUnicodeNamesInARealFolder) {
    TempDir dir;
    const auto& files = FileManagerService::shared();
    auto rename = Preferences::ConflictBehaviour::rename;

    // The longest name the file system allows, converted to a longer extension: the stem gives way.
    const auto longSource = dir.write(std::string(251, 'a') + ".png", "x");
    const auto first = files.destination(longSource, "jpeg", std::nullopt, rename);
    EXPECT_EQ(first.filename().string().size(), 255u);
    dir.write(first.filename().string(), "taken");  // the file system accepts it
    const auto second = files.destination(longSource, "jpeg", std::nullopt, rename);
    EXPECT_EQ(second.filename().string(), std::string(248, 'a') + " 2.jpeg");
    dir.write(second.filename().string(), "taken");

    // Multi-byte characters at the limit: 85 three-byte characters (255 bytes) plus ".png".
    std::string wide;
    for (int i = 0; i < 84; ++i) wide += "\xE5\x86\x99";
    const auto wideSource = dir.write(wide + ".png", "x");
    const auto wideOut = files.destination(wideSource, "webp", std::nullopt, rename);
    EXPECT_LE(wideOut.filename().string().size(), 255u);
    EXPECT_TRUE(validUtf8(wideOut.filename().string()));
    dir.write(wideOut.filename().string(), "taken");
    EXPECT_EQ(files.destination(wideSource, "webp", std::nullopt, rename).filename().string().substr(0, 3), "\xE5\x86\x99");

    // Decomposed names come out composed; hidden and extension-less names keep their stem.
    const auto decomposed = dir.write("Cafe\xCC\x81 menu.png", "x");
    EXPECT_EQ(files.destination(decomposed, "jpg", std::nullopt, rename).filename(), "Caf\xC3\xA9 menu.jpg");
    const auto hidden = dir.write(".hidden", "x");
    EXPECT_EQ(files.destination(hidden, "txt", std::nullopt, rename).filename(), ".hidden.txt");
    const auto hiddenPng = dir.write(".cover.png", "x");
    EXPECT_EQ(files.destination(hiddenPng, "png", std::nullopt, rename).filename(), ".cover 2.png");
}

TEST(OutputNaming, NamesAfterOneTakenAtTheLastMoment) {
    const std::set<fs::path> present = {"/d/photo.jpg", "/d/clip 7.mp4", "/d/clip.mp4"};
    const auto exists = [&](const fs::path& p) { return present.contains(p); };
    struct Row {
        const char* taken;
        bool withExtension;
        const char* first;
        size_t count;
    };
    const Row rows[] = {
        {"/d/photo.jpg", true, "/d/photo 2.jpg", 998},
        // A number given to step round the plain name goes on from there...
        {"/d/clip 7.mp4", true, "/d/clip 8.mp4", 992},
        // ...but a stem that merely ends in a number keeps it.
        {"/d/track 2.mp3", true, "/d/track 2 2.mp3", 998},
        {"/d/Backup.tar.gz", true, "/d/Backup 2.tar.gz", 998},
        {"/d/README", true, "/d/README 2", 998},
        {"/d/unpacked.d", false, "/d/unpacked.d 2", 998},
    };
    for (const auto& row : rows) {
        const auto names = OutputNaming::successors(row.taken, row.withExtension, exists);
        ASSERT_EQ(names.size(), row.count) << row.taken;
        EXPECT_EQ(names.front(), fs::path(row.first)) << row.taken;
        EXPECT_EQ(std::set<fs::path>(names.begin(), names.end()).size(), names.size()) << row.taken;
        EXPECT_FALSE(std::set<fs::path>(names.begin(), names.end()).contains(row.taken)) << row.taken;
    }
    // Long names stay within the limit as the numbers grow.
    const std::string longStem(250, 'x');
    for (const auto& name : OutputNaming::successors("/d/" + longStem + ".png", true, exists))
        EXPECT_LE(name.filename().string().size(), OutputNaming::maxFilenameBytes);
}

TEST(OutputNaming, AllNamesTakenReportsThePlainName) {
    std::set<std::string> asked;
    auto allTaken = [&](const fs::path& p) {
        asked.insert(p.filename().string());
        return true;
    };
    try {
        OutputNaming::destination("/x/photo.png", "jpg", std::nullopt, allTaken);
        FAIL() << "expected outputNameUnavailable";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::outputNameUnavailable);
        EXPECT_EQ(error.url(), fs::path("/x/photo.jpg"));
    }
    EXPECT_EQ(asked.size(), 999u);
    EXPECT_TRUE(asked.contains("photo 999.jpg"));
    EXPECT_FALSE(asked.contains("photo 1.jpg"));
}

TEST(FileManagerService, DestinationByConflictBehaviour) {
    TempDir dir;
    auto source = dir.write("photo.jpg", "x");
    const auto& files = FileManagerService::shared();
    EXPECT_EQ(files.destination(source, "jpg", std::nullopt, Preferences::ConflictBehaviour::replace), dir / "photo.jpg");
    EXPECT_EQ(files.destination(source, "jpg", std::nullopt, Preferences::ConflictBehaviour::rename), dir / "photo 2.jpg");
    EXPECT_EQ(files.destination(source, "jpg", std::nullopt, Preferences::ConflictBehaviour::ask), dir / "photo 2.jpg");
    // A folder holding the plain name takes it as well.
    fs::create_directory(dir / "photo.png");
    EXPECT_EQ(files.destination(source, "png", std::nullopt, Preferences::ConflictBehaviour::rename), dir / "photo 2.png");
    // So does a dangling symbolic link.
    fs::create_symlink(dir / "nowhere", dir / "photo.gif");
    EXPECT_EQ(files.destination(source, "gif", std::nullopt, Preferences::ConflictBehaviour::rename), dir / "photo 2.gif");
}

}  // namespace
}  // namespace kolvex
