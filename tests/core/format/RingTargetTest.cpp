// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/format/FormatRegistry.h"
#include "core/format/RingTarget.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using Paths = std::vector<fs::path>;

// A manifest with one source format "src" of the given category that converts to
// `outputs` formats ("o1", "o2", …) and `toolCount` tools of that category ("t1", …).
// A video source, one folding tool "merge" and an archive "extract" tool can be added.
struct ManifestShape {
    FormatCategory category = FormatCategory::image;
    int outputs = 0;
    int toolCount = 0;
    bool withMerge = false;
    bool withExtract = false;
};

FormatRegistry makeRegistry(const ManifestShape& shape) {
    FormatManifest m;
    m.formats.push_back(Format{FormatID("src"), shape.category, {"src"}, {}, {}, "Source"});
    for (int i = 1; i <= shape.outputs; ++i) {
        const std::string id = fmt::format("o{}", i);
        m.formats.push_back(Format{FormatID(id), shape.category, {id}, {}, {}, "Out " + id});
        m.conversions.push_back({FormatID("src"), FormatID(id), "image", ConversionCost::inProcess, false});
    }
    m.formats.push_back(Format{FormatID("vid"), FormatCategory::video, {"vid"}, {}, {}, "Video"});
    m.conversions.push_back({FormatID("vid"), FormatID("src"), "ffmpeg", ConversionCost::subprocess, false});
    if (shape.withExtract) {
        m.tools.push_back(ToolDefinition{"extract", "Extract", {FormatCategory::archive}, "archive", false, std::nullopt});
    }
    if (shape.withMerge) {
        m.tools.push_back(ToolDefinition{"merge", "Merge", {shape.category}, "ffmpeg", true, std::nullopt});
    }
    for (int i = 1; i <= shape.toolCount; ++i) {
        m.tools.push_back(ToolDefinition{fmt::format("t{}", i), fmt::format("Tool {}", i), {shape.category}, "image",
                                         false, std::nullopt});
    }
    return FormatRegistry(std::move(m));
}

std::vector<std::string> ids(const std::vector<RingTarget>& targets) {
    std::vector<std::string> out;
    for (const auto& t : targets) out.push_back(t.id);
    return out;
}

// "format.o<from>" … "format.o<to>"
std::vector<std::string> outputs(int from, int to) {
    std::vector<std::string> out;
    for (int i = from; i <= to; ++i) out.push_back(fmt::format("format.o{}", i));
    return out;
}

std::vector<std::string> tools(int from, int to) {
    std::vector<std::string> out;
    for (int i = from; i <= to; ++i) out.push_back(fmt::format("tool.t{}", i));
    return out;
}

std::vector<std::string> join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(RingTarget, BuiltFromFormatsAndTools) {
    const Format targz{FormatID("targz"), FormatCategory::archive, {"tar.gz", "tgz"}, {}, {}, "TAR.GZ"};
    EXPECT_EQ(RingTarget::forFormat(targz),
              (RingTarget{"format.targz", "TAR.GZ", RingTarget::Kind::format, "tar.gz", FormatID("targz"), std::nullopt}));
    const Format bare{FormatID("raw"), FormatCategory::image, {}, {}, {}, "Raw"};
    EXPECT_EQ(RingTarget::forFormat(bare).fileExtension, "raw");

    const ToolDefinition tool{"extract-audio", "Extract Audio", {FormatCategory::video}, "ffmpeg", false, FormatID("m4a")};
    EXPECT_EQ(RingTarget::forTool(tool), (RingTarget{"tool.extract-audio", "Extract Audio", RingTarget::Kind::tool,
                                                     std::nullopt, std::nullopt, "extract-audio"}));
}

TEST(RingTargets, EveryModeIsEmptyWithoutRecognisedOrCommonFiles) {
    const auto registry = makeRegistry({.outputs = 5, .toolCount = 3});
    for (const Paths& files : {Paths{}, Paths{"/a/x.unknown"}, Paths{"/a/x.src", "/a/y.vid"}}) {
        for (PortalMode mode : kAllPortalModes) {
            EXPECT_TRUE(registry.targets(files, mode).empty()) << toString(mode) << " with " << files.size() << " files";
        }
    }
}

