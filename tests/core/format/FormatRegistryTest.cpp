// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/format/FormatRegistry.h"
#include "core/services/Log.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

// A small manifest written for these tests; the shipped one is checked separately.
const char* kManifest = R"({
  "formats": [
    {"id": "png", "category": "image", "extensions": ["png"], "contentTypes": ["image/png"], "capabilities": [], "label": "PNG"},
    {"id": "jpg", "category": "image", "extensions": ["JPG", "jpeg"], "contentTypes": ["image/jpeg"], "capabilities": ["lossy"], "label": "JPEG"},
    {"id": "webp", "category": "image", "extensions": ["webp"], "contentTypes": ["image/webp"], "capabilities": [], "label": "WebP"},
    {"id": "gif", "category": "image", "extensions": ["gif"], "contentTypes": ["image/gif"], "capabilities": [], "label": "GIF"},
    {"id": "heic", "category": "image", "extensions": ["heic"], "contentTypes": ["image/heif"], "capabilities": [], "label": "HEIC"},
    {"id": "raw", "category": "image", "extensions": [], "contentTypes": [], "capabilities": [], "label": "Raw"},
    {"id": "mp4", "category": "video", "extensions": ["mp4"], "contentTypes": ["video/mp4"], "capabilities": [], "label": "MP4"},
    {"id": "mov", "category": "video", "extensions": ["mov"], "contentTypes": ["video/quicktime"], "capabilities": [], "label": "MOV"},
    {"id": "gzip", "category": "archive", "extensions": ["gz"], "contentTypes": ["application/gzip"], "capabilities": [], "label": "GZIP"},
    {"id": "targz", "category": "archive", "extensions": ["tar.gz", "tgz"], "contentTypes": ["application/x-compressed-tar"], "capabilities": [], "label": "TAR.GZ"},
    {"id": "zip", "category": "archive", "extensions": ["zip"], "contentTypes": ["application/zip"], "capabilities": [], "label": "ZIP"}
  ],
  "conversions": [
    {"from": "png", "to": "jpg", "engine": "image", "cost": "inProcess", "passthroughPossible": false},
    {"from": "png", "to": "webp", "engine": "ffmpeg", "cost": "subprocess", "passthroughPossible": false},
    {"from": "png", "to": "webp", "engine": "image", "cost": "inProcess", "passthroughPossible": false},
    {"from": "png", "to": "webp", "engine": "pdf", "cost": "hardware", "passthroughPossible": false},
    {"from": "png", "to": "webp", "engine": "audio", "cost": "inProcess", "passthroughPossible": true},
    {"from": "png", "to": "gif", "engine": "image", "cost": "inProcess", "passthroughPossible": false},
    {"from": "png", "to": "png", "engine": "image", "cost": "inProcess", "passthroughPossible": false},
    {"from": "heic", "to": "webp", "engine": "image", "cost": "inProcess", "passthroughPossible": false},
    {"from": "heic", "to": "jpg", "engine": "image", "cost": "inProcess", "passthroughPossible": false},
    {"from": "mp4", "to": "mov", "engine": "ffmpeg", "cost": "subprocess", "passthroughPossible": true},
    {"from": "targz", "to": "zip", "engine": "archive", "cost": "subprocess", "passthroughPossible": false},
    {"from": "gzip", "to": "zip", "engine": "archive", "cost": "subprocess", "passthroughPossible": false}
  ],
  "tools": [
    {"id": "compress", "label": "Compress", "categories": ["image", "video"], "engine": "image", "foldsInputs": false},
    {"id": "merge", "label": "Merge", "categories": ["video"], "engine": "ffmpeg", "foldsInputs": true},
    {"id": "resize", "label": "Resize", "categories": ["image"], "engine": "image", "foldsInputs": false},
    {"id": "compress", "label": "Compress again", "categories": [], "engine": "image", "foldsInputs": false},
    {"id": "extract", "label": "Extract", "categories": ["archive"], "engine": "archive", "foldsInputs": false}
  ]
})";

