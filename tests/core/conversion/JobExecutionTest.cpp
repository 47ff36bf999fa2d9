// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "CoordinatorFixture.h"
#include "core/format/ConversionError.h"
#include "core/services/Log.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

ConversionIntent toFormat(std::vector<fs::path> urls, const char* target) {
    return ConversionIntent{std::move(urls), FormatID(target), ConversionOptions::defaults(), std::nullopt};
}

TEST_F(CoordinatorTest, SpaceCheckNeedsTheSourceSizeATenthAndAMegabyte) {
    auto engine = FakeEngine::make("image");
    auto coordinator = make({engine});
    const auto source = file("big.png");
    fs::resize_file(source, 10'000'000);  // sparse: costs no space

    m_files->capacity = int64_t{12'048'575};
    auto results = coordinator.submit(toFormat({source}, "jpg"));
    // Refused one byte short; told with a need that does not read as the room does ("12.1 MB",
    // "12 MB").
    EXPECT_EQ(results.at(0).error, ConversionError::insufficientDiskSpace(12'050'000, 12'048'575));
    EXPECT_EQ(engine->started(), 0);

    m_files->capacity = int64_t{12'048'576};
    EXPECT_TRUE(coordinator.submit(toFormat({source}, "jpg")).at(0).succeeded());

    // A 9-byte file needs 1,048,585 bytes.
    m_files->capacity = int64_t{1'048'584};
    EXPECT_EQ(coordinator.submit(toFormat({file("small.png", "123456789")}, "jpg")).at(0).error,
              ConversionError::insufficientDiskSpace(1'050'000, 1'048'584));

    // Unknown capacity, or an unreadable source size: no check.
    m_files->capacity.emplace();
    EXPECT_TRUE(coordinator.submit(toFormat({source}, "jpg")).at(0).succeeded());
    m_files->capacity = int64_t{0};
    m_files->sourceSize.emplace();
    EXPECT_TRUE(coordinator.submit(toFormat({source}, "jpg")).at(0).succeeded());
}

// An engine that projects what a job writes asks the volume for that itself: the coordinator
// asks nothing of the source's size, however far the volume is from holding the source.
TEST_F(CoordinatorTest, AnEngineThatChecksItsOwnRoomIsNotAskedTheSourcesSize) {
    auto own = FakeEngine::make("ffmpeg");
    own->checkRoomItself();
    const auto source = file("long.mp4");
    fs::resize_file(source, 10'000'000);  // sparse: costs no space
    m_files->capacity = int64_t{100'000};
    {
        auto coordinator = make({own});
        const auto results = coordinator.submit(ToolIntent{{source}, "trim", ConversionOptions::defaults(), std::nullopt});
        ASSERT_EQ(results.size(), 1u);
        EXPECT_TRUE(results[0].succeeded()) << results[0].error->shortDescription();
        EXPECT_EQ(own->started(), 1);
    }

    // An engine that projects nothing is still asked for the source's size.
    auto coordinator = make({FakeEngine::make("ffmpeg")});
    const auto refused = coordinator.submit(ToolIntent{{source}, "trim", ConversionOptions::defaults(), std::nullopt});
    ASSERT_TRUE(refused.at(0).error);
    EXPECT_EQ(refused.at(0).error->kind(), ConversionError::Kind::insufficientDiskSpace);
}

// While another job writes, the room its partial file holds may come back: a guess from the
// source is not told as a need, and the engine meets the volume itself.
TEST_F(CoordinatorTest, TheSpaceCheckLeavesTheGuessUnsaidWhileAnotherJobWrites) {
    auto gate = std::make_shared<Gate>();
    auto engine = FakeEngine::make("image", FakeEngine::bySourceName({{"busy.png", FakeEngine::waitsFor(gate)}},
                                                                     FakeEngine::writesDestination()));
    auto coordinator = make({engine}, /*processors=*/2);
    const auto big = file("big.png");
    fs::resize_file(big, 10'000'000);  // sparse: costs no space
    m_files->capacity = int64_t{5'000'000};

    std::vector<ConversionResult> busy;
    std::jthread writing([&] { busy = coordinator.submit(toFormat({file("busy.png")}, "jpg")); });
    engine->waitUntilStarted(1);
    const auto results = coordinator.submit(toFormat({big}, "jpg"));
    gate->open();
    writing.join();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].succeeded()) << results[0].error->shortDescription();
    EXPECT_EQ(engine->started(), 2);

    // Alone, the same job is refused before its engine starts.
    EXPECT_EQ(coordinator.submit(toFormat({big}, "jpg")).at(0).error->kind(), ConversionError::Kind::insufficientDiskSpace);
    EXPECT_EQ(engine->started(), 2);
}

