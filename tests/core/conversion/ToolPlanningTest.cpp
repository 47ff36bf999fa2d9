// SPDX-License-Identifier: GPL-3.0-or-later
#include <cctype>
#include <filesystem>
#include <iostream>

#include <gtest/gtest.h>

#include "CoordinatorFixture.h"
#include "core/format/ConversionError.h"
#include "core/services/PathUtils.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

ToolIntent tool(std::vector<fs::path> urls, const char* id, ConversionOptions options = ConversionOptions::defaults()) {
    return ToolIntent{std::move(urls), id, std::move(options), std::nullopt};
}

// Engines that take only what their kind of engine would: image tools on images, the rest on media.
FakeEngine::Accepts acceptsCategory(FormatCategory category) {
    return [category](const ConversionJob& job) { return job.from.category == category; };
}

ConversionError planError(ConversionCoordinator& coordinator, const ToolIntent& intent) {
    try {
        coordinator.plan(intent);
    } catch (const ConversionError& error) {
        return error;
    }
    ADD_FAILURE() << "planning succeeded";
    return ConversionError::cancelled();
}

TEST_F(CoordinatorTest, ToolJobsGetFreeNamesBesideTheSource) {
    auto image = FakeEngine::make("image", FakeEngine::writesDestination(), acceptsCategory(FormatCategory::image));
    auto coordinator = make({image});
    const auto photo = file("photo.jpeg");

    ConversionOptions options = ConversionOptions::defaults();
    auto jobs = coordinator.plan(tool({photo}, "strip-metadata", options));
    ASSERT_EQ(jobs.size(), 1u);
    // The output keeps the source's own extension, one of its format's: the source holds the plain name.
    EXPECT_EQ(jobs[0].destination, m_dir / "photo 2.jpeg");
    EXPECT_FALSE(jobs[0].options.preserveMetadata);
    EXPECT_TRUE(jobs[0].options.allowPassthrough);
    EXPECT_EQ(jobs[0].options.tool, "strip-metadata");
    EXPECT_TRUE(jobs[0].capability.passthroughPossible);
    EXPECT_EQ(jobs[0].capability.cost, ConversionCost::inProcess);
    EXPECT_EQ(jobs[0].capability.engine, EngineID("image"));

    options.allowPassthrough = false;
    EXPECT_FALSE(coordinator.plan(tool({photo}, "strip-metadata", options)).at(0).options.allowPassthrough);

    // A tool that keeps the format never takes the source's own name.
    const auto png = file("shot.png");
    EXPECT_EQ(coordinator.plan(tool({png}, "compress")).at(0).destination, m_dir / "shot 2.png");

    const auto resized = coordinator.plan(tool({png}, "resize")).at(0);
    EXPECT_FALSE(resized.options.allowPassthrough);
    EXPECT_FALSE(resized.capability.passthroughPossible);
    EXPECT_TRUE(resized.options.preserveMetadata);
}

// A tool that keeps the format keeps the source's extension where the format has several: a
// trim of "x.oga" is an .oga, of "x.tif" a .tif. Every such format of the shipped manifest, under
// every one of its extensions, with every tool that keeps it.
TEST_F(CoordinatorTest, ToolOutputsKeepTheSourcesExtension) {
    const FormatRegistry registry = FormatRegistry::loadBundled();
    ConversionCoordinator coordinator(registry, {FakeEngine::make("image")}, m_files);
    int rows = 0;
    bool ogaTrim = false;
    for (const Format& format : registry.allFormats()) {
        if (format.extensions.size() < 2) continue;
        for (const ToolDefinition& keeping : registry.allTools()) {
            if (!keeping.categories.contains(format.category) || keeping.outputFormat) continue;
            for (size_t e = 0; e < format.extensions.size(); ++e) {
                const std::string& extension = format.extensions[e];
                SCOPED_TRACE(keeping.id + " of ." + extension);
                const std::string stem = format.id.rawValue + "-" + keeping.id + "-" + std::to_string(e);
                std::vector<fs::path> sources = {file(stem + "." + extension)};
                if (keeping.foldsInputs) sources.push_back(file(stem + "-b." + extension));
                const auto jobs = coordinator.plan(tool(sources, keeping.id.c_str()));
                ASSERT_EQ(jobs.size(), 1u);
                EXPECT_EQ(jobs[0].to.id, format.id);
                // The source holds the plain name: the first free number beside it.
                EXPECT_EQ(jobs[0].destination, m_dir / (stem + " 2." + extension));
                // Spelt as the format spells it, whatever the source's case.
                std::string upper = extension;
                for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                std::vector<fs::path> shoutedSources = {file(stem + "-c." + upper)};
                if (keeping.foldsInputs) shoutedSources.push_back(file(stem + "-d." + upper));
                const auto shouted = coordinator.plan(tool(shoutedSources, keeping.id.c_str()));
                EXPECT_EQ(paths::lastComponent(shouted.at(0).destination).ends_with("." + extension), true)
                    << shouted.at(0).destination;
                ++rows;
                ogaTrim = ogaTrim || (extension == "oga" && keeping.id == "trim");
            }
        }
    }
    EXPECT_TRUE(ogaTrim) << "the manifest no longer gives Ogg sound two extensions";
    std::cout << rows << " format, extension and tool rows\n";
}