TEST(RingTargets, SplitOutputsAndToolsBetweenModes) {
    struct Row {
        const char* name;
        ManifestShape shape;
        std::vector<std::string> convert;
        std::vector<std::string> tools;
        std::vector<std::string> advanced;
    };
    const Row rows[] = {
        {"5 outputs, 10 tools", {.outputs = 5, .toolCount = 10}, outputs(1, 5), tools(1, 8), tools(1, 8)},
        {"11 outputs, 10 tools", {.outputs = 11, .toolCount = 10}, outputs(1, 8), tools(1, 8),
         join(outputs(9, 11), tools(1, 5))},
        {"20 outputs, 3 tools", {.outputs = 20, .toolCount = 3}, outputs(1, 8), tools(1, 3), outputs(9, 20)},
        {"16 outputs, 3 tools", {.outputs = 16, .toolCount = 3}, outputs(1, 8), tools(1, 3), outputs(9, 16)},
        {"no outputs, 2 tools", {.outputs = 0, .toolCount = 2}, {}, tools(1, 2), tools(1, 2)},
        {"archive, 9 outputs, extract",
         {.category = FormatCategory::archive, .outputs = 9, .toolCount = 7, .withExtract = true},
         join({"tool.extract"}, outputs(1, 7)), join({"tool.extract"}, tools(1, 7)),
         join(outputs(8, 9), tools(1, 6))},
        {"archive without extract", {.category = FormatCategory::archive, .outputs = 9, .toolCount = 1},
         outputs(1, 8), tools(1, 1), join(outputs(9, 9), tools(1, 1))},
        {"archive, extract, no outputs",
         {.category = FormatCategory::archive, .outputs = 0, .toolCount = 1, .withExtract = true},
         {"tool.extract"}, {"tool.extract", "tool.t1"}, {"tool.t1"}},
    };
    for (const Row& row : rows) {
        const auto registry = makeRegistry(row.shape);
        const Paths file{"/a/b.src"};
        EXPECT_EQ(ids(registry.targets(file, PortalMode::convert)), row.convert) << row.name;
        EXPECT_EQ(ids(registry.targets(file, PortalMode::tools)), row.tools) << row.name;
        EXPECT_EQ(ids(registry.targets(file, PortalMode::advanced)), row.advanced) << row.name;
    }
}

TEST(RingTargets, FoldingToolsNeedTwoFiles) {
    const auto registry = makeRegistry({.category = FormatCategory::video, .outputs = 1, .toolCount = 8, .withMerge = true});
    EXPECT_EQ(ids(registry.targets(Paths{"/a/one.src"}, PortalMode::tools)), tools(1, 8));
    // Merge comes first in the manifest, so with two files it pushes the eighth tool off the ring.
    EXPECT_EQ(ids(registry.targets(Paths{"/a/one.src", "/a/two.src"}, PortalMode::tools)),
              join({"tool.merge"}, tools(1, 7)));
    EXPECT_EQ(ids(registry.targets(Paths{"/a/one.src", "/a/unknown.xyz"}, PortalMode::tools)),
              join({"tool.merge"}, tools(1, 7)));
}

TEST(RingTargets, FormatTargetsCarryTheCanonicalExtension) {
    FormatManifest m;
    m.formats = {Format{FormatID("zip"), FormatCategory::archive, {"zip"}, {}, {}, "ZIP"},
                 Format{FormatID("targz"), FormatCategory::archive, {"tar.gz", "tgz"}, {}, {}, "TAR.GZ"},
                 Format{FormatID("bare"), FormatCategory::archive, {}, {}, {}, "Bare"}};
    m.conversions = {{FormatID("zip"), FormatID("targz"), "archive", ConversionCost::subprocess, false},
                     {FormatID("zip"), FormatID("bare"), "archive", ConversionCost::subprocess, false}};
    const FormatRegistry registry(m);
    auto ring = registry.targets(Paths{"/a/x.zip"}, PortalMode::convert);
    ASSERT_EQ(ring.size(), 2u);
    EXPECT_EQ(ring[0].id, "format.targz");
    EXPECT_EQ(ring[0].fileExtension, "tar.gz");
    EXPECT_EQ(ring[0].formatID, FormatID("targz"));
    EXPECT_FALSE(ring[0].toolID);
    EXPECT_EQ(ring[1].fileExtension, "bare");

    // The registry answers through the provider interface too.
    const RingTargetProviding& provider = registry;
    EXPECT_EQ(provider.targets(Paths{"/a/x.zip"}, PortalMode::convert), ring);
    EXPECT_EQ(provider.category(Paths{"/a/x.zip"}), FormatCategory::archive);
    EXPECT_EQ(provider.categoryCount(Paths{"/a/x.zip", "/a/y.tar.gz"}), 1);
}

// A drag of thousands of files is answered from its few distinct formats: the ring is the one
// the distinct files alone would get, whatever the repeats, their spelling or unknown files between.
TEST(RingTargets, ALargeDragGetsTheRingOfItsDistinctFormats) {
    const auto registry = FormatRegistry::loadBundled();
    const Paths few{"/p/a.jpg", "/p/b.png", "/p/notes.unknown"};
    Paths many = few;
    for (int i = 0; i < 3000; ++i) many.push_back(fmt::format("/p/{}/IMG_{}.{}", i % 7, i, i % 2 ? "JPEG" : "png"));
    for (PortalMode mode : kAllPortalModes) {
        EXPECT_EQ(ids(registry.targets(many, mode)), ids(registry.targets(few, mode))) << toString(mode);
        EXPECT_FALSE(registry.targets(many, mode).empty()) << toString(mode);
    }
    many.emplace_back("/p/clip.mp4");
    EXPECT_TRUE(registry.targets(many, PortalMode::convert).empty());
    EXPECT_EQ(registry.categoryCount(many), 2);
}

}  // namespace
}  // namespace kolvex
