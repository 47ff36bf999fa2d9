// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "CoordinatorFixture.h"
#include "core/format/ConversionError.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

ConversionJob jobWith(const Format& from, ConversionCost cost, const char* engine = "image") {
    return ConversionJob("/in/a", {}, "/out/a", from, from, ConversionCapability{from.id, from.id, engine, cost, false},
                         ConversionOptions::defaults());
}

TEST_F(CoordinatorTest, ConcurrencyLimit) {
    const Format png = format("png"), mp4 = format("mp4");
    const std::vector<ConversionJob> images{jobWith(png, ConversionCost::inProcess), jobWith(png, ConversionCost::hardware)};
    struct Row {
        int processors;
        int limit;
    };
    for (auto [processors, limit] : {Row{12, 8}, Row{8, 8}, Row{5, 5}, Row{2, 2}, Row{1, 2}, Row{0, 2}})
        EXPECT_EQ(ConversionCoordinator::concurrencyLimit(images, processors), limit) << processors;

    auto withSubprocessAt = [&](size_t position) {
        std::vector<ConversionJob> jobs(3, jobWith(png, ConversionCost::inProcess));
        jobs[position] = jobWith(png, ConversionCost::subprocess);
        return jobs;
    };
    for (size_t position : {0u, 1u, 2u}) EXPECT_EQ(ConversionCoordinator::concurrencyLimit(withSubprocessAt(position), 12), 2);
    EXPECT_EQ(ConversionCoordinator::concurrencyLimit({jobWith(png, ConversionCost::inProcess), jobWith(mp4, ConversionCost::inProcess)}, 12), 2);

    // Only the source's category counts: an in-process conversion to video keeps the full limit.
    ConversionJob toVideo = jobWith(png, ConversionCost::inProcess);
    toVideo.to = mp4;
    EXPECT_EQ(ConversionCoordinator::concurrencyLimit({toVideo}, 12), 8);
    EXPECT_GE(ConversionCoordinator::activeProcessorCount(), 1);
}

TEST_F(CoordinatorTest, AtMostLimitJobsRunAndTheNextStartsWhenOneFinishes) {
    std::vector<std::shared_ptr<Gate>> gates;
    std::vector<std::pair<std::string, FakeEngine::Convert>> table;
    std::vector<fs::path> sources;
    for (int i = 1; i <= 5; ++i) {
        gates.push_back(std::make_shared<Gate>());
        const std::string name = "p" + std::to_string(i) + ".png";
        table.emplace_back(name, FakeEngine::waitsFor(gates.back()));
        sources.push_back(file(name));
    }
    auto engine = FakeEngine::make("image", FakeEngine::bySourceName(table));
    auto coordinator = make({engine}, /*processors=*/2);

    std::vector<ConversionResult> results;
    std::jthread batch([&] { results = coordinator.submit(ConversionIntent{sources, "jpg", ConversionOptions::defaults(), {}}); });
    engine->waitUntilStarted(2);
    auto startedNames = [&] {
        std::vector<std::string> out;
        for (const auto& job : engine->convertedJobs()) out.push_back(job.source.filename().string());
        return out;
    };
    auto firstTwo = startedNames();
    std::sort(firstTwo.begin(), firstTwo.end());  // the two workers may pick them up in either order
    EXPECT_EQ(firstTwo, (std::vector<std::string>{"p1.png", "p2.png"}));

    gates[1]->open();  // the second finishes first
    engine->waitUntilStarted(3);
    EXPECT_EQ(startedNames().at(2), "p3.png");
    EXPECT_EQ(engine->started(), 3);
    for (auto& gate : gates) gate->open();
    batch.join();

    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[0].source.filename(), "p2.png");  // completion order
    EXPECT_EQ(engine->maxConcurrent(), 2);
    for (const auto& r : results) EXPECT_TRUE(r.succeeded());
}

TEST_F(CoordinatorTest, ProgressIsThrottledAndEndsWithOneFinalReport) {
    auto engine = FakeEngine::make("image", FakeEngine::reports({0.1, 0.1005, 0.5, 0.3, 1.7}));
    auto coordinator = make({engine}, 2);
    ProgressLog progress;
    const auto results = coordinator.submit(ConversionIntent{{file("a.png")}, "jpg", ConversionOptions::defaults(), {}},
                                            progress.callback());
    ASSERT_TRUE(results.at(0).succeeded());
    const auto reports = progress.reports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0], (BatchProgress{0, 1, 0.1}));
    EXPECT_EQ(reports[1], (BatchProgress{0, 1, 0.5}));
    EXPECT_EQ(reports[2], (BatchProgress{1, 1, 1.0}));  // 1.7 is stored as 1
    EXPECT_EQ(reports[3], (BatchProgress{1, 1, 1.0}));  // the final report repeats it
}