TEST_F(CoordinatorTest, ToolOutputFormats) {
    auto coordinator = make({FakeEngine::make("image")});
    const auto png = file("shot.png");
    EXPECT_EQ(coordinator.plan(tool({png}, "to-jpeg")).at(0).to.id, FormatID("jpg"));
    EXPECT_EQ(coordinator.plan(tool({png}, "to-jpeg")).at(0).destination, m_dir / "shot.jpg");

    ConversionOptions webp = ConversionOptions::defaults();
    webp.outputFormat = FormatID("webp");
    EXPECT_EQ(coordinator.plan(tool({png}, "to-jpeg", webp)).at(0).destination, m_dir / "shot.webp");

    ConversionOptions unknown = ConversionOptions::defaults();
    unknown.outputFormat = FormatID("nope");
    EXPECT_EQ(coordinator.plan(tool({png}, "to-jpeg", unknown)).at(0).to.id, FormatID("jpg"));
    EXPECT_EQ(coordinator.plan(tool({png}, "odd-output")).at(0).to.id, FormatID("png"));
    // Sources of one request never share a name.
    const auto jobs = coordinator.plan(tool({png, file("shot.tiff"), file("shot.bmp")}, "to-jpeg"));
    EXPECT_EQ(names(jobs), (std::vector<std::string>{"shot.jpg", "shot 2.jpg", "shot 3.jpg"}));
}

TEST_F(CoordinatorTest, EnginesAreAskedInPreferenceOrder) {
    auto image = FakeEngine::make("image", FakeEngine::writesDestination(), acceptsCategory(FormatCategory::image));
    auto audio = FakeEngine::make("audio", FakeEngine::writesDestination(), FakeEngine::declinesAll());
    auto pdf = FakeEngine::make("pdf", FakeEngine::writesDestination(), FakeEngine::declinesAll());
    auto ffmpeg = FakeEngine::make("ffmpeg");
    auto coordinator = make({ffmpeg, pdf, audio, image});

    EXPECT_EQ(coordinator.plan(tool({file("a.png")}, "compress")).at(0).capability.engine, EngineID("image"));
    EXPECT_EQ(audio->askedJobs().size(), 0u);  // the image engine took it first

    const auto trim = coordinator.plan(tool({file("clip.mp4")}, "trim")).at(0);
    EXPECT_EQ(trim.capability.engine, EngineID("ffmpeg"));
    EXPECT_TRUE(trim.capability.passthroughPossible);
    EXPECT_EQ(audio->askedJobs().size(), 1u);
    EXPECT_EQ(pdf->askedJobs().size(), 1u);
    EXPECT_EQ(pdf->askedJobs()[0].capability.engine, EngineID("pdf"));

    // Without FFmpeg nobody takes it.
    auto withoutFFmpeg = make({image, audio, pdf});
    EXPECT_EQ(planError(withoutFFmpeg, tool({file("clip.mp4")}, "trim")),
              ConversionError::unsupportedCombination("MP4", "Trim"));
    const auto results = withoutFFmpeg.submit(tool({m_dir / "clip.mp4", file("a2.png")}, "trim"));
    ASSERT_EQ(results.size(), 2u);
    for (const auto& r : results) EXPECT_EQ(r.error, ConversionError::unsupportedCombination("MP4", "Trim"));
}

TEST_F(CoordinatorTest, ToolPlanningFailures) {
    auto coordinator = make({FakeEngine::make("image"), FakeEngine::make("ffmpeg")});
    const auto png = file("a.png");
    struct Row {
        const char* what;
        ToolIntent intent;
        ConversionError expected;
    };
    const Row rows[] = {
        {"unknown tool", tool({png}, "sparkle"), ConversionError::unsupportedCombination("file", "sparkle")},
        {"unknown extension", tool({file("x.xyz")}, "compress"), ConversionError::unsupportedCombination("xyz", "Compress")},
        {"wrong category", tool({file("clip.mp4")}, "resize"), ConversionError::unsupportedCombination("MP4", "Resize")},
        {"folding, one file", tool({file("v.mp4")}, "merge"),
         ConversionError::unsupportedCombination("a single file", "Merge \u2014 select several files")},
        {"folding, no files", tool({}, "merge"),
         ConversionError::unsupportedCombination("a single file", "Merge \u2014 select several files")},
        {"folding, unknown first", tool({file("y.xyz"), file("v.mp4")}, "merge"),
         ConversionError::unsupportedCombination("file", "Merge")},
        {"folding, wrong category", tool({png, file("b.png")}, "merge"), ConversionError::unsupportedCombination("PNG", "Merge")},
        {"folding, mixed", tool({file("v.mp4"), file("s.m4a")}, "merge"),
         ConversionError::unsupportedCombination("a mixed selection", "Merge")},
    };
    for (const auto& row : rows) EXPECT_EQ(planError(coordinator, row.intent), row.expected) << row.what;
    EXPECT_TRUE(coordinator.plan(tool({}, "compress")).empty());
    EXPECT_TRUE(coordinator.submit(tool({}, "compress")).empty());
}

TEST_F(CoordinatorTest, FoldingToolMakesOneJobForAllFiles) {
    auto ffmpeg = FakeEngine::make("ffmpeg");
    auto coordinator = make({ffmpeg});
    const auto a = file("a.mp4"), odd = file("notes.xyz"), c = file("c.mov");
    ConversionOptions options = ConversionOptions::defaults();
    const auto jobs = coordinator.plan(tool({a, odd, c}, "merge", options));
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].source, a);
    EXPECT_EQ(jobs[0].additionalSources, (std::vector<fs::path>{odd, c}));
    EXPECT_EQ(jobs[0].destination, m_dir / "a 2.mp4");
    EXPECT_FALSE(jobs[0].capability.passthroughPossible);
    EXPECT_FALSE(jobs[0].options.allowPassthrough);

    const auto results = coordinator.submit(tool({a, odd, c}, "merge"));
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].succeeded());
    EXPECT_EQ(ffmpeg->convertedJobs().at(0).additionalSources, (std::vector<fs::path>{odd, c}));
}

}  // namespace
}  // namespace kolvex::testing
