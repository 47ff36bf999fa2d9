// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "CoordinatorFixture.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

// Takes a little while, so jobs allowed to overlap do.
FakeEngine::Convert slowWrite() {
    return [](const ConversionJob& job, const ProgressCallback&, std::stop_token) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        std::ofstream(job.destination) << "converted";
        return std::vector<fs::path>{job.destination};
    };
}

ConversionIntent toJpeg(std::vector<fs::path> sources, RunRules rules) {
    ConversionIntent intent{std::move(sources), "jpg", ConversionOptions::defaults(), {}};
    intent.rules = std::move(rules);
    return intent;
}

TEST_F(CoordinatorTest, TheUsersLimitBoundsJobsAtOnceWithinAndAcrossRequests) {
    struct Row {
        int limit;
        int requests;
        int most;  // the most jobs that may overlap
    };
    for (const auto [limit, requests, most] : {Row{1, 1, 1}, Row{2, 1, 2}, Row{1, 2, 1}, Row{2, 2, 2}}) {
        auto engine = FakeEngine::make("image", slowWrite());
        auto coordinator = make({engine}, /*processors=*/8);
        std::vector<std::jthread> running;
        std::vector<std::vector<ConversionResult>> results(static_cast<size_t>(requests));
        for (int r = 0; r < requests; ++r) {
            std::vector<fs::path> sources;
            for (int i = 0; i < 4; ++i) sources.push_back(file("r" + std::to_string(r) + "-" + std::to_string(i) + ".png"));
            running.emplace_back([&, r, sources] {
                results[static_cast<size_t>(r)] = coordinator.submit(toJpeg(sources, RunRules{limit, {}}));
            });
        }
        running.clear();  // joins
        EXPECT_EQ(engine->maxConcurrent(), most) << limit << " " << requests;
        for (const auto& batch : results) {
            ASSERT_EQ(batch.size(), 4u);
            for (const auto& result : batch) EXPECT_TRUE(result.succeeded());
        }
    }
}

TEST_F(CoordinatorTest, AskingAboutTakenNamesKeepsBothOrSkipsThoseFiles) {
    const fs::path existing = m_dir.write("a.jpg", "the user's own");
    for (const bool keepBoth : {true, false}) {
        fs::remove(m_dir.path() / "a 2.jpg");
        fs::remove(m_dir.path() / "b.jpg");
        auto engine = FakeEngine::make("image");
        auto coordinator = make({engine});
        std::vector<std::vector<fs::path>> asked;
        RunRules rules;
        rules.keepBothWhenTaken = [&](const std::vector<fs::path>& names) {
            asked.push_back(names);
            return keepBoth;
        };
        const auto results = coordinator.submit(toJpeg({file("a.png"), file("b.png")}, rules));

        ASSERT_EQ(asked.size(), 1u) << "asked once per request";
        EXPECT_EQ(asked.front(), std::vector<fs::path>{existing});
        ASSERT_EQ(results.size(), 2u);
        EXPECT_TRUE(fs::exists(m_dir.path() / "b.jpg"));
        EXPECT_EQ(fs::exists(m_dir.path() / "a 2.jpg"), keepBoth);
        for (const auto& result : results) {
            const bool isA = result.source.filename() == "a.png";
            EXPECT_EQ(result.skipped, isA && !keepBoth);
            EXPECT_EQ(result.succeeded(), !result.skipped);
            EXPECT_FALSE(result.error) << "skipping is the user's choice, not a failure";
            if (result.skipped) {
                EXPECT_EQ(result.note, std::optional<std::string>("a.jpg already exists"));
            }
        }
        std::ifstream in(existing);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the user's own");
    }
}

TEST_F(CoordinatorTest, NothingIsAskedWhenEveryPlainNameIsFree) {
    auto coordinator = make({FakeEngine::make("image")});
    int asked = 0;
    RunRules rules;
    rules.keepBothWhenTaken = [&](const std::vector<fs::path>&) { return ++asked, false; };
    // Two sources with one stem: the second's number comes from the first, not from the disk.
    const auto results = coordinator.submit(toJpeg({file("c.png"), file("c.tiff")}, rules));
    EXPECT_EQ(asked, 0);
    for (const auto& result : results) EXPECT_TRUE(result.succeeded());
}

TEST_F(CoordinatorTest, AToolOnAFileBesideItselfNeverAsksAboutItsOwnSource) {
    // The output of a tool that keeps the format would have the source's own name; it is never
    // written over the source, so there is nothing to ask: it gets a number.
    const fs::path elsewhere = m_dir.path() / "elsewhere";
    fs::create_directories(elsewhere);
    for (const char* id : {"compress", "resize", "strip-metadata"}) {
        SCOPED_TRACE(id);
        const fs::path photo = m_dir.write("photo.png", "the user's photo");
        fs::remove(m_dir.path() / "photo 2.png");
        auto coordinator = make({FakeEngine::make(
            "image", FakeEngine::writesDestination(),
            [](const ConversionJob& job) { return job.from.category == FormatCategory::image; })});
        int asked = 0;
        RunRules rules;
        rules.keepBothWhenTaken = [&](const std::vector<fs::path>&) { return ++asked, false; };
        const ToolIntent intent{{photo}, id, ConversionOptions::defaults(), std::nullopt, rules};
        ASSERT_NO_THROW(coordinator.plan(intent)) << "a request that cannot be planned asks nothing anyway";
        EXPECT_TRUE(coordinator.takenNames(intent).empty());
        const auto results = coordinator.submit(intent);
        EXPECT_EQ(asked, 0);
        ASSERT_EQ(results.size(), 1u);
        EXPECT_FALSE(results[0].skipped);
        ASSERT_TRUE(results[0].succeeded()) << (results[0].error ? results[0].error->shortDescription() : "");
        EXPECT_EQ(results[0].outputs.at(0), m_dir.path() / "photo 2.png");

        // Into another folder that holds a photo.png of its own, the name is taken: asked.
        const fs::path theirs = elsewhere / "photo.png";
        std::ofstream(theirs) << "someone else's";
        const ToolIntent away{{photo}, id, ConversionOptions::defaults(), elsewhere, rules};
        EXPECT_EQ(coordinator.takenNames(away), std::vector<fs::path>{theirs});
        const auto skipped = coordinator.submit(away);
        EXPECT_EQ(asked, 1);
        ASSERT_EQ(skipped.size(), 1u);
        EXPECT_TRUE(skipped[0].skipped);
        fs::remove(theirs);
    }
}

}  // namespace
}  // namespace kolvex::testing
