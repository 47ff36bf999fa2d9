// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "CoordinatorFixture.h"
#include "core/format/ConversionError.h"
#include "core/services/Preferences.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;
using Kind = ConversionError::Kind;

ConversionIntent toFormat(std::vector<fs::path> urls, const char* target,
                          std::optional<fs::path> outputDirectory = std::nullopt) {
    return ConversionIntent{std::move(urls), FormatID(target), ConversionOptions::defaults(), std::move(outputDirectory)};
}

TEST_F(CoordinatorTest, EmptyRequestsYieldNothingAndReportNothing) {
    auto engine = FakeEngine::make("image");
    auto coordinator = make({engine});
    ProgressLog progress;
    EXPECT_TRUE(coordinator.submit(toFormat({}, "jpg"), progress.callback()).empty());
    EXPECT_TRUE(coordinator.submit(toFormat({}, "nope"), progress.callback()).empty());
    EXPECT_TRUE(coordinator.run({}, progress.callback()).empty());
    EXPECT_TRUE(progress.reports().empty());
    EXPECT_TRUE(coordinator.plan(toFormat({}, "jpg")).empty());
    try {
        coordinator.plan(toFormat({}, "nope"));
        FAIL();
    } catch (const ConversionError& error) {
        EXPECT_EQ(error, ConversionError::unsupportedCombination("unknown", "nope"));
    }
}

TEST_F(CoordinatorTest, PlanningFailureFailsEveryFile) {
    auto engine = FakeEngine::make("image");
    auto coordinator = make({engine});
    const auto good = file("photo.png");
    const auto unknown = file("notes.xyz");
    ProgressLog progress;
    const auto results = coordinator.submit(toFormat({good, unknown}, "jpg"), progress.callback());
    ASSERT_EQ(results.size(), 2u);
    for (const auto& result : results) {
        EXPECT_EQ(result.error, ConversionError::unsupportedCombination("xyz", "JPEG"));
        EXPECT_TRUE(result.outputs.empty());
        EXPECT_EQ(result.duration, 0);
    }
    EXPECT_EQ(results[0].source, good);
    EXPECT_EQ(results[1].source, unknown);
    EXPECT_NE(results[0].id, results[1].id);
    EXPECT_FALSE(fs::exists(m_dir / "photo.jpg"));
    EXPECT_EQ(engine->started(), 0);
    EXPECT_TRUE(progress.reports().empty());

    const auto noRoute = coordinator.submit(toFormat({file("clip.mp4")}, "jpg"));
    EXPECT_EQ(noRoute.at(0).error, ConversionError::unsupportedCombination("MP4", "JPEG"));
    const auto noExtension = coordinator.submit(toFormat({file("Makefile")}, "jpg"));
    EXPECT_EQ(noExtension.at(0).error, ConversionError::unsupportedCombination("", "JPEG"));
}

TEST_F(CoordinatorTest, DestinationsTakeTheFirstFreeName) {
    auto coordinator = make({FakeEngine::make("image"), FakeEngine::make("archive")});
    const auto photo = file("photo.png");
    file("photo.jpg", "taken");
    file("photo 2.jpg", "taken");
    EXPECT_EQ(coordinator.plan(toFormat({photo}, "jpg")).at(0).destination, m_dir / "photo 3.jpg");

    // A target without extensions uses its id.
    EXPECT_EQ(coordinator.plan(toFormat({photo}, "raw")).at(0).destination, m_dir / "photo.raw");

    TempDir elsewhere;
    EXPECT_EQ(coordinator.plan(toFormat({photo}, "jpg", elsewhere.path())).at(0).destination, elsewhere / "photo.jpg");
    elsewhere.write("photo.jpg", "taken");
    EXPECT_EQ(coordinator.plan(toFormat({photo}, "jpg", elsewhere.path())).at(0).destination, elsewhere / "photo 2.jpg");
}

TEST_F(CoordinatorTest, SourcesOfOneRequestNeverShareAName) {
    auto engine = FakeEngine::make("image");
    auto coordinator = make({engine});
    const auto png = file("photo.png");
    const auto tiff = file("photo.tiff");
    const auto png2 = file("sub/../photo.png");  // the same folder written another way
    const auto jobs = coordinator.plan(toFormat({png, tiff, png2}, "jpg"));
    EXPECT_EQ(names(jobs), (std::vector<std::string>{"photo.jpg", "photo 2.jpg", "photo 3.jpg"}));

    const auto results = coordinator.submit(toFormat({png, tiff}, "jpg"));
    ASSERT_EQ(results.size(), 2u);
    for (const auto& r : results) EXPECT_TRUE(r.succeeded());
    EXPECT_TRUE(fs::exists(m_dir / "photo.jpg"));
    EXPECT_TRUE(fs::exists(m_dir / "photo 2.jpg"));
}

