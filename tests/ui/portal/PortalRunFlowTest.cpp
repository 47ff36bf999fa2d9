// SPDX-License-Identifier: GPL-3.0-or-later
// The model's runs: requests, results, progress display, collapse, cancelling and batches.

#include "PortalModelTestSupport.h"

namespace kolvex::testing {
namespace {

using Kind = PortalPhase::Kind;

class PortalRunTest : public PortalRunFixture {};

TEST_F(PortalRunTest, FormatDropSendsPreferencesOptionsAndIgnoresSheetOptions) {
    Preferences prefs;
    prefs.imageQuality = 0.4;
    prefs.outputLocation = Preferences::OutputLocation::custom;
    prefs.customOutputPath = "/tmp/out";
    model->preferencesProvider = [prefs] { return prefs; };
    provider->oneCategory.reset();  // no category: image options
    drop({"/tmp/a.heic", "/tmp/b.heic"}, 1);
    finishRuns();
    ASSERT_EQ(service->requests.size(), 1u);
    const auto& intent = std::get<ConversionIntent>(service->requests[0]);
    EXPECT_EQ(intent.target, FormatID("jpg"));
    EXPECT_EQ(intent.urls.size(), 2u);
    EXPECT_EQ(intent.options, prefs.conversionOptions(FormatCategory::image));
    EXPECT_FALSE(intent.options.tool);
    EXPECT_EQ(intent.outputDirectory, std::filesystem::path("/tmp/out"));
}

TEST_F(PortalRunTest, ToolOptionsDependOnTheTool) {
    drop({"/tmp/a.png"}, 2, PortalMode::tools);  // extract
    drop({"/tmp/a.png"}, 1, PortalMode::tools);  // strip-metadata
    finishRuns();
    ASSERT_EQ(service->requests.size(), 2u);
    const auto& extract = std::get<ToolIntent>(service->requests[0]);
    EXPECT_EQ(extract.tool, "extract");
    ConversionOptions expected;
    expected.tool = "extract";
    EXPECT_EQ(extract.options, expected);
    const auto& strip = std::get<ToolIntent>(service->requests[1]);
    EXPECT_EQ(strip.tool, "strip-metadata");
    EXPECT_EQ(strip.options, ConversionOptions::defaults());
}

TEST_F(PortalRunTest, TargetWithoutFormatOrToolIsNotReady) {
    RingTarget odd;
    odd.id = "format.none";
    odd.label = "Odd";
    provider->rings[PortalMode::convert] = {odd};
    drop({"/tmp/a.png"}, 0);
    finishRuns();
    EXPECT_TRUE(service->requests.empty());
    EXPECT_EQ(model->phase(), PortalPhase::failed("Odd isn't ready yet"));
}

struct ResultCase {
    std::string name;
    std::vector<ConversionResult> results;
    PortalPhase expected;
    size_t completedOutputs;
};

TEST_F(PortalRunTest, ResultsBecomeThePhase) {
    const auto corrupt = ConversionError::corruptedInput("/tmp/c.png");
    const std::vector<ResultCase> cases{
        {"one output", {success("/tmp/a.png", {"/tmp/a.jpg"}, "kept")}, PortalPhase::succeeded("a.jpg", "kept"), 1},
        {"three files",
         {success("/a", {"/a.jpg"}), success("/b", {"/b.jpg"}, "n"), success("/c", {"/c.jpg"})},
         PortalPhase::succeeded("3 files"), 3},
        {"three noted",
         {success("/a", {"/a.jpg"}, "first"), success("/b", {"/b.jpg"}, "n"), success("/c", {"/c.jpg"}, "x")},
         PortalPhase::succeeded("3 files", "first"), 3},
        {"split", {success("/a.pdf", {"/a-1.pdf", "/a-2.pdf"})}, PortalPhase::succeeded("2 files"), 2},
        {"two of three",
         {success("/a.png", {"/a.jpg"}), failure("/tmp/c.png", corrupt), success("/b.png", {"/b.jpg"})},
         PortalPhase::failed("2 of 3 converted", "c.png appears to be damaged"), 2},
        {"all failed, no error", {failure("/a", std::nullopt)}, PortalPhase::failed("Couldn't convert"), 0},
        {"nothing at all", {}, PortalPhase::failed("Couldn't convert"), 0},
        // The details give the reason in full, never only the file's path.
        {"one failure with its reason", {failure("/tmp/c.png", corrupt)},
         PortalPhase::failed("c.png appears to be damaged", "c.png appears to be damaged"), 0},
        {"one failure with what the program said",
         {failure("/b.mov", ConversionError::backendFailure("ffmpeg", 1, "moov atom not found"))},
         PortalPhase::failed("Conversion failed", "Conversion failed\n\nffmpeg exited 1\n\nmoov atom not found"), 0},
        {"a reason that names no file",
         {failure("/p/b.png", ConversionError::insufficientPermissions("/p/b.jpg")), failure("/p/c.png", corrupt)},
         PortalPhase::failed("No permission to write to p",
                             "b.png: No permission to write to p\nc.png appears to be damaged"), 0},
        {"every failure named once",
         {failure("/tmp/c.png", corrupt), failure("/b", ConversionError::cancelled())},
         PortalPhase::failed(corrupt.shortDescription(), "c.png appears to be damaged\nb: Cancelled"), 0},
        {"what the program said",
         {success("/a.png", {"/a.mp4"}), failure("/b.mov", ConversionError::backendFailure("ffmpeg", 1, "moov atom not found"))},
         PortalPhase::failed("1 of 2 converted", "b.mov: Conversion failed\n    ffmpeg exited 1\n\nmoov atom not found"), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        completed.clear();
        service->scriptedResults.push_back(c.results);
        drop({"/tmp/a.png"}, 0);
        finishRuns();
        EXPECT_EQ(model->phase(), c.expected);
        size_t outputs = 0;
        for (const auto& report : completed) outputs += report.outputs.size();
        EXPECT_EQ(outputs, c.completedOutputs);
        scheduler->advance(2);
        model->resetToBrowsing();
    }
}

TEST_F(PortalRunTest, PartialSuccessReportsOnlyTheSuccesses) {
    service->scriptedResults.push_back({success("/a.png", {"/a.jpg"}), failure("/c.png", ConversionError::cancelled()),
                                        success("/b.png", {"/b.jpg"})});
    drop({"/a.png", "/b.png", "/c.png"}, 0);
    finishRuns();
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].outputs, (std::vector<std::filesystem::path>{"/a.jpg", "/b.jpg"}));
    EXPECT_EQ(completed[0].sources, (std::vector<std::filesystem::path>{"/a.png", "/b.png"}));
    EXPECT_TRUE(completed[0].failures.empty()) << "a cancelled file is no failure to report";
    EXPECT_FALSE(completed[0].wentToTray);
}

// Files finish in any order; the report names them in the order they were dropped, so that a
// notification's first names are the first files dropped.
TEST_F(PortalRunTest, TheReportNamesTheFilesInTheOrderDropped) {
    service->scriptedResults.push_back({success("/d.png", {"/d.jpg"}), success("/c.png", {"/c.jpg"}),
                                        failure("/b.png", ConversionError::cancelled()), success("/a.png", {"/a.jpg"})});
    drop({"/a.png", "/b.png", "/c.png", "/d.png"}, 0);
    finishRuns();
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].outputs, (std::vector<std::filesystem::path>{"/a.jpg", "/c.jpg", "/d.jpg"}));
    EXPECT_EQ(completed[0].sources, (std::vector<std::filesystem::path>{"/a.png", "/c.png", "/d.png"}));
}