TEST_F(CoordinatorTest, OutputFolderIsCreatedOrRefused) {
    auto coordinator = make({FakeEngine::make("image")});
    const auto source = file("photo.png");
    const fs::path nested = m_dir / "out/deeper";
    auto results = coordinator.submit(ConversionIntent{{source}, "jpg", ConversionOptions::defaults(), nested});
    ASSERT_TRUE(results.at(0).succeeded());
    EXPECT_TRUE(fs::exists(nested / "photo.jpg"));

    m_files->writable = false;
    results = coordinator.submit(toFormat({source}, "jpg"));
    EXPECT_EQ(results.at(0).error, ConversionError::insufficientPermissions(m_dir / "photo.jpg"));
    m_files->writable = true;

    // A file where the folder should be: the platform error becomes a back-end failure.
    file("blocker", "x");
    results = coordinator.submit(ConversionIntent{{source}, "jpg", ConversionOptions::defaults(), m_dir / "blocker/sub"});
    ASSERT_TRUE(results.at(0).error);
    EXPECT_EQ(results.at(0).error->kind(), ConversionError::Kind::backendFailure);
    EXPECT_EQ(results.at(0).error->engine(), "image");
    EXPECT_EQ(results.at(0).error->exitCode(), -1);
}

TEST_F(CoordinatorTest, EngineFailuresBecomeConversionErrors) {
    const auto damaged = ConversionError::corruptedInput("/x/a.png");
    auto engine = FakeEngine::make(
        "image", FakeEngine::bySourceName({
                     {"classified.png", FakeEngine::fails(damaged)},
                     {"cancelled.png", FakeEngine::throwsCancelled()},
                     {"cancelled-error.png", FakeEngine::fails(ConversionError::cancelled())},
                     {"foreign.png", FakeEngine::throwsForeign("vips said no")},
                     {"nothing.png", FakeEngine::returnsNothing()},
                     {"taken.png", FakeEngine::nameTakenMeanwhile()},
                 }));
    auto coordinator = make({engine});
    struct Row {
        const char* name;
        ConversionError expected;
    };
    const Row rows[] = {
        {"classified.png", damaged},
        {"cancelled.png", ConversionError::cancelled()},
        {"cancelled-error.png", ConversionError::cancelled()},
        {"foreign.png", ConversionError::backendFailure("image", -1, "vips said no")},
        {"nothing.png", ConversionError::backendFailure("image", -1, "The conversion finished without writing a file")},
        {"taken.png", ConversionError::outputNameUnavailable(m_dir / "taken.jpg")},
    };
    for (const auto& row : rows) {
        const auto results = coordinator.submit(toFormat({file(row.name)}, "jpg"));
        ASSERT_EQ(results.size(), 1u) << row.name;
        EXPECT_EQ(results[0].error, row.expected) << row.name;
        EXPECT_TRUE(results[0].outputs.empty()) << row.name;
        EXPECT_FALSE(results[0].usedPassthrough) << row.name;
        EXPECT_FALSE(results[0].note) << row.name;
    }
    // A name another program took while the job ran is never removed: the coordinator deletes
    // nothing it did not make.
    EXPECT_EQ(testing::readFile(m_dir / "taken.jpg"), "someone else's");
}

// Reports a stream copy for sources named "copy*" and a note for those named "*note*".
class ReportingEngine final : public ConversionEngine {
public:
    EngineID id() const override { return engine_ids::ffmpeg; }
    bool canHandle(const ConversionJob&) const override { return true; }
    bool checksRoom(const ConversionJob&) const override { return false; }
    std::vector<fs::path> convert(const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop) const override {
        return convertReporting(job, progress, stop).outputs;
    }
    ConversionOutcome convertReporting(const ConversionJob& job, const ProgressCallback&, std::stop_token) const override {
        const std::string name = job.source.filename().string();
        if (name.find("bad") != std::string::npos) throw std::runtime_error("boom");
        std::ofstream(job.destination) << "converted";
        std::optional<std::string> note;
        if (name.find("note") != std::string::npos) note = "1 subtitle track was left out";
        return {{job.destination}, name.starts_with("copy"), note};
    }
};

