// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>

#include <gtest/gtest.h>

#include "CoordinatorFixture.h"
#include "core/format/ConversionError.h"

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
    // .JPG is the format's first extension: the source holds "photo.jpeg", the plain name is free.
    EXPECT_EQ(jobs[0].destination, m_dir / "photo.jpg");
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