TEST_F(PortalRunTest, TheOutcomeLingersThenClosesAndAFailureLingersLonger) {
    for (const bool failed : {false, true}) {
        SCOPED_TRACE(failed ? "failure" : "success");
        if (failed) service->scriptedResults.push_back({failure("/a", std::nullopt)});
        finished = 0;
        drop({"/tmp/a.png"}, 0);
        scheduler->runBackground();
        // 37 fill steps of 16 ms, one more tick, the 80 ms hold: the outcome shows at 0.672 s.
        scheduler->advance(0.671);
        EXPECT_TRUE(model->phase().is(Kind::converting));
        scheduler->advance(0.002);
        EXPECT_TRUE(model->phase().is(failed ? Kind::failed : Kind::succeeded));
        const double linger = failed ? 1.8 : 0.72;
        scheduler->advance(linger - 0.002);
        EXPECT_EQ(finished, 0);
        scheduler->advance(0.004);
        EXPECT_EQ(finished, 1);
        EXPECT_EQ(reports.back(), (std::pair<std::optional<double>, std::optional<std::string>>{}));
    }
}

TEST_F(PortalRunTest, RealProgressOvertakesAndNeverGoesBack) {
    drop({"/tmp/a.png"}, 0);
    scheduler->advance(10);
    ASSERT_NEAR(model->phase().fraction, 0.072, 0.002);
    service->during = [&](size_t, const BatchProgressCallback& progress) {
        progress({0, 1, 0.4});
        scheduler->advance(0.02);
        EXPECT_DOUBLE_EQ(model->phase().fraction, 0.4);
        progress({0, 1, 0.3});
        scheduler->advance(5);
        EXPECT_DOUBLE_EQ(model->phase().fraction, 0.4);  // no creeping once the engine spoke
        EXPECT_DOUBLE_EQ(model->activeConversions()[0].progress, 0.4);
        progress({1, 1, 1.0});
        scheduler->advance(1);
        EXPECT_DOUBLE_EQ(model->phase().fraction, 0.99);  // never 100 % before the end
    };
    scheduler->runBackground();
    scheduler->advance(0.2);
    EXPECT_TRUE(model->phase().is(Kind::succeeded));
}