FormatRegistry testRegistry() { return FormatRegistry(FormatManifest::decode(kManifest)); }

std::vector<std::string> ids(const std::vector<Format>& formats) {
    std::vector<std::string> out;
    for (const auto& f : formats) out.push_back(f.id.rawValue);
    return out;
}

std::vector<std::string> ids(const std::vector<ToolDefinition>& tools) {
    std::vector<std::string> out;
    for (const auto& t : tools) out.push_back(t.id);
    return out;
}

std::vector<std::string> engines(const std::vector<ConversionCapability>& list) {
    std::vector<std::string> out;
    for (const auto& c : list) out.push_back(c.engine.rawValue);
    return out;
}

Format simpleFormat(const std::string& id, FormatCategory category, std::vector<std::string> extensions) {
    return Format{FormatID(id), category, std::move(extensions), {}, {}, id};
}

TEST(FormatRegistry, RecognisesFilesByTheirLongestExtension) {
    const auto registry = testRegistry();
    const std::pair<const char*, const char*> rows[] = {
        {"/a/x.tar.gz", "targz"},     {"/a/X.TAR.GZ", "targz"},       {"/a/Backup.Tar.Gz", "targz"},
        {"/a/x.gz", "gzip"},          {"/a/x.tgz", "targz"},          {"/a/tar.gz", "gzip"},  // no dot before "tar"
        {"/a/gz", nullptr},           {"/a/.png", "png"},             {"/a/photo.PNG", "png"},
        {"/a/b.c.jpeg", "jpg"},       {"/a/photo.JPG", "jpg"},        {"/a/readme", nullptr},
        {"/a/.bashrc", nullptr},      {"/a/x.unknown", nullptr},      {"/a/archive.zip/", "zip"},
        {"/a/Ünïcødé.PNG", "png"},    {"/a/-rf.mp4", "mp4"},          {"/a/with space.mov", "mov"},
        {"/a/x.png.", nullptr},       {"", nullptr},                  {"/", nullptr},
        {"/a/x.raw", nullptr},        // a format without extensions is never recognised by name
    };
    for (auto [path, expected] : rows) {
        auto found = registry.formatFor(path);
        if (expected) {
            ASSERT_TRUE(found) << path;
            EXPECT_EQ(found->id.rawValue, expected) << path;
        } else {
            EXPECT_FALSE(found) << path << " → " << (found ? found->id.rawValue : "");
        }
    }
}

TEST(FormatRegistry, ExtensionTablesAndOwnership) {
    FormatManifest m;
    m.formats = {simpleFormat("gzip", FormatCategory::archive, {"gz"}),
                 simpleFormat("targz", FormatCategory::archive, {"tar.gz"}),
                 simpleFormat("7z", FormatCategory::archive, {"7z"}),
                 simpleFormat("zip", FormatCategory::archive, {"ZIP"}),
                 simpleFormat("jpeg-a", FormatCategory::image, {"jpg"}),
                 simpleFormat("jpeg-b", FormatCategory::image, {"JPG", "jpe"})};
    FormatRegistry registry(m);
    EXPECT_EQ(registry.extensionsByLength(),
              (std::vector<std::string>{"tar.gz", "jpe", "jpg", "zip", "7z", "gz"}));
    // The later format in the manifest owns a shared extension, whatever its case.
    EXPECT_EQ(registry.idsByExtension().at("jpg"), FormatID("jpeg-b"));
    EXPECT_EQ(registry.formatFor("/x/a.jpg")->id, FormatID("jpeg-b"));
    EXPECT_EQ(registry.idsByExtension().size(), registry.extensionsByLength().size());

    // A repeated id: the later format wins.
    m.formats.push_back(Format{FormatID("zip"), FormatCategory::archive, {"zip"}, {}, {}, "Second ZIP"});
    EXPECT_EQ(FormatRegistry(m).format("zip")->label, "Second ZIP");
}

