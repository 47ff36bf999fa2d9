// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "core/services/ByteCountFormatter.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"
#include "core/services/ResourceBundle.h"
#include "core/services/StrictJson.h"
#include "core/services/Uuid.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

TEST(ByteCountFormatter, FileStyle) {
    const std::pair<int64_t, const char*> rows[] = {
        {0, "Zero KB"},          {1, "1 byte"},          {2, "2 bytes"},        {999, "999 bytes"},
        {1000, "1 KB"},          {1499, "1 KB"},         {1500, "2 KB"},        {999'499, "999 KB"},
        {999'500, "1 MB"},       {1'500'000, "1.5 MB"},  {12'000'000, "12 MB"}, {12'340'000, "12.3 MB"},
        {1'234'000'000, "1.23 GB"}, {2'000'000'000'000, "2 TB"}, {-1, "-1 byte"},
    };
    for (auto [bytes, text] : rows) EXPECT_EQ(ByteCountFormatter::file(bytes), text) << bytes;
}

TEST(PathUtils, ComponentsAndExtensions) {
    EXPECT_EQ(paths::lastComponent("/a/b/"), "b");
    EXPECT_EQ(paths::lastComponent("/a/b.txt"), "b.txt");
    EXPECT_EQ(paths::lastComponent("/"), "/");
    EXPECT_EQ(paths::deletingLastComponent("/a/b/"), fs::path("/a"));
    EXPECT_EQ(paths::deletingLastComponent("/a"), fs::path("/"));
    EXPECT_EQ(paths::extension("/x/archive.tar.gz"), "gz");
    EXPECT_EQ(paths::extension("/x/.bashrc"), "");
    EXPECT_EQ(paths::extension("/x/noext"), "");
    EXPECT_EQ(paths::stem("/x/photo.JPG"), "photo");
    EXPECT_EQ(paths::asciiLower("PhOtO.JPG"), "photo.jpg");
}

TEST(Uuid, UpperCaseAndDistinct) {
    auto a = Uuid::random().toString();
    EXPECT_TRUE(std::regex_match(a, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"))) << a;
    EXPECT_NE(a, Uuid::random().toString());
}

TEST(StrictJson, RefusesLooseValues) {
    auto doc = json::parse(R"({"s": "x", "n": 3, "f": 1.5, "b": true, "z": null})");
    EXPECT_EQ(json::requireString(doc, "s", ""), "x");
    EXPECT_THROW(json::requireString(doc, "n", ""), json::JsonError);
    EXPECT_THROW(json::requireBool(doc, "s", ""), json::JsonError);
    EXPECT_THROW(json::requireInt(doc, "b", ""), json::JsonError);
    EXPECT_THROW(json::requireInt(doc, "f", ""), json::JsonError);
    EXPECT_THROW(json::requireString(doc, "z", ""), json::JsonError);
    EXPECT_THROW(json::requireString(doc, "missing", ""), json::JsonError);
    EXPECT_THROW(json::parse(R"({"big": 1e999})"), json::JsonError);
    EXPECT_EQ(json::requireDouble(doc, "n", ""), 3.0);
    EXPECT_FALSE(json::optionalString(doc, "z", ""));
    EXPECT_FALSE(json::optionalString(doc, "missing", ""));
    EXPECT_THROW(json::optionalString(doc, "n", ""), json::JsonError);
    EXPECT_THROW(json::parse("{"), json::JsonError);
    // Deep nesting is refused before it is read; brackets inside strings do not count.
    EXPECT_THROW(json::parse(std::string(100'000, '[') + std::string(100'000, ']')), json::JsonError);
    EXPECT_NO_THROW(json::parse(std::string(json::kMaxNesting, '[') + std::string(json::kMaxNesting, ']')));
    EXPECT_NO_THROW(json::parse("\"" + std::string(1000, '[') + "\\\"{\""));
}

TEST(ResourceBundle, SearchOrderAndSkips) {
    testing::TempDir dir;
    fs::create_directories(dir / "prefix/share/kolvex/Kolvex_KolvexCore.bundle");
    fs::create_directories(dir / "prefix/bin/Kolvex_KolvexCore.bundle");
    dir.write("prefix/Kolvex_KolvexUI.bundle", "a file, not a bundle");
    fs::create_directories(dir / "prefix/bin/Kolvex_KolvexUI.bundle");

    ResourceBundle::SearchBases bases;
    bases.applicationResources = dir / "prefix/share/kolvex";
    bases.applicationFolder = dir / "prefix";
    bases.executableFolder = dir / "prefix/bin";

    EXPECT_EQ(ResourceBundle::named("Kolvex_KolvexCore", bases), dir / "prefix/share/kolvex/Kolvex_KolvexCore.bundle");
    EXPECT_EQ(ResourceBundle::named("Kolvex_KolvexCore.bundle", bases),
              ResourceBundle::named("Kolvex_KolvexCore", bases));
    EXPECT_EQ(ResourceBundle::named("Kolvex_KolvexUI", bases), dir / "prefix/bin/Kolvex_KolvexUI.bundle");
    EXPECT_FALSE(ResourceBundle::named("Nothing", bases));
}

TEST(ResourceBundle, FindsTheCoreBundleFromTheBuildTree) {
    auto bundle = ResourceBundle::named("Kolvex_KolvexCore");
    ASSERT_TRUE(bundle);
    EXPECT_TRUE(fs::exists(*bundle / "FormatManifest.json"));
}

TEST(ResourceBundle, OnlyProgramsInsideTheBuildStageSearchIt) {
    const auto here = ResourceBundle::SearchBases::current();
    ASSERT_TRUE(here.executableFolder);
    EXPECT_TRUE(here.coreFolder) << "this test runs from the build stage";
    // The same program copied elsewhere looks only beside itself.
    const auto copy = ResourceBundle::SearchBases::forExecutable("/opt/elsewhere/bin/kolvex");
    for (const auto& base : copy.ordered())
        EXPECT_EQ(base.string().rfind("/opt/elsewhere", 0), 0u) << base;
    EXPECT_EQ(copy.coreResources, fs::path("/opt/elsewhere/share/kolvex"));
}

TEST(Log, CaptureSeesEveryCategory) {
    LogCapture capture;
    Log::conversion().info("Loaded {} formats", 3);
    Log::files().warn("scratch {}", "x");
    { Log::Interval interval("portal.reveal"); }
    EXPECT_TRUE(capture.contains("conversion", "Loaded 3 formats"));
    EXPECT_TRUE(capture.contains("files", "scratch x"));
    EXPECT_TRUE(capture.contains("performance", "portal.reveal took"));
    EXPECT_FALSE(capture.contains("app", "Loaded"));
    EXPECT_EQ(Log::subsystem(), "org.kolvex.Kolvex");
}

}  // namespace
}  // namespace kolvex