TEST_F(PortalRunTest, LongRunFillsInSevenSteps) {
    drop({"/tmp/a.png"}, 0);
    scheduler->advance(2);
    scheduler->runBackground();
    int steps = 0;
    QObject::connect(model.get(), &PortalModel::changed, [&](PortalModel::Field f) {
        steps += f == PortalModel::Field::phase && model->phase().is(Kind::converting);
    });
    scheduler->advance(0.016 * 7 + 0.08 + 0.001);
    EXPECT_EQ(steps, 6);  // the first step was taken when the run ended
    EXPECT_TRUE(model->phase().is(Kind::succeeded));
}

TEST_F(PortalRunTest, LongRunCollapsesIntoTheTray) {
    LogCapture log;
    drop({"/tmp/a.png"}, 0);
    scheduler->advance(6.9);
    EXPECT_EQ(collapses, 0);
    scheduler->advance(0.2);
    EXPECT_EQ(collapses, 1);
    EXPECT_TRUE(model->isCollapsed());
    EXPECT_EQ(model->collapseProgress(), 1.0);
    EXPECT_TRUE(log.contains("conversion", "Conversion exceeded 7.000000s; moving to the tray"));
    bool labelled = false;
    for (const auto& [p, l] : reports) labelled |= l == std::optional<std::string>("a.png \u2192 PNG");
    EXPECT_TRUE(labelled);
    // Ending while collapsed: the outcome without linger, and the Portal closes at once.
    scheduler->runBackground();
    scheduler->advance(0.2);
    EXPECT_TRUE(model->phase().is(Kind::succeeded));
    EXPECT_FALSE(model->isCollapsed());
    EXPECT_EQ(finished, 1);
}

TEST_F(PortalRunTest, NewGestureDisarmsTheCollapseAndKeepsTheRunGoing) {
    LogCapture log;
    drop({"/tmp/a.png"}, 0);
    scheduler->advance(5);
    browse({"/tmp/b.png"}, std::nullopt);
    EXPECT_TRUE(log.contains("conversion", "A conversion is still running; it continues in the background"));
    EXPECT_TRUE(model->phase().is(Kind::browsing));
    EXPECT_EQ(model->activeCount(), 1);
    EXPECT_FALSE(model->activeConversions()[0].isForeground);
    scheduler->advance(5);
    EXPECT_EQ(collapses, 0);
    // The background run's end only tells the tray.
    reports.clear();
    scheduler->runBackground();
    scheduler->advance(3);
    EXPECT_TRUE(model->phase().is(Kind::browsing));
    EXPECT_EQ(finished, 0);
    EXPECT_EQ(completed.size(), 1u);
    ASSERT_FALSE(reports.empty());
    EXPECT_FALSE(reports.back().first);
}

