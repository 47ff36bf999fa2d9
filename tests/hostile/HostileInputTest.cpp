// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile inputs through the real coordinator and the real engines. Every file must end in a
// clean ConversionError or a correct output, in bounded time, leaving nothing beside the sources
// but successful outputs and changing no file that was there before.
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "HostileCorpus.h"
#include "RealEngines.h"
#include "core/services/OutputNaming.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#ifdef KOLVEX_HAVE_DOCUMENT
#include "support/qt/QtEnvironments.h"
#endif

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

#ifdef KOLVEX_HAVE_DOCUMENT
// The document engine lays text out with Qt.
[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment("test-hostile"));
#endif

// No batch of this corpus may take longer than this, even on a slow machine under sanitizers.
constexpr auto kBatchBound = std::chrono::seconds(90);

std::string describe(const fs::path& path) { return fmt::format("{:?}", path.string()); }

class HostileInput : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed: the corpus is made with it";
        m_real = std::make_unique<RealEngines>(RealEngines::assemble(TemporaryFileManager(m_scratch.path() / "root")));
        m_coordinator = m_real->coordinator();
    }

    void TearDown() override {
        // Every job's scratch folder went with its job.
        std::error_code ec;
        if (fs::exists(m_scratch.path() / "root", ec)) {
            EXPECT_TRUE(fs::is_empty(m_scratch.path() / "root", ec)) << "a scratch folder was left behind";
        }
    }

    bool withFFmpeg() const { return m_real->has(engine_ids::ffmpeg); }
    bool withDocuments() const { return m_real->has(engine_ids::document); }

    // Runs one batch to a format and checks that it came back in bounded time with one result per file.
    std::vector<ConversionResult> convert(const std::vector<fs::path>& files, const std::string& target,
                                          const BatchProgressCallback& progress = {}, std::stop_token stop = {}) {
        const auto start = Clock::now();
        auto results = m_coordinator->submit(ConversionIntent{files, FormatID(target), ConversionOptions::defaults(), {}},
                                             progress, std::move(stop));
        EXPECT_LT(Clock::now() - start, kBatchBound) << "a batch to " << target << " took too long";
        EXPECT_EQ(results.size(), files.size());
        return results;
    }

    TempDir m_dir;
    TempDir m_scratch;
    std::unique_ptr<RealEngines> m_real;
    std::unique_ptr<ConversionCoordinator> m_coordinator;
};

// Checks one result: a clean error, or outputs that are well-formed files of the target.
void expectClean(const ConversionResult& result, const std::string& target, Expectation expectation, bool cancelAllowed) {
    SCOPED_TRACE(describe(result.source));
    if (result.succeeded()) {
        EXPECT_NE(expectation, Expectation::fails) << "a file that is not what it claims was reported converted";
        for (const auto& output : result.outputs) {
            if (auto problem = outputProblem(output, target)) {
                ADD_FAILURE() << describe(output) << ": " << *problem;
            }
        }
        return;
    }
    ASSERT_TRUE(result.error.has_value()) << "a failure without an error";
    EXPECT_FALSE(result.error->shortDescription().empty());
    if (!cancelAllowed) {
        EXPECT_NE(result.error->kind(), ConversionError::Kind::cancelled);
    }
    if (result.error->kind() != ConversionError::Kind::cancelled) {
        EXPECT_NE(expectation, Expectation::succeeds)
            << "a sound file failed: " << result.error->shortDescription() << " "
            << result.error->diagnosticDetail().value_or("");
    }
}

// Compares a folder before and after: only the given outputs may have appeared, nothing vanished
// and no file that was there changed.
void expectOnlyOutputsAdded(const FolderSnapshot& before, const FolderSnapshot& after, const std::set<fs::path>& outputs) {
    for (const auto& [path, item] : before.items) {
        auto now = after.items.find(path);
        if (now == after.items.end()) {
            ADD_FAILURE() << describe(path) << " vanished";
        } else if (!(now->second == item)) {
            ADD_FAILURE() << describe(path) << " changed";
        }
    }
    for (const auto& [path, item] : after.items) {
        if (!before.items.contains(path) && !outputs.contains(path)) {
            ADD_FAILURE() << describe(path) << " was left beside the sources";
        }
    }
}

