// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "core/format/ConversionJob.h"
#include "core/format/FormatRegistry.h"

// Checks the manifest the application ships: every id other code compares against is there,
// and every offered conversion goes to an engine that will accept it on this platform.
namespace kolvex {
namespace {

namespace fs = std::filesystem;
using Paths = std::vector<fs::path>;

const FormatRegistry& shipped() {
    static const FormatRegistry registry = [] {
        try {
            return FormatRegistry::loadBundled();
        } catch (const FormatRegistry::LoadError& error) {
            ADD_FAILURE() << "the shipped manifest did not load: " << error.description();
            return FormatRegistry(FormatManifest{});
        }
    }();
    return registry;
}

const Format& formatOf(const FormatID& id) { return shipped().formatsByID().at(id); }

TEST(ShippedManifest, LoadsWithTheReservedIdentifiers) {
    const auto& registry = shipped();
    ASSERT_GE(registry.allFormats().size(), 2u);

    const char* formats[] = {"m4a", "mp4", "mov", "m4v", "aac", "mkv", "mp3", "flac", "wav", "aiff", "opus", "ogg",
                             "webm", "webp", "png", "jpg", "gif", "avif", "ico", "txt", "rtf", "html", "md", "csv",
                             "docx", "pdf", "zip", "7z", "tar", "targz", "gzip", "bz2", "xz", "rar",
                             // asked for on top of the reserved ones
                             "heic", "tiff", "bmp", "avi"};
    for (const char* id : formats) EXPECT_TRUE(registry.format(id)) << id;

    const char* tools[] = {"compress", "resize", "crop", "rotate", "flip", "trim", "split", "merge", "extract-audio",
                           "remove-audio", "strip-metadata", "normalize", "extract", "extract-pages"};
    for (const char* id : tools) EXPECT_TRUE(registry.tool(id)) << id;

    EXPECT_EQ(registry.format("pdf")->category, FormatCategory::pdf);
    EXPECT_EQ(registry.format("targz")->canonicalExtension(), "tar.gz");
    EXPECT_EQ(registry.formatFor("/home/u/Backup.TAR.GZ")->id, FormatID("targz"));
    EXPECT_EQ(registry.formatFor("/home/u/notes.gz")->id, FormatID("gzip"));
    EXPECT_EQ(registry.formatFor("/home/u/Photo.JPEG")->id, FormatID("jpg"));
}

TEST(ShippedManifest, FormatsAreWellFormed) {
    const auto& manifest = shipped().manifest();
    std::map<std::string, std::string> owners;  // lower-cased extension → format id
    std::set<std::string> ids;
    for (const Format& f : manifest.formats) {
        EXPECT_TRUE(ids.insert(f.id.rawValue).second) << "repeated format id " << f.id;
        EXPECT_FALSE(f.extensions.empty()) << f.id;
        EXPECT_FALSE(f.contentTypes.empty()) << f.id;
        EXPECT_FALSE(f.label.empty()) << f.id;
        for (const std::string& type : f.contentTypes) {
            // A MIME type name: "<type>/<subtype>", lower case, no blanks.
            const auto slash = type.find('/');
            EXPECT_TRUE(slash != std::string::npos && slash > 0 && slash + 1 < type.size()) << f.id << ": " << type;
            EXPECT_EQ(type.find_first_of(" ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos) << f.id << ": " << type;
        }
        for (const std::string& ext : f.extensions) {
            EXPECT_TRUE(!ext.empty() && ext.front() != '.' && ext.back() != '.') << f.id << ": " << ext;
            std::string lower = ext;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            auto [it, fresh] = owners.emplace(lower, f.id.rawValue);
            EXPECT_TRUE(fresh) << "extension " << ext << " claimed by " << it->second << " and " << f.id;
        }
    }
    for (const char* id : {"wav", "aiff", "flac"}) EXPECT_FALSE(formatOf(id).has(FormatCapability::lossy)) << id;
    for (const char* id : {"mp3", "m4a", "aac", "opus", "ogg", "jpg", "webp", "heic", "avif"}) {
        EXPECT_TRUE(formatOf(id).has(FormatCapability::lossy)) << id;
    }
    EXPECT_FALSE(formatOf("jpg").has(FormatCapability::alpha));
    EXPECT_TRUE(formatOf("png").has(FormatCapability::alpha));
}

// Whether each row's engine takes it is checked against the engines themselves (the engine
// contract tests); here, that the rows name known engines once each and make sense as data.
TEST(ShippedManifest, ConversionsAreWellFormed) {
    const auto& manifest = shipped().manifest();
    ASSERT_FALSE(manifest.conversions.empty());
    const std::set<EngineID> engines{engine_ids::archive, engine_ids::audio,  engine_ids::document,
                                     engine_ids::ffmpeg,  engine_ids::image, engine_ids::pdf};
    std::set<std::pair<std::string, std::string>> engineRows;
    for (const ConversionCapability& c : manifest.conversions) {
        const std::string row = c.from.rawValue + "→" + c.to.rawValue + " (" + c.engine.rawValue + ")";
        EXPECT_TRUE(engines.contains(c.engine)) << row;
        EXPECT_NE(c.from, c.to) << row;
        EXPECT_TRUE(engineRows.insert({c.from.rawValue + ">" + c.to.rawValue, c.engine.rawValue}).second)
            << "repeated " << row;
        // A video target needs a video track; programs run as subprocesses cost as much.
        if (formatOf(c.to).category == FormatCategory::video) {
            EXPECT_NE(formatOf(c.from).category, FormatCategory::audio) << row;
        }
        if (c.engine == engine_ids::ffmpeg || c.engine == engine_ids::archive) {
            EXPECT_EQ(c.cost, ConversionCost::subprocess) << row;
        }
    }
}

TEST(ShippedManifest, ToolsApplyWhereTheirEnginesWork) {
    const auto& registry = shipped();
    for (const ToolDefinition& t : registry.manifest().tools) EXPECT_FALSE(t.categories.empty()) << t.id;
    EXPECT_TRUE(registry.tool("merge")->foldsInputs);
    EXPECT_EQ(registry.tool("extract-audio")->outputFormat, FormatID("m4a"));
    ASSERT_TRUE(registry.format(*registry.tool("extract-audio")->outputFormat));

    auto has = [&](const char* tool, FormatCategory category) {
        return registry.tool(tool)->categories.contains(category);
    };
    // Only the archive engine extracts, only the PDF engine extracts pages, and no engine rotates video.
    EXPECT_EQ(registry.tool("extract")->categories, std::set<FormatCategory>{FormatCategory::archive});
    EXPECT_EQ(registry.tool("extract-pages")->categories, std::set<FormatCategory>{FormatCategory::pdf});
    EXPECT_FALSE(has("rotate", FormatCategory::video));
    EXPECT_FALSE(has("flip", FormatCategory::video));
    EXPECT_FALSE(has("compress", FormatCategory::document));  // the document engine only strips metadata
    EXPECT_TRUE(has("trim", FormatCategory::audio));
}

TEST(ShippedManifest, RingsOfCommonFiles) {
    const auto& registry = shipped();
    auto ring = [&](const Paths& files, PortalMode mode) {
        std::vector<std::string> ids;
        for (const RingTarget& t : registry.targets(files, mode)) ids.push_back(t.id);
        return ids;
    };
    // An archive offers unpacking first.
    auto archive = ring({"/home/u/photos.zip"}, PortalMode::convert);
    ASSERT_FALSE(archive.empty());
    EXPECT_EQ(archive.front(), "tool.extract");

    for (const char* file : {"/u/a.jpg", "/u/a.png", "/u/a.mp4", "/u/a.mp3", "/u/a.pdf", "/u/a.docx", "/u/a.7z"}) {
        EXPECT_FALSE(ring({file}, PortalMode::convert).empty()) << file;
        EXPECT_FALSE(ring({file}, PortalMode::tools).empty()) << file;
        EXPECT_LE(ring({file}, PortalMode::convert).size(), 8u) << file;
    }
    // Two videos can be merged; an image and a video share nothing.
    auto videos = ring({"/u/a.mp4", "/u/b.mov"}, PortalMode::tools);
    EXPECT_NE(std::find(videos.begin(), videos.end(), "tool.merge"), videos.end());
    EXPECT_TRUE(ring({"/u/a.png", "/u/b.mp4"}, PortalMode::convert).empty());
}

}  // namespace
}  // namespace kolvex