TEST_F(PortalRunTest, GestureAfterTheRunEndedLogsNothing) {
    drop({"/tmp/a.png"}, 0);
    scheduler->runBackground();
    // The run has left `running` and is filling; a new gesture now finds no record.
    LogCapture log;
    reports.clear();
    browse({"/tmp/b.png"}, std::nullopt);
    EXPECT_FALSE(log.contains("conversion", "still running"));
    EXPECT_TRUE(reports.empty());
    scheduler->advance(3);
    // The old outcome never covers the new gesture, and nothing closes it.
    EXPECT_TRUE(model->phase().is(Kind::browsing));
    EXPECT_EQ(finished, 0);
}

TEST_F(PortalRunTest, ACollapsedFailureStillReachesTheTray) {
    service->scriptedResults.push_back({failure("/v/long.mov", ConversionError::backendFailure("ffmpeg", 1, "x"))});
    drop({"/v/long.mov"}, 0);
    scheduler->advance(7.1);
    ASSERT_TRUE(model->isCollapsed());
    scheduler->runBackground();
    scheduler->advance(0.2);
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_TRUE(completed[0].outputs.empty());
    EXPECT_EQ(completed[0].failures, (std::vector<RunReport::Failure>{{"/v/long.mov", "Conversion failed"}}));
    EXPECT_TRUE(completed[0].wentToTray);
    // And a run the Portal no longer shows (a new gesture took it) too.
    service->scriptedResults.push_back({failure("/v/b.mov", ConversionError::corruptedInput("/v/b.mov"))});
    drop({"/v/b.mov"}, 0);
    browse({"/v/c.mov"}, std::nullopt);
    scheduler->runBackground();
    ASSERT_EQ(completed.size(), 2u);
    EXPECT_EQ(completed[1].failures.size(), 1u);
    EXPECT_TRUE(completed[1].wentToTray);
}

TEST_F(PortalRunTest, TrayShowsMeanOfBackgroundRunsAndOldestLabel) {
    drop({"/tmp/a.png"}, 0);
    scheduler->advance(0.1);
    drop({"/tmp/b.png"}, 1);
    browse({"/tmp/c.png"}, std::nullopt);
    auto rows = model->activeConversions();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].label, "a.png → PNG");
    EXPECT_EQ(rows[1].label, "b.png → JPEG");
    EXPECT_FALSE(rows[0].isForeground || rows[1].isForeground);
    // Both runs report from the coordinator while both are under way.
    bool checked = false;
    service->during = [&](size_t index, const BatchProgressCallback& progress) {
        if (index == 0) {
            progress({0, 1, 0.2});
            scheduler->runBackground();  // the second run, while the first still runs
        } else {
            progress({0, 1, 0.6});
            scheduler->runPosted();
            ASSERT_FALSE(reports.empty());
            EXPECT_NEAR(*reports.back().first, 0.4, 1e-12);
            EXPECT_EQ(reports.back().second, "a.png → PNG");
            checked = true;
        }
    };
    scheduler->runBackground();
    EXPECT_TRUE(checked);
    EXPECT_EQ(model->activeCount(), 0);
}

TEST_F(PortalRunTest, CancelAllStopsEverythingOnce) {
    LogCapture log;
    model->cancelAllConversions();
    model->cancelShownConversion();
    EXPECT_EQ(finished, 0);
    EXPECT_TRUE(log.entries().empty());
    drop({"/a.png"}, 0);
    drop({"/b.png"}, 0);
    drop({"/c.png"}, 0);
    model->cancelAllConversions();
    EXPECT_TRUE(log.contains("conversion", "Cancelling 3 conversion(s)"));
    EXPECT_EQ(model->activeCount(), 0);
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(model->phase().is(Kind::browsing));
    scheduler->runBackground();
    scheduler->advance(3);
    EXPECT_EQ(service->sawStop, (std::vector<bool>{true, true, true}));
    EXPECT_TRUE(model->phase().is(Kind::browsing));
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(completed.empty()) << "cancelled work is not reported";
}