TEST_F(HostileInput, EveryFileEndsCleanlyAndASecondRunGetsNewNames) {
    const fs::path folder = m_dir / "corpus";
    const auto corpus = makeHostileCorpus(folder, withFFmpeg(), withDocuments());
    std::map<std::string, std::vector<CorpusFile>> byTarget;
    std::map<fs::path, Expectation> expectations;
    for (const auto& file : corpus) {
        byTarget[file.target].push_back(file);
        expectations[file.path] = file.expectation;
    }

    std::map<fs::path, std::vector<fs::path>> firstOutputs;
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(fmt::format("run {}", round));
        const FolderSnapshot before = FolderSnapshot::of(folder);
        std::set<fs::path> outputs;
        for (const auto& [target, files] : byTarget) {
            std::vector<fs::path> paths;
            for (const auto& file : files) paths.push_back(file.path);
            for (const auto& result : convert(paths, target)) {
                expectClean(result, target, expectations[result.source], false);
                for (const auto& output : result.outputs) {
                    EXPECT_FALSE(before.items.contains(output)) << describe(output) << " was there before";
                    EXPECT_EQ(output.parent_path(), folder) << "an output was not written beside its source";
                    outputs.insert(output);
                }
                if (round == 1) {
                    firstOutputs[result.source] = result.outputs;
                } else if (result.succeeded() && !firstOutputs[result.source].empty()) {
                    // The first run's output is taken now: the second is numbered.
                    const std::string stem = OutputNaming::stem(result.outputs.front().filename().string());
                    EXPECT_NE(result.outputs.front(), firstOutputs[result.source].front());
                    EXPECT_TRUE(stem.size() > 2 && stem.find_last_not_of("0123456789") < stem.size() - 1 &&
                                stem[stem.find_last_not_of("0123456789")] == ' ')
                        << describe(result.outputs.front()) << " is not a numbered name";
                }
            }
        }
        expectOnlyOutputsAdded(before, FolderSnapshot::of(folder), outputs);
    }
    EXPECT_FALSE(fs::exists(fs::current_path() / "pwned")) << "a file name was run as a command";
}

TEST_F(HostileInput, PixelBombsAreRefusedQuicklyWhateverTheTarget) {
    const fs::path folder = m_dir / "bombs";
    fs::create_directories(folder);
    std::vector<fs::path> files;
    for (const auto& [name, width, height] : std::vector<std::tuple<std::string, uint32_t, uint32_t>>{
             {"square.png", 100'000, 100'000}, {"tall.png", 1, 0x7FFFFFFF}, {"just-over.png", 16'385, 16'385}}) {
        files.push_back(m_dir.write("bombs/" + name, pixelBombPng(width, height)));
    }
    for (const std::string target : {"jpg", "webp", "pdf", "tiff"}) {
        SCOPED_TRACE(target);
        const FolderSnapshot before = FolderSnapshot::of(folder);
        const auto start = Clock::now();
        for (const auto& result : convert(files, target)) expectClean(result, target, Expectation::fails, false);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
        expectOnlyOutputsAdded(before, FolderSnapshot::of(folder), {});
    }
}