TEST(FormatRegistry, FindsFormatsByExtensionText) {
    const auto registry = testRegistry();
    for (const char* text : {"png", ".png", "png.", "..png", "PNG", ".PnG."}) {
        auto found = registry.formatForExtension(text);
        ASSERT_TRUE(found) << text;
        EXPECT_EQ(found->id, FormatID("png")) << text;
    }
    EXPECT_EQ(registry.formatForExtension("tar.gz")->id, FormatID("targz"));
    EXPECT_EQ(registry.formatForExtension("gz")->id, FormatID("gzip"));
    EXPECT_EQ(registry.formatForExtension("jpeg")->id, FormatID("jpg"));
    for (const char* text : {"", ".", "..", "x.png", "raw", "zzz"}) EXPECT_FALSE(registry.formatForExtension(text)) << text;

    EXPECT_EQ(registry.format("raw")->canonicalExtension(), "raw");
    EXPECT_EQ(registry.format("jpg")->canonicalExtension(), "JPG");
    EXPECT_FALSE(registry.format("PNG"));  // ids are exact
}

TEST(FormatRegistry, OrdersConversionsByCostKeepingManifestOrder) {
    const auto registry = testRegistry();
    // subprocess, inProcess(image), hardware, inProcess(audio) in the manifest.
    EXPECT_EQ(engines(registry.capabilities("png", "webp")),
              (std::vector<std::string>{"pdf", "image", "audio", "ffmpeg"}));
    EXPECT_EQ(registry.bestCapability("png", "webp")->engine, EngineID("pdf"));
    EXPECT_TRUE(registry.capabilities("png", "mov").empty());
    EXPECT_TRUE(registry.capabilities("nope", "webp").empty());
    EXPECT_FALSE(registry.bestCapability("webp", "png"));
    EXPECT_EQ(registry.conversionCount(), 12);
}

TEST(FormatRegistry, ListsOutputsOnceInOrderOfFirstConversion) {
    const auto registry = testRegistry();
    EXPECT_EQ(ids(registry.supportedOutputs("png")), (std::vector<std::string>{"jpg", "webp", "gif", "png"}));
    EXPECT_TRUE(registry.supportedOutputs("webp").empty());
    EXPECT_TRUE(registry.supportedOutputs("unknown").empty());
}

TEST(FormatRegistry, CommonOutputsAndToolsOfSeveralFiles) {
    const auto registry = testRegistry();
    using Paths = std::vector<fs::path>;

    // Common outputs keep the first file's order.
    EXPECT_EQ(ids(registry.supportedOutputsForFiles(Paths{"/a/p.png", "/a/h.heic"})),
              (std::vector<std::string>{"jpg", "webp"}));
    EXPECT_EQ(ids(registry.supportedOutputsForFiles(Paths{"/a/h.heic", "/a/p.png"})),
              (std::vector<std::string>{"webp", "jpg"}));
    // A file without outputs empties the set.
    EXPECT_TRUE(registry.supportedOutputsForFiles(Paths{"/a/p.png", "/a/w.webp"}).empty());

    // Mixed categories: nothing at all.
    const Paths mixed{"/a/p.png", "/a/m.mp4"};
    EXPECT_TRUE(registry.supportedOutputsForFiles(mixed).empty());
    EXPECT_TRUE(registry.toolsForFiles(mixed).empty());
    EXPECT_FALSE(registry.category(mixed));
    EXPECT_EQ(registry.categoryCount(mixed), 2);

    // Unrecognised files are ignored, except that they count towards two files.
    const Paths withUnknown{"/a/m.mp4", "/a/notes.unknown"};
    EXPECT_EQ(ids(registry.supportedOutputsForFiles(withUnknown)), (std::vector<std::string>{"mov"}));
    EXPECT_EQ(ids(registry.toolsForFiles(withUnknown)), (std::vector<std::string>{"compress", "merge"}));
    EXPECT_EQ(registry.category(withUnknown), FormatCategory::video);
    EXPECT_EQ(registry.categoryCount(withUnknown), 1);

    // A folding tool needs two files.
    EXPECT_EQ(ids(registry.toolsForFiles(Paths{"/a/m.mp4"})), (std::vector<std::string>{"compress"}));
    EXPECT_EQ(ids(registry.toolsForFiles(Paths{"/a/m.mp4", "/a/n.mov"})), (std::vector<std::string>{"compress", "merge"}));

    // Nothing recognised.
    for (const Paths& none : {Paths{}, Paths{"/a/x.unknown"}}) {
        EXPECT_TRUE(registry.supportedOutputsForFiles(none).empty());
        EXPECT_TRUE(registry.toolsForFiles(none).empty());
        EXPECT_FALSE(registry.category(none));
        EXPECT_EQ(registry.categoryCount(none), 0);
    }
}

