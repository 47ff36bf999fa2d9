// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal's bookkeeping of its conversions, on its own: records and the foreground run,
// cancelling, batches, and the progress display.

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "PortalFakes.h"
#include "ui/portal/model/PortalRuns.h"

namespace kolvex::testing {
namespace {

class PortalRunsTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeScheduler> scheduler = std::make_shared<FakeScheduler>();
    PortalRuns runs{scheduler};
};

TEST_F(PortalRunsTest, RecordsTheForegroundRunAndWhatWentToTheTray) {
    EXPECT_TRUE(runs.empty());
    EXPECT_FALSE(runs.aggregateProgress());
    EXPECT_FALSE(runs.oldestLabel());

    const Uuid a = runs.begin("a.png → PNG", std::nullopt, true).id;
    const PortalTask aTask = runs.find(a)->task;
    scheduler->advance(0.1);
    const Uuid b = runs.begin("b.png → JPEG", std::nullopt, true).id;  // takes the Portal
    const Uuid c = runs.begin("c.png → Crop", std::nullopt, false).id;  // straight to the tray
    EXPECT_EQ(runs.foreground(), b);
    EXPECT_TRUE(runs.find(a)->wentToTray);
    EXPECT_FALSE(runs.find(b)->wentToTray);
    EXPECT_TRUE(runs.find(c)->wentToTray);

    runs.reportProgress(a, 0.6);
    runs.reportProgress(a, 0.2);  // never goes back
    runs.reportProgress(a, std::numeric_limits<double>::quiet_NaN());
    runs.reportProgress(c, 0.3);
    const auto rows = runs.activeConversions();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (PortalRuns::ActiveConversion{a, "a.png → PNG", 0.6, false}));
    EXPECT_EQ(rows[1], (PortalRuns::ActiveConversion{b, "b.png → JPEG", 0, true}));
    EXPECT_EQ(rows[2].id, c);
    EXPECT_NEAR(*runs.aggregateProgress(), 0.3, 1e-12);
    EXPECT_EQ(runs.oldestLabel(), "a.png → PNG");

    EXPECT_TRUE(runs.sendForegroundToBackground());
    EXPECT_FALSE(runs.foreground());
    EXPECT_TRUE(runs.find(b)->wentToTray);
    EXPECT_FALSE(runs.sendForegroundToBackground());

    const auto ended = runs.end(a);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->label, "a.png → PNG");
    EXPECT_FALSE(aTask.isCancelled());
    EXPECT_FALSE(runs.end(a)) << "a run ends once";
    EXPECT_EQ(runs.count(), 2);
}

TEST_F(PortalRunsTest, CancellingStopsWhatItNamesWithTheRestOfItsBatch) {
    const auto batch = runs.openBatch(formatTarget("png", "PNG"));
    const Uuid first = runs.begin("a.png → PNG", batch, false).id;
    const Uuid second = runs.begin("b.png → PNG", batch, true).id;
    runs.enqueue(batch, {{"/c.png", {}}});
    const Uuid other = runs.begin("d.png → JPEG", std::nullopt, false).id;
    const PortalTask firstTask = runs.find(first)->task;

    EXPECT_FALSE(runs.cancelConversion(Uuid::random()));
    EXPECT_EQ(runs.cancelConversion(first), "a.png → PNG");
    EXPECT_TRUE(firstTask.isCancelled());
    EXPECT_FALSE(runs.find(second)) << "the rest of the batch goes too";
    EXPECT_FALSE(runs.foreground());
    EXPECT_FALSE(runs.hasBatch(batch));
    EXPECT_FALSE(runs.takeQueued(batch)) << "and its queue";
    EXPECT_FALSE(runs.end(first)) << "a cancelled run's end is nothing";
    EXPECT_TRUE(runs.find(other));

    const Uuid shown = runs.begin("e.png → PNG", std::nullopt, true).id;
    EXPECT_TRUE(runs.cancelForeground());
    EXPECT_FALSE(runs.find(shown));
    EXPECT_FALSE(runs.cancelForeground());

    runs.begin("f.png → PNG", runs.openBatch(formatTarget("png", "PNG")), true);
    EXPECT_EQ(runs.cancelAllConversions(), 2);
    EXPECT_TRUE(runs.empty());
    EXPECT_FALSE(runs.foreground());
}