// 300 files of every engine's kinds, sound and broken, in one batch cancelled part way through.
TEST_F(HostileInput, ACancelledBatchOf300LeavesOnlyWholeOutputs) {
    const fs::path folder = m_dir / "batch";
    const auto seeds = makeSeeds(m_dir / "seeds", withFFmpeg());
    fs::create_directories(folder);
    std::vector<std::string> kinds = {"png", "jpg", "wav", "pdf"};
    if (withFFmpeg()) kinds.push_back("mp4");
    if (withDocuments()) kinds.push_back("txt");
    std::vector<fs::path> files;
    for (int i = 0; i < 300; ++i) {
        const std::string& kind = kinds[static_cast<size_t>(i) % kinds.size()];
        const fs::path file = folder / fmt::format("file {:03}.{}", i, kind);
        if (i % 10 == 3) {
            m_dir.write(fs::relative(file, m_dir.path()).string(), "broken");  // a damaged one now and then
        } else {
            fs::copy_file(seeds.at(kind), file);
        }
        files.push_back(file);
    }

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE(fmt::format("seed {}", seed));
    std::mt19937 random(seed);
    const int cancelAfter = std::uniform_int_distribution<int>(5, 250)(random);

    const FolderSnapshot before = FolderSnapshot::of(folder);
    std::stop_source stop;
    std::atomic<int> reports{0};
    const auto start = Clock::now();
    const auto results = m_coordinator->submit(
        ToolIntent{files, "strip-metadata", ConversionOptions::defaults(), {}},
        [&](const BatchProgress& progress) {
            ++reports;
            if (progress.completed >= cancelAfter) stop.request_stop();
        },
        stop.get_token());
    EXPECT_LT(Clock::now() - start, kBatchBound);
    ASSERT_EQ(results.size(), files.size());
    EXPECT_LE(reports.load(), 501);

    std::set<fs::path> outputs;
    std::set<fs::path> sources;
    int succeeded = 0;
    int cancelled = 0;
    for (const auto& result : results) {
        sources.insert(result.source);
        const std::string format = result.source.extension().string().substr(1);
        expectClean(result, format, Expectation::either, true);
        if (result.succeeded()) ++succeeded;
        if (result.error && result.error->kind() == ConversionError::Kind::cancelled) ++cancelled;
        for (const auto& output : result.outputs) outputs.insert(output);
    }
    EXPECT_EQ(sources.size(), files.size()) << "a file got no result, or two";
    EXPECT_GE(succeeded, cancelAfter * 8 / 10) << "sound files finished before the cancel";
    EXPECT_GT(cancelled, 0) << "the cancel reached no job";
    expectOnlyOutputsAdded(before, FolderSnapshot::of(folder), outputs);
}

// The Portal cancels single conversions: requests running side by side, half cancelled at random moments.
TEST_F(HostileInput, RequestsCancelledAtRandomMomentsLeaveNothingBehind) {
    const fs::path folder = m_dir / "single";
    const auto seeds = makeSeeds(m_dir / "seeds", withFFmpeg());
    fs::create_directories(folder);
    const std::vector<std::pair<std::string, std::string>> conversions = {
        {"png", "webp"}, {"jpg", "tiff"}, {"wav", "m4a"}, {"pdf", "jpg"}, {"zip", "7z"}, {"mp4", "webm"}};
    std::vector<std::pair<fs::path, std::string>> jobs;
    for (int i = 0; i < 24; ++i) {
        const auto& [kind, target] = conversions[static_cast<size_t>(i) % conversions.size()];
        if (!seeds.contains(kind)) continue;
        const fs::path file = folder / fmt::format("item {:02}.{}", i, kind);
        fs::copy_file(seeds.at(kind), file);
        jobs.emplace_back(file, target);
    }

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE(fmt::format("seed {}", seed));
    std::mt19937 random(seed);
    const FolderSnapshot before = FolderSnapshot::of(folder);
    std::vector<std::stop_source> stops(jobs.size());
    std::vector<std::vector<ConversionResult>> results(jobs.size());
    {
        std::vector<std::jthread> requests;
        for (size_t i = 0; i < jobs.size(); ++i) {
            requests.emplace_back([&, i] {
                results[i] = m_coordinator->submit(
                    ConversionIntent{{jobs[i].first}, FormatID(jobs[i].second), ConversionOptions::defaults(), {}}, {},
                    stops[i].get_token());
            });
        }
        for (size_t i = 0; i < jobs.size(); ++i) {
            if (random() % 2 == 0) continue;
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 20'000));  // a moment, not a wait
            stops[i].request_stop();
        }
    }
    std::set<fs::path> outputs;
    for (size_t i = 0; i < jobs.size(); ++i) {
        ASSERT_EQ(results[i].size(), 1u);
        expectClean(results[i].front(), jobs[i].second, Expectation::succeeds, stops[i].stop_requested());
        for (const auto& output : results[i].front().outputs) EXPECT_TRUE(outputs.insert(output).second) << "a name given twice";
    }
    expectOnlyOutputsAdded(before, FolderSnapshot::of(folder), outputs);
}

}  // namespace
}  // namespace kolvex::testing