TEST_F(PortalRunTest, CancelStopsTheQueueOfItsBatch) {
    for (const bool all : {true, false}) {
        SCOPED_TRACE(all ? "Cancel All" : "Cancel");
        service->requests.clear();
        finished = 0;
        drop({"/a.png", "/b.png", "/c.png"}, 4, PortalMode::tools);  // rotate
        model->finishParameterRun({{"/a.png", {}}, {"/b.png", {}}, {"/c.png", {}}});
        ASSERT_EQ(model->activeCount(), 1);
        if (all) {
            model->cancelAllConversions();
        } else {
            model->cancelShownConversion();
        }
        scheduler->runBackground();
        scheduler->advance(3);
        EXPECT_EQ(service->requests.size(), 1u) << "the end of the cancelled run starts no queued file";
        EXPECT_EQ(model->activeCount(), 0);
        EXPECT_TRUE(model->phase().is(Kind::browsing));
        EXPECT_EQ(finished, 1);
        EXPECT_TRUE(completed.empty());
    }
}

TEST_F(PortalRunTest, CancellingOneRun) {
    drop({"/a.png"}, 0);
    const Uuid background = model->activeConversions()[0].id;
    drop({"/b.png"}, 0);
    const Uuid shown = model->activeConversions()[1].id;
    ASSERT_TRUE(model->activeConversions()[1].isForeground);

    reports.clear();
    model->cancelConversion(background);
    EXPECT_EQ(model->activeCount(), 1);
    EXPECT_TRUE(model->phase().is(Kind::converting));
    EXPECT_EQ(finished, 0);
    EXPECT_EQ(reports.size(), 1u);

    model->cancelConversion(Uuid::random());
    EXPECT_EQ(model->activeCount(), 1);

    model->cancelConversion(shown);
    EXPECT_TRUE(model->phase().is(Kind::browsing));
    EXPECT_EQ(finished, 1);
}

TEST_F(PortalRunTest, SimulatedRunWithoutCoordinator) {
    model = makeModel(false);
    drop({"/tmp/a.png"}, 1);
    finishRuns();
    EXPECT_EQ(model->phase(), PortalPhase::succeeded("a.jpg"));
    EXPECT_TRUE(completed.empty());
}

// --- Tool parameters ---

TEST_F(PortalRunTest, ParametersOutsideTheirPhaseDoNothing) {
    browse({"/a.png"}, 0, PortalMode::tools);
    model->applyParameters(ConversionOptions{});
    model->applyParameters(ConversionOptions{}, std::filesystem::path("/a.png"));
    model->finishParameterRun({});
    model->discardParameters();
    EXPECT_EQ(model->activeCount(), 0);
    EXPECT_EQ(finished, 0);
}

TEST_F(PortalRunTest, OneSetOfOptionsForTheWholeBatch) {
    drop({"/a.png", "/b.png"}, 0, PortalMode::tools);  // resize
    ConversionOptions options;
    options.maxDimension = 100;
    options.tool = "resize";
    model->applyParameters(options);
    finishRuns();
    ASSERT_EQ(service->requests.size(), 1u);
    const auto& intent = std::get<ToolIntent>(service->requests[0]);
    EXPECT_EQ(intent.options, options);
    EXPECT_EQ(intent.urls.size(), 2u);
}

TEST_F(PortalRunTest, OrderingIsUsedOnlyWhenItHoldsExactlyTheFiles) {
    const std::vector<std::filesystem::path> files{"/a.pdf", "/b.pdf", "/c.pdf"};
    const std::vector<std::vector<std::filesystem::path>> orderings{
        {"/c.pdf", "/a.pdf", "/b.pdf"}, {"/c.pdf", "/a.pdf"}, {"/a.pdf", "/b.pdf", "/c.pdf", "/d.pdf"},
        {"/a.pdf", "/a.pdf", "/b.pdf"}};
    for (size_t i = 0; i < orderings.size(); ++i) {
        drop(files, 0, PortalMode::tools);
        model->applyParameters(ConversionOptions{}, orderings[i]);
        scheduler->runBackground();
        const auto& urls = std::get<ToolIntent>(service->requests.back()).urls;
        EXPECT_EQ(urls, i == 0 ? orderings[0] : files) << i;
        scheduler->advance(3);
        model->resetToBrowsing();
    }
}