TEST(FormatRegistry, ToolLookupsAndListings) {
    const auto registry = testRegistry();
    EXPECT_EQ(registry.tool("compress")->label, "Compress");  // the first of a repeated id
    EXPECT_FALSE(registry.tool("Compress"));
    EXPECT_EQ(ids(registry.tools(FormatCategory::image)), (std::vector<std::string>{"compress", "resize"}));
    EXPECT_TRUE(registry.tools(FormatCategory::pdf).empty());

    auto tools = registry.allTools();
    EXPECT_EQ(ids(tools), (std::vector<std::string>{"compress", "compress", "extract", "merge", "resize"}));
    EXPECT_EQ(tools[0].label, "Compress");  // stable among equal ids
    EXPECT_EQ(tools[1].label, "Compress again");

    EXPECT_EQ(ids(registry.allFormats()),
              (std::vector<std::string>{"gif", "gzip", "heic", "jpg", "mov", "mp4", "png", "raw", "targz", "webp", "zip"}));
    EXPECT_EQ(FormatRegistry::maxRingTargets, 8);
}

TEST(FormatRegistry, RefusesDanglingConversions) {
    struct Row {
        const char* from;
        const char* to;
    };
    for (Row row : {Row{"png", "tiff"}, Row{"bmp", "png"}, Row{"bmp", "tiff"}}) {
        FormatManifest m = FormatManifest::decode(kManifest);
        m.conversions.push_back({FormatID(row.from), FormatID(row.to), "image", ConversionCost::inProcess, false});
        m.conversions.push_back({FormatID("also"), FormatID("missing"), "image", ConversionCost::inProcess, false});
        try {
            FormatRegistry registry(m);
            ADD_FAILURE() << "built a registry with a dangling conversion";
        } catch (const FormatRegistry::LoadError& error) {
            EXPECT_EQ(error, FormatRegistry::LoadError::danglingCapability(row.from, row.to));
            EXPECT_EQ(error.description(), fmt::format("danglingCapability(from: \"{}\", to: \"{}\")", row.from, row.to));
        }
    }
    // A conversion may name a format listed after it.
    FormatManifest m;
    m.conversions = {{FormatID("a"), FormatID("b"), "image", ConversionCost::inProcess, false}};
    m.formats = {simpleFormat("a", FormatCategory::image, {"a"}), simpleFormat("b", FormatCategory::image, {"b"})};
    EXPECT_EQ(FormatRegistry(m).conversionCount(), 1);
}

