// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <QTest>

#include "core/format/ConversionError.h"
#include "support/qt/ManualTaskRunner.h"
#include "support/qt/QtEnvironments.h"
#include "ui/async/AsyncTask.h"

namespace kolvex {
namespace {

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing::GuiEnvironment("test-ui-async"));

TEST(AsyncTask, DeliversOnlyWhatIsStillWanted) {
    testing::ManualTaskRunner runner;
    std::vector<std::string> heard;
    auto owner = std::make_unique<QObject>();
    auto record = [&](std::string what) { return [&heard, what](int v) { heard.push_back(what + std::to_string(v)); }; };
    AsyncTask::start<int>(runner, owner.get(), [](std::stop_token) { return 1; }, record("kept "));
    const auto stopped = AsyncTask::start<int>(runner, owner.get(), [](std::stop_token) { return 2; }, record("stopped "));
    AsyncTask::start<int>(runner, owner.get(), [](std::stop_token) -> int { throw ConversionError::cancelled(); },
                          record("never "), [&](const std::string& reason) { heard.push_back("failed: " + reason); });
    stopped.stop();
    runner.runAll();
    EXPECT_EQ(heard, (std::vector<std::string>{"kept 1", "failed: " + ConversionError::cancelled().shortDescription()}));

    AsyncTask::start<int>(runner, owner.get(), [](std::stop_token) { return 3; }, record("orphan "));
    owner.reset();
    runner.runAll();
    EXPECT_EQ(heard.size(), 2u) << "nothing reaches an owner that is gone";
    EXPECT_TRUE(AsyncTask{}.isStopped());
}

TEST(AsyncTask, StoppingTheRunnerStopsTheWorkAndDeliversNothing) {
    QtTaskRunner runner;
    std::atomic<bool> sawStop{false};
    std::atomic<bool> started{false};
    bool delivered = false;
    AsyncTask::run(
        runner, nullptr,
        [&](std::stop_token stop) {
            started = true;
            while (!stop.stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            sawStop = true;
        },
        [&] { delivered = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.load(); }, 5000));
    runner.stop();  // as at quit: returns once the work has ended
    EXPECT_TRUE(sawStop);
    QTest::qWait(20);
    EXPECT_FALSE(delivered);

    AsyncTask::run(runner, nullptr, [&](std::stop_token) { delivered = true; });
    QTest::qWait(20);
    EXPECT_FALSE(delivered) << "a stopped runner takes no more work";

    QtTaskRunner live;
    int value = 0;
    AsyncTask::start<int>(live, nullptr, [](std::stop_token) { return 7; }, [&](int v) { value = v; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return value == 7; }, 5000));
}

}  // namespace
}  // namespace kolvex