TEST_F(CoordinatorTest, FailedBatchStillEndsComplete) {
    auto engine = FakeEngine::make("image", FakeEngine::throwsForeign("no"));
    auto coordinator = make({engine});
    ProgressLog progress;
    const auto results = coordinator.submit(
        ConversionIntent{{file("a.png"), file("b.png"), file("c.png")}, "jpg", ConversionOptions::defaults(), {}},
        progress.callback());
    ASSERT_EQ(results.size(), 3u);
    for (const auto& r : results) EXPECT_FALSE(r.succeeded());
    ASSERT_FALSE(progress.reports().empty());
    EXPECT_EQ(progress.reports().back(), (BatchProgress{3, 3, 1.0}));
}

TEST_F(CoordinatorTest, StopCancelsRunningAndUnstartedJobs) {
    auto never = std::make_shared<Gate>();
    auto engine = FakeEngine::make("image", FakeEngine::waitsFor(never));
    auto coordinator = make({engine}, 2);
    std::vector<fs::path> sources;
    for (const char* name : {"a.png", "b.png", "c.png", "d.png", "e.png"}) sources.push_back(file(name));
    std::stop_source stop;
    ProgressLog progress;
    std::vector<ConversionResult> results;
    std::jthread batch([&] {
        results = coordinator.submit(ConversionIntent{sources, "jpg", ConversionOptions::defaults(), {}},
                                     progress.callback(), stop.get_token());
    });
    engine->waitUntilStarted(2);
    stop.request_stop();
    batch.join();
    ASSERT_EQ(results.size(), 5u);
    for (const auto& r : results) EXPECT_EQ(r.error, ConversionError::cancelled()) << r.source;
    EXPECT_EQ(engine->started(), 2);  // the others never reached the engine
    EXPECT_EQ(progress.reports().back(), (BatchProgress{5, 5, 1.0}));
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) EXPECT_FALSE(fs::exists(m_dir / name));
}

TEST(BatchProgressTracker, SlotsOnlyRiseAndReportsAreThrottled) {
    std::vector<BatchProgress> reports;
    BatchProgressTracker tracker(1, [&](const BatchProgress& p) { reports.push_back(p); });
    tracker.update(0, 0.001);
    EXPECT_TRUE(reports.empty());
    tracker.update(0, 0.0025);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].fraction, 0.0025);
    tracker.update(0, 0.004);  // not above 0.0025 + 0.002
    EXPECT_EQ(reports.size(), 1u);
    tracker.update(0, std::nan(""));
    tracker.update(-1, 1);
    tracker.update(1, 1);
    EXPECT_EQ(reports.size(), 1u);
    tracker.finishAll();
    tracker.finishAll();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[2], (BatchProgress{1, 1, 1.0}));
    tracker.update(0, 1);  // a late report changes nothing visible
    EXPECT_EQ(reports.size(), 3u);

    std::vector<BatchProgress> two;
    BatchProgressTracker pair(2, [&](const BatchProgress& p) { two.push_back(p); });
    pair.update(0, 0.5);
    pair.update(0, 0.3);
    pair.update(1, 0.5);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[1], (BatchProgress{0, 2, 0.5}));
    pair.update(0, 1);
    EXPECT_EQ(two.back(), (BatchProgress{1, 2, 0.75}));

    BatchProgressTracker silent(3, nullptr);  // no one listening: nothing to call
    silent.update(0, 0.5);
    silent.finishAll();
}

TEST(BatchProgressTracker, ManyThreadsReportStrictlyRisingFractions) {
    std::mutex mutex;
    std::vector<double> fractions;
    BatchProgressTracker tracker(4, [&](const BatchProgress& p) {
        std::lock_guard lock(mutex);
        fractions.push_back(p.fraction);
    });
    {
        std::vector<std::jthread> threads;
        for (int job = 0; job < 4; ++job)
            threads.emplace_back([&tracker, job] {
                for (int i = 1; i <= 1000; ++i) tracker.update(job, i / 1000.0);
            });
    }
    tracker.finishAll();
    EXPECT_LT(fractions.size(), 502u);
    EXPECT_EQ(fractions.back(), 1.0);
}

}  // namespace
}  // namespace kolvex::testing