TEST(FormatRegistry, LoadsFromABundleFolder) {
    testing::TempDir dir;
    const fs::path bundle = dir / "Test.bundle";

    auto loadError = [&]() -> std::optional<FormatRegistry::LoadError> {
        try {
            FormatRegistry::load(bundle);
        } catch (const FormatRegistry::LoadError& error) {
            return error;
        }
        return std::nullopt;
    };

    auto missing = loadError();  // no bundle folder at all
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->kind(), FormatRegistry::LoadError::Kind::manifestMissing);
    EXPECT_STREQ(missing->what(), "manifestMissing");

    dir.write("Test.bundle/Other.json", "{}");  // bundle without a manifest
    EXPECT_EQ(loadError()->kind(), FormatRegistry::LoadError::Kind::manifestMissing);

    const std::pair<const char*, const char*> unreadable[] = {
        {"", "not JSON"},
        {"{\"formats\": [], \"conversions\": []}", "missing key"},
        {"{\"formats\": [], \"conversions\": [], \"tools\": [{\"id\": 3}]}", "wrong type"},
        {"[1, 2]", "not an object"},
    };
    for (auto [text, why] : unreadable) {
        dir.write("Test.bundle/FormatManifest.json", text);
        auto error = loadError();
        ASSERT_TRUE(error) << why;
        EXPECT_EQ(error->kind(), FormatRegistry::LoadError::Kind::manifestUnreadable) << why;
        EXPECT_FALSE(error->message().empty()) << why;
        EXPECT_EQ(error->description(), "manifestUnreadable(\"" + error->message() + "\")");
    }

    // A dangling conversion passes through unchanged, not as an unreadable manifest.
    dir.write("Test.bundle/FormatManifest.json", R"({"formats": [], "tools": [],
        "conversions": [{"from": "a", "to": "b", "engine": "image", "cost": "inProcess", "passthroughPossible": false}]})");
    EXPECT_EQ(*loadError(), FormatRegistry::LoadError::danglingCapability("a", "b"));

    dir.write("Test.bundle/FormatManifest.json", kManifest);
    EXPECT_FALSE(loadError());
    EXPECT_EQ(FormatRegistry::load(bundle).allFormats().size(), 11u);
}

TEST(FormatRegistry, HidesConversionsWhoseEncoderIsMissing) {
    const auto registry = testRegistry();
    // webp needs "libwebp", mov needs "libx264"; other targets need nothing in particular.
    auto required = [](const Format& f) -> std::optional<std::string> {
        if (f.id == FormatID("webp")) return "libwebp";
        if (f.id == FormatID("mov")) return "libx264";
        return std::nullopt;
    };

    {
        LogCapture log;
        auto same = registry.excludingUnavailable("ffmpeg", {}, required);
        EXPECT_EQ(same.conversionCount(), registry.conversionCount());
        EXPECT_TRUE(log.entries().empty());
    }
    {
        LogCapture log;
        auto filtered = registry.excludingUnavailable("ffmpeg", {"libx264"}, required);
        // Only the ffmpeg png→webp row goes; other engines' webp rows stay.
        EXPECT_EQ(filtered.conversionCount(), registry.conversionCount() - 1);
        EXPECT_EQ(engines(filtered.capabilities("png", "webp")), (std::vector<std::string>{"pdf", "image", "audio"}));
        EXPECT_EQ(filtered.capabilities("mp4", "mov").size(), 1u);
        EXPECT_TRUE(log.contains("conversion", "Hiding 1 conversion(s) this FFmpeg build cannot perform"));
        // Formats and tools are never removed; the original registry is unchanged.
        EXPECT_EQ(filtered.allFormats().size(), registry.allFormats().size());
        EXPECT_EQ(filtered.allTools().size(), registry.allTools().size());
        EXPECT_EQ(filtered.manifest().conversions.size(), 11u);
        EXPECT_EQ(registry.capabilities("png", "webp").size(), 4u);
    }
    {
        LogCapture log;
        auto filtered = registry.excludingUnavailable("ffmpeg", {"aac"}, required);
        EXPECT_TRUE(filtered.capabilities("mp4", "mov").empty());
        EXPECT_EQ(filtered.supportedOutputs("mp4").size(), 0u);
        EXPECT_TRUE(filtered.format("mov"));
        EXPECT_TRUE(log.contains("conversion", "Hiding 2 conversion(s)"));
    }
    {
        LogCapture log;
        auto filtered = registry.excludingUnavailable("ffmpeg", {"libwebp", "libx264"}, required);
        EXPECT_EQ(filtered.conversionCount(), registry.conversionCount());
        EXPECT_TRUE(log.entries().empty());
    }
}

}  // namespace
}  // namespace kolvex
