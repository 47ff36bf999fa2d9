// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/MemoryBudget.h"

#include <chrono>
#include <future>
#include <stop_token>
#include <thread>

#include <gtest/gtest.h>

#include "core/services/Cancellation.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;

// Whether `taking` is still waiting a moment after it started.
bool stillWaiting(std::future<void>& taking) { return taking.wait_for(100ms) == std::future_status::timeout; }

TEST(MemoryBudget, ASharePastTheLimitWaitsUntilEnoughIsGivenBack) {
    MemoryBudget budget(100);
    budget.take(60);
    budget.take(40);  // exactly the limit
    auto third = std::async(std::launch::async, [&] { budget.take(30); });
    EXPECT_TRUE(stillWaiting(third));
    budget.give(20);  // 80 held: 30 more still does not fit
    EXPECT_TRUE(stillWaiting(third));
    budget.give(40);
    third.get();
    EXPECT_EQ(budget.held(), 70u);
}

TEST(MemoryBudget, AShareLargerThanTheWholeLimitGoesAloneOnceNothingIsHeld) {
    MemoryBudget budget(100);
    budget.take(10);
    auto large = std::async(std::launch::async, [&] { budget.take(500); });
    EXPECT_TRUE(stillWaiting(large));
    budget.give(10);
    large.get();
    EXPECT_EQ(budget.held(), 500u);
    // Nothing else gets in beside it.
    auto small = std::async(std::launch::async, [&] { budget.take(1); });
    EXPECT_TRUE(stillWaiting(small));
    budget.give(500);
    small.get();
    EXPECT_EQ(budget.held(), 1u);
}

TEST(MemoryBudget, AWaitingShareEndsWithTheCancellationAndTakesNothing) {
    MemoryBudget budget(100);
    budget.take(100);
    std::stop_source stop;
    auto waiting = std::async(std::launch::async, [&] {
        const MemoryBudget::Share share(budget, 50, stop.get_token());
    });
    EXPECT_TRUE(stillWaiting(waiting));
    stop.request_stop();
    EXPECT_THROW(waiting.get(), OperationCancelled);
    EXPECT_EQ(budget.held(), 100u);
}

TEST(MemoryBudget, SharesGoBackWhenTheirHoldersEndAndResizingFreesRoom) {
    MemoryBudget budget(100);
    {
        const MemoryBudget::Share first(budget, 70);
        EXPECT_EQ(budget.held(), 70u);
    }
    EXPECT_EQ(budget.held(), 0u);
    budget.take(90);
    auto next = std::async(std::launch::async, [&] { budget.take(50); });
    EXPECT_TRUE(stillWaiting(next));
    budget.resize(90, 40);  // found smaller than estimated
    next.get();
    EXPECT_EQ(budget.held(), 90u);
}

}  // namespace
}  // namespace kolvex
