// SPDX-License-Identifier: GPL-3.0-or-later
// Archives nested deeper, or with names longer, than the system takes: refused before anything
// is unpacked, with the limit named, and nothing left anywhere; those within it unpack whole.
#include <algorithm>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "ArchiveFixtures.h"
#include "core/services/PathUtils.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveEngineFiles;
using testing::ArchiveFixtures;
using testing::entriesOf;
using testing::TarBuilder;
using testing::ZipBuilder;

// "d/d/…/d/leaf.txt" at `depth` folders, each folder an entry of its own as archivers write them.
std::string nested(const std::string& kind, int depth, const std::string& name = "d") {
    TarBuilder tar;
    ZipBuilder zip;
    std::string path;
    for (int level = 0; level < depth; ++level) {
        path += name + "/";
        if (kind == "tar") tar.directory(path);
    }
    if (kind == "tar") return tar.file(path + "leaf.txt", "leaf").bytes();
    return zip.file(path + "leaf.txt", "leaf").bytes();
}

struct Nesting {
    int depth;
    std::string name;  // of each folder
    const char* limit;  // the words naming the limit it passes; none: it unpacks
};

TEST_F(ArchiveEngineFiles, PathsBeyondTheSystemsLimitsAreRefusedNamingTheLimit) {
    std::string why;
    if (!ArchiveFixtures::available(&why)) GTEST_SKIP() << why;
    const std::vector<Nesting> nestings{
        {300, "d", nullptr},
        {2100, "d", "holds a path longer than the system allows (4095 bytes)"},
        {10000, "d", "holds a path longer than the system allows (4095 bytes)"},
        {2, std::string(255, 'n'), nullptr},
        {1, std::string(256, 'n'), "holds a name longer than the system allows (255 bytes)"},
    };
    for (const std::string kind : {"tar", "zip"}) {
        for (const Nesting& nesting : nestings) {
            for (const auto& tool : {std::optional<std::string>("extract"), std::optional<std::string>()}) {
                SCOPED_TRACE(fmt::format("{} {} deep, names of {} bytes, {}", kind, nesting.depth, nesting.name.size(),
                                         tool.value_or("repack")));
                const fs::path archive = dir.write("work/deep." + kind, nested(kind, nesting.depth, nesting.name));
                const auto error = failure(engine(), ArchiveFixtures::job(archive, kind, work / "deep.7z", "7z", tool));
                if (nesting.limit) {
                    ASSERT_TRUE(error) << "went through";
                    EXPECT_EQ(*error, ConversionError::beyondLimit(archive, nesting.limit)) << error->what();
                    EXPECT_EQ(error->shortDescription(), "deep." + kind + " " + nesting.limit);
                    EXPECT_EQ(entriesOf(work), std::vector<std::string>{"deep." + kind}) << "left in the folder";
                } else {
                    EXPECT_FALSE(error) << error->what();
                    std::string leaf;
                    for (int level = 0; level < nesting.depth; ++level) leaf += nesting.name + "/";
                    leaf += "leaf.txt";
                    const fs::path output = tool ? work / "deep" : work / "deep.7z";
                    if (tool) {
                        EXPECT_TRUE(fs::is_regular_file(output / leaf));
                    } else {
                        const auto listed = ArchiveFixtures::list(output);
                        EXPECT_NE(std::find(listed.begin(), listed.end(), leaf), listed.end());
                    }
                    fs::remove_all(output);
                }
                EXPECT_TRUE(scratchIsClean());
                fs::remove(archive);
            }
        }
    }
}

// A name of the longest length whose bytes are not UTF-8, escaped for 7-Zip (three bytes for each
// odd one), is cut to fit rather than failing the job; its extension stays.
TEST_F(ArchiveEngineFiles, EscapedNamesPastTheLongestNameAreCutToFit) {
    std::string why;
    if (!ArchiveFixtures::available(&why)) GTEST_SKIP() << why;
    for (const std::string extension : {"", ".txt"}) {
        SCOPED_TRACE(extension.empty() ? "no extension" : extension);
        const std::string name = std::string(100, '\xE9') + std::string(255 - 100 - extension.size(), 'a') + extension;
        const fs::path archive = dir.write("work/odd.tar", TarBuilder().file(name, "odd").file("plain.txt", "plain").bytes());
        const fs::path output = work / "odd.7z";
        const auto error = failure(engine(), ArchiveFixtures::job(archive, "tar", output, "7z"));
        ASSERT_FALSE(error) << error->what() << " " << error->diagnosticDetail().value_or("");
        std::vector<std::string> listed = ArchiveFixtures::list(output);
        std::sort(listed.begin(), listed.end());
        ASSERT_EQ(listed.size(), 2u);
        EXPECT_EQ(listed[1], "plain.txt");
        EXPECT_TRUE(listed[0].starts_with("%E9%E9")) << listed[0];
        EXPECT_LE(listed[0].size(), 255u);
        if (!extension.empty()) {
            EXPECT_TRUE(listed[0].ends_with(extension)) << listed[0];
        }
        fs::remove(output);
        fs::remove(archive);
        EXPECT_TRUE(scratchIsClean());
    }
}

TEST_F(ArchiveEngineFiles, AFileAndAFolderOfOneNameAreRefusedNamingThem) {
    std::string why;
    if (!ArchiveFixtures::available(&why)) GTEST_SKIP() << why;
    for (const std::string kind : {"tar", "zip"}) {
        for (const bool folderFirst : {false, true}) {
            for (const bool folderEntry : {true, false}) {  // "x/" itself, or only "x/inside.txt" below it
                SCOPED_TRACE(fmt::format("{}, folder {}, {}", kind, folderFirst ? "first" : "second",
                                         folderEntry ? "as an entry" : "made by an entry below it"));
                TarBuilder tar;
                ZipBuilder zip;
                const auto addFile = [&] { kind == "tar" ? (void)tar.file("x", "file") : (void)zip.file("x", "file"); };
                const auto addFolder = [&] {
                    if (folderEntry && kind == "tar") tar.directory("x/");
                    if (folderEntry && kind == "zip") zip.file("x/", "");
                    kind == "tar" ? (void)tar.file("x/inside.txt", "inside") : (void)zip.file("x/inside.txt", "inside");
                };
                if (folderFirst) {
                    addFolder();
                    addFile();
                } else {
                    addFile();
                    addFolder();
                }
                const fs::path archive = dir.write("work/both." + kind, kind == "tar" ? tar.bytes() : zip.bytes());
                for (const auto& tool : {std::optional<std::string>("extract"), std::optional<std::string>()}) {
                    const auto error = failure(engine(), ArchiveFixtures::job(archive, kind, work / "both.zip", "zip", tool));
                    ASSERT_TRUE(error) << "went through";
                    EXPECT_EQ(error->shortDescription(), "both." + kind + " holds two files that would both be unpacked as x");
                    EXPECT_EQ(entriesOf(work), std::vector<std::string>{"both." + kind}) << "left in the folder";
                    EXPECT_TRUE(scratchIsClean());
                }
                fs::remove(archive);
            }
        }
    }
}

}  // namespace
}  // namespace kolvex