TEST_F(PortalRunsTest, ABatchCompletesOnceClosedWithNothingQueuedOrRunning) {
    const auto target = toolTarget("rotate", "Rotate");
    const auto batch = runs.openBatch(target);
    EXPECT_EQ(runs.batchTarget(batch), target);
    const Uuid a = runs.begin("a", batch, false).id;
    runs.enqueue(batch, {{"/b.png", {}}, {"/c.png", {}}});
    EXPECT_FALSE(runs.closeBatch(batch)) << "still running and queued";

    runs.end(a);
    EXPECT_FALSE(runs.memberEnded(batch, {success("/a.png", {"/a.out"})}, true));
    const auto next = runs.takeQueued(batch);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->url, "/b.png");
    const Uuid b = runs.begin("b", batch, true).id;
    EXPECT_EQ(runs.runningMember(batch, Uuid()), b);
    EXPECT_FALSE(runs.runningMember(batch, b));
    runs.end(b);
    EXPECT_FALSE(runs.memberEnded(batch, {failure("/b.png", ConversionError::cancelled())}, false)) << "c is queued";
    ASSERT_TRUE(runs.takeQueued(batch));
    const Uuid c = runs.begin("c", batch, true).id;
    runs.end(c);
    const auto finished = runs.memberEnded(batch, {success("/c.png", {"/c.out"})}, false);
    ASSERT_TRUE(finished);
    EXPECT_EQ(finished->results.size(), 3u);
    EXPECT_EQ(finished->results[1].source, "/b.png");
    EXPECT_TRUE(finished->wentToTray) << "one of its files went on in the tray";
    EXPECT_FALSE(runs.hasBatch(batch));

    // Open while a sheet still hands over files: never complete before it is closed.
    const auto walk = runs.openBatch(target);
    const Uuid d = runs.begin("d", walk, false).id;
    runs.end(d);
    EXPECT_FALSE(runs.memberEnded(walk, {success("/d.png", {"/d.out"})}, true));
    const auto closed = runs.closeBatch(walk);
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->results.size(), 1u);
}

TEST_F(PortalRunsTest, ProgressDisplayCreepsUntilRealProgressAndFillsToTheEnd) {
    EXPECT_DOUBLE_EQ(PortalRuns::creep(-1), 0);
    EXPECT_NEAR(PortalRuns::creep(0.25), 0.015, 1e-9);
    EXPECT_NEAR(PortalRuns::creep(0.5), 0.03, 1e-9);
    EXPECT_NEAR(PortalRuns::creep(10), 0.0717, 1e-3);
    EXPECT_NEAR(PortalRuns::creep(120), 0.234, 1e-3);
    EXPECT_LE(PortalRuns::creep(1e6), 0.25);

    const Uuid id = runs.begin("a", std::nullopt, true).id;
    double shown = 0;
    int shows = 0;
    runs.startProgressDisplay([&]() -> std::optional<double> { return shown; },
                              [&](double f) {
                                  shown = f;
                                  ++shows;
                              });
    scheduler->advance(0.5);
    EXPECT_NEAR(shown, 0.03, 0.002);
    runs.reportProgress(id, 0.4);
    scheduler->advance(0.02);
    EXPECT_DOUBLE_EQ(shown, 0.4);
    runs.reportProgress(id, 1.0);
    scheduler->advance(5);
    EXPECT_DOUBLE_EQ(shown, 0.99) << "never 100 % while the work runs";
    const int before = shows;
    scheduler->advance(1);
    EXPECT_EQ(shows, before) << "changes of 0.001 or less are not shown";

    // The fill: what is left of the least display time in 16 ms steps, then an 80 ms hold.
    bool done = false;
    const PortalTask task = runs.find(id)->task;
    runs.finishProgressDisplay(task, shown, 0.5, [] { return true; }, [&](double f) { shown = f; },
                               [&] { done = true; });
    scheduler->advance(0.016 * 31 - 0.001);
    EXPECT_DOUBLE_EQ(shown, 1.0);
    EXPECT_FALSE(done);
    scheduler->advance(0.08);
    EXPECT_FALSE(done);
    scheduler->advance(0.002);
    EXPECT_TRUE(done);

    // A cancelled run ends its fill at once.
    done = false;
    task.cancel();
    runs.finishProgressDisplay(task, 0.2, 2, [] { return true; }, [&](double f) { shown = f; }, [&] { done = true; });
    EXPECT_TRUE(done);
}

}  // namespace
}  // namespace kolvex::testing
