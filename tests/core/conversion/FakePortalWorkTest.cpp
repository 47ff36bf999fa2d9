// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <vector>

#include <gtest/gtest.h>

#include "core/conversion/FakePortalWork.h"
#include "support/RingTargets.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
using Paths = std::vector<std::filesystem::path>;

using testing::formatTarget;
const RingTarget kToolTarget = testing::toolTarget("trim", "Trim");

// A clock that never waits: it records each requested sleep and, at a chosen step, asks the
// run to stop while it "sleeps".
struct FakeClock {
    std::vector<std::chrono::milliseconds> sleeps;
    std::stop_source* stopDuringStep = nullptr;
    int stopAtStep = 0;

    FakePortalWork work(int draw) {
        return FakePortalWork(
            [this](std::chrono::milliseconds length, std::stop_token) {
                sleeps.push_back(length);
                if (stopDuringStep && static_cast<int>(sleeps.size()) == stopAtStep) stopDuringStep->request_stop();
            },
            [draw] { return draw; });
    }
};

TEST(FakePortalWork, NamesTheOutputAsARealConversionWould) {
    EXPECT_EQ(FakePortalWork::outputName(Paths{"/m/clip.mov"}, formatTarget("gif")), "clip.gif");
    EXPECT_EQ(FakePortalWork::outputName(Paths{"/m/backup.tar.gz", "/m/x.zip"}, formatTarget("zip")), "backup.zip");
    EXPECT_EQ(FakePortalWork::outputName(Paths{"/m/clip.mov"}, kToolTarget), "clip.mov");
    EXPECT_EQ(FakePortalWork::outputName(Paths{}, formatTarget("gif")), "output");
    EXPECT_EQ(FakePortalWork::outputName(Paths{"/m/-my clip.mov"}, formatTarget("mp4")), "-my clip.mp4");
}

TEST(FakePortalWork, ReportsTwentyFourRisingStepsThenTheName) {
    FakeClock clock;
    std::vector<double> reported;
    auto outcome = clock.work(90).run(Paths{"/m/clip.mov"}, formatTarget("gif"),
                                      [&](double f) { reported.push_back(f); }, std::stop_token{});
    EXPECT_EQ(outcome, (FakePortalWork::Outcome{"clip.gif", false}));
    ASSERT_EQ(reported.size(), 24u);
    for (size_t i = 1; i < reported.size(); ++i) EXPECT_LT(reported[i - 1], reported[i]);
    EXPECT_DOUBLE_EQ(reported.front(), 1.0 / 24);
    EXPECT_DOUBLE_EQ(reported.back(), 1.0);
    EXPECT_EQ(clock.sleeps, std::vector<std::chrono::milliseconds>(24, 10ms));
}

TEST(FakePortalWork, StopsWhenCancelled) {
    struct Row {
        const char* name;
        bool stopBefore;
        int stopAtStep;
        size_t reports;
        FakePortalWork::Outcome outcome;
    };
    const Row rows[] = {
        {"before the run", true, 0, 0, {"", true}},
        {"during the fifth step", false, 5, 5, {"", true}},
        {"during the first step", false, 1, 1, {"", true}},
        {"during the last step", false, 24, 24, {"clip.gif", false}},
    };
    for (const Row& row : rows) {
        FakeClock clock;
        std::stop_source stop;
        if (row.stopBefore) stop.request_stop();
        clock.stopDuringStep = &stop;
        clock.stopAtStep = row.stopAtStep;
        size_t reports = 0;
        auto outcome = clock.work(0).run(Paths{"/m/clip.mov"}, formatTarget("gif"), [&](double) { ++reports; },
                                         stop.get_token());
        EXPECT_EQ(outcome, row.outcome) << row.name;
        EXPECT_EQ(reports, row.reports) << row.name;
    }
}

TEST(FakePortalWork, RealClockRunEndsWhenStopped) {
    std::stop_source stop;
    std::vector<double> reported;
    const auto start = std::chrono::steady_clock::now();
    auto outcome = FakePortalWork().run(Paths{"/m/a.png"}, formatTarget("jpg"),
                                        [&](double f) {
                                            reported.push_back(f);
                                            stop.request_stop();
                                        },
                                        stop.get_token());
    EXPECT_EQ(outcome, (FakePortalWork::Outcome{"", true}));
    EXPECT_EQ(reported.size(), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
}

}  // namespace
}  // namespace kolvex