TEST_F(PortalRunTest, StartAsYouGoRunsEachFileInTheBackground) {
    const std::vector<std::filesystem::path> files{"/a.png", "/b.png", "/c.png"};
    drop(files, 3, PortalMode::tools);  // crop
    const auto pending = model->phase();
    for (const auto& f : files) {
        model->applyParameters(ConversionOptions{}, f);
        EXPECT_EQ(model->phase(), pending);
    }
    model->applyParameters(ConversionOptions{}, std::filesystem::path("/elsewhere.png"));
    auto rows = model->activeConversions();
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& r : rows) EXPECT_FALSE(r.isForeground);
    // The sheet is cancelled half way: the started files keep running, the Portal closes.
    model->discardParameters();
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(model->activeCount(), 3);
    scheduler->runBackground();
    EXPECT_EQ(service->requests.size(), 3u);
    EXPECT_EQ(model->activeCount(), 0);
    ASSERT_EQ(completed.size(), 1u) << "one report for the batch";
    EXPECT_EQ(completed[0].outputs.size(), 3u);
    EXPECT_TRUE(completed[0].wentToTray);
}

TEST_F(PortalRunTest, StartAsYouGoBatchEndsWithItsResultShown) {
    service->scriptedResults = {{success("/a.png", {"/a.out"})}, {failure("/b.png", ConversionError::corruptedInput("/b.png"))}};
    drop({"/a.png", "/b.png"}, 3, PortalMode::tools);  // crop
    model->applyParameters(ConversionOptions{}, std::filesystem::path("/a.png"));
    model->applyParameters(ConversionOptions{}, std::filesystem::path("/b.png"));
    model->finishParameterRun({});  // every file already started
    EXPECT_TRUE(model->phase().is(Kind::converting));
    EXPECT_EQ(finished, 0);
    scheduler->runBackground();
    scheduler->advance(0.7);
    EXPECT_EQ(model->phase(), PortalPhase::failed("1 of 2 converted", "b.png appears to be damaged"));
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].failures.size(), 1u);
    scheduler->advance(2);
    EXPECT_EQ(finished, 1);
}

TEST_F(PortalRunTest, QueuedFilesRunOneAfterAnotherAndAreShownTogether) {
    service->scriptedResults = {{success("/a.png", {"/a.out"})},
                                {failure("/b.png", ConversionError::backendFailure("image", -1, "bad header"))},
                                {success("/c.png", {"/c.out"})}};
    drop({"/a.png", "/b.png", "/c.png"}, 4, PortalMode::tools);  // rotate
    std::vector<PortalModel::PendingFile> pending;
    for (const char* f : {"/a.png", "/b.png", "/c.png"}) {
        ConversionOptions o;
        o.rotation = pending.size() * 90.0;
        pending.push_back({f, o});
    }
    model->finishParameterRun(pending);
    EXPECT_EQ(model->activeCount(), 1);
    scheduler->runBackground();
    ASSERT_EQ(service->requests.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const auto& intent = std::get<ToolIntent>(service->requests[i]);
        EXPECT_EQ(intent.urls, std::vector<std::filesystem::path>{pending[i].url});
        EXPECT_EQ(intent.options.rotation, pending[i].options.rotation);
    }
    ASSERT_EQ(completed.size(), 1u) << "one report for the batch";
    EXPECT_EQ(completed[0].outputs.size(), 2u);
    EXPECT_EQ(completed[0].failures, (std::vector<RunReport::Failure>{{"/b.png", "Conversion failed"}}));
    scheduler->advance(0.7);
    EXPECT_EQ(model->phase(),
              PortalPhase::failed("2 of 3 converted", "b.png: Conversion failed\n    image: bad header"));
    scheduler->advance(2);
    EXPECT_EQ(finished, 1);
}

TEST_F(PortalRunTest, EmptyPendingListClosesThePortal) {
    drop({"/a.png"}, 0, PortalMode::tools);
    model->finishParameterRun({});
    EXPECT_TRUE(model->phase().is(Kind::browsing));
    EXPECT_EQ(finished, 1);
}

}  // namespace
}  // namespace kolvex::testing