TEST_F(CoordinatorTest, PassthroughAndNoteAreWhatTheEngineReports) {
    auto coordinator = make({std::make_shared<ReportingEngine>()});
    struct Row {
        const char* name;
        bool copied;
        std::optional<std::string> note;
    };
    const Row rows[] = {
        {"copy.mp4", true, std::nullopt},
        {"copy note.mp4", true, "1 subtitle track was left out"},
        // Planned as a copy (nothing asks to re-encode), yet the engine had to re-encode.
        {"encoded.mp4", false, std::nullopt},
        {"copy bad.mp4", false, std::nullopt},
    };
    for (const auto& row : rows) {
        const auto result = coordinator.submit(toFormat({file(row.name)}, "mov")).at(0);
        EXPECT_EQ(result.usedPassthrough, row.copied) << row.name;
        EXPECT_EQ(result.note, row.note) << row.name;
    }
}

TEST_F(CoordinatorTest, DecliningEngineIsReroutedToTheNextRegisteredOne) {
    auto image = FakeEngine::make("image", FakeEngine::writesDestination(), FakeEngine::declinesAll());
    auto vips2 = FakeEngine::make("vips2");
    auto coordinator = make({image, vips2});
    const auto jobs = coordinator.plan(toFormat({file("photo.png")}, "webp"));
    ASSERT_EQ(jobs.at(0).capability.engine, EngineID("image"));

    LogCapture log;
    const auto results = coordinator.run(jobs);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].succeeded());
    EXPECT_NE(results[0].id, jobs[0].id);
    EXPECT_EQ(vips2->started(), 1);
    EXPECT_EQ(image->started(), 0);
    EXPECT_TRUE(log.contains("conversion", "Rerouting PNG\u2192WebP to vips2"));

    // A declined folded job keeps all its sources when rerouted.
    ConversionJob folded(jobs[0].source, {file("b.png"), file("c.png")}, jobs[0].destination, jobs[0].from,
                         jobs[0].to, jobs[0].capability, jobs[0].options);
    coordinator.run({folded});
    ASSERT_EQ(vips2->started(), 2);
    EXPECT_EQ(vips2->convertedJobs()[1].additionalSources, folded.additionalSources);

    // png→bmp: the only other engine ("ghost") is not registered.
    EXPECT_EQ(coordinator.submit(toFormat({file("photo.png")}, "bmp")).at(0).error,
              ConversionError::unsupportedCombination("PNG", "BMP"));
    EXPECT_EQ(image->started(), 0);
}

TEST_F(CoordinatorTest, CompressNoteWhenTheOriginalWasKept) {
    // The engine writes outputs of a chosen size.
    auto sized = [](size_t bytes) {
        return FakeEngine::writesDestination(std::string(bytes, 'x'));
    };
    auto engine = FakeEngine::make("image", FakeEngine::bySourceName({
                                                {"same.png", sized(100)},
                                                {"smaller.png", sized(99)},
                                                {"empty.png", sized(0)},
                                                {"bad.png", FakeEngine::throwsForeign("no")},
                                            },
                                                                     sized(100)));
    auto coordinator = make({engine});
    auto compress = [&](const char* name, const char* target, size_t sourceBytes = 100) {
        ConversionIntent intent = toFormat({file(name, std::string(sourceBytes, 's'))}, target);
        intent.options.tool = "compress";
        return coordinator.submit(intent).at(0);
    };
    EXPECT_EQ(compress("same.png", "png").note, "PNG was already as small as it gets \u2014 the original was kept.");
    EXPECT_FALSE(compress("smaller.png", "png").note);
    EXPECT_FALSE(compress("other.png", "jpg").note);
    EXPECT_FALSE(compress("empty.png", "png", 0).note);
    EXPECT_FALSE(compress("bad.png", "png").note);
    EXPECT_FALSE(coordinator.submit(toFormat({file("plain.png", std::string(100, 's'))}, "png")).at(0).note);
}

TEST_F(CoordinatorTest, AnEngineThatThrowsWhenAskedFailsOnlyItsJob) {
    auto image = FakeEngine::make("image", {}, [](const ConversionJob& job) -> bool {
        if (job.source.filename() == "odd.png") throw std::runtime_error("canHandle broke");
        return true;
    });
    auto coordinator = make({image});
    const auto odd = file("odd.png");
    const auto fine = file("fine.png");
    auto jobs = coordinator.plan(ConversionIntent{{odd, fine}, "jpg", ConversionOptions::defaults(), {}});
    const auto results = coordinator.run(jobs);
    ASSERT_EQ(results.size(), 2u);
    for (const auto& r : results) {
        if (r.source == odd) EXPECT_EQ(r.error, ConversionError::backendFailure("image", -1, "canHandle broke"));
        else EXPECT_TRUE(r.succeeded());
    }
}

}  // namespace
}  // namespace kolvex::testing