TEST_F(CoordinatorTest, RunningJobsKeepTheirNamesFromLaterRequests) {
    auto gate = std::make_shared<Gate>();
    auto engine = FakeEngine::make("image", FakeEngine::waitsFor(gate));
    auto coordinator = make({engine});
    const auto png = file("photo.png");
    std::vector<ConversionResult> first;
    std::jthread running([&] { first = coordinator.submit(toFormat({png}, "jpg")); });
    engine->waitUntilStarted(1);
    // Nothing is on disk yet, but photo.jpg is promised to the running job.
    EXPECT_EQ(coordinator.plan(toFormat({png}, "jpg")).at(0).destination, m_dir / "photo 2.jpg");
    gate->open();
    running.join();
    ASSERT_TRUE(first.at(0).succeeded());
    EXPECT_EQ(first.at(0).outputs.at(0), m_dir / "photo.jpg");
    // Once finished the name is free again in the books; the file itself now takes it.
    EXPECT_EQ(coordinator.plan(toFormat({png}, "jpg")).at(0).destination, m_dir / "photo 2.jpg");
    fs::remove(m_dir / "photo.jpg");
    EXPECT_EQ(coordinator.plan(toFormat({png}, "jpg")).at(0).destination, m_dir / "photo.jpg");
}

TEST_F(CoordinatorTest, ChoosesTheCheapestRegisteredEngineAndPlansUnregisteredOnes) {
    auto coordinator = make({FakeEngine::make("image")});
    const auto png = file("photo.png");
    // png→webp: "image" (in process) sorts before "vips2" (subprocess).
    EXPECT_EQ(coordinator.plan(toFormat({png}, "webp")).at(0).capability.engine, EngineID("image"));

    const auto jobs = coordinator.plan(toFormat({file("clip.mp4")}, "mov"));
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].capability.engine, EngineID("ffmpeg"));
    EXPECT_EQ(jobs[0].from.id, FormatID("mp4"));
    EXPECT_EQ(jobs[0].to.id, FormatID("mov"));
    EXPECT_TRUE(jobs[0].additionalSources.empty());
    EXPECT_EQ(jobs[0].options, ConversionOptions::defaults());

    const auto results = coordinator.submit(toFormat({m_dir / "clip.mp4"}, "mov"));
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].error, ConversionError::backendFailure("ffmpeg", -1, "No engine registered for ffmpeg"));
    EXPECT_TRUE(results[0].outputs.empty());
    EXPECT_FALSE(results[0].note);
    EXPECT_LT(results[0].duration, 1.0);
}

TEST(ConversionCoordinator, RepeatedEngineIdsAreRefused) {
    EXPECT_THROW(ConversionCoordinator(FormatRegistry(coordinatorManifest()),
                                       {FakeEngine::make("image"), FakeEngine::make("image")}),
                 std::invalid_argument);
    // Order does not matter for lookups.
    ConversionCoordinator a(FormatRegistry(coordinatorManifest()), {FakeEngine::make("image"), FakeEngine::make("pdf")});
    ConversionCoordinator b(FormatRegistry(coordinatorManifest()), {FakeEngine::make("pdf"), FakeEngine::make("image")});
    EXPECT_TRUE(a.hasEngine("image") && b.hasEngine("image") && a.hasEngine("pdf") && b.hasEngine("pdf"));
    EXPECT_FALSE(a.hasEngine("ffmpeg"));
}

// A drop of a video and a sound together: each file is planned with its own kind's options,
// so neither is re-encoded by the picture quality.
TEST_F(CoordinatorTest, MixedDropsTakeEachFilesOwnOptions) {
    auto coordinator = make({FakeEngine::make("ffmpeg")});
    const Preferences preferences;
    const auto jobs =
        coordinator.plan(preferences.formatIntent({file("clip.mp4"), file("song.m4a")}, FormatID("m4a"), std::nullopt));
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].options, preferences.conversionOptions(FormatCategory::video));
    EXPECT_EQ(jobs[1].options, preferences.conversionOptions(FormatCategory::audio));
    EXPECT_NE(jobs[0].options, preferences.conversionOptions(FormatCategory::image));
}

}  // namespace
}  // namespace kolvex::testing
