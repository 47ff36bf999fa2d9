// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Steps of a hand on the Portal host's Portal (PortalHost.cpp), checked by what the host prints.
#include <chrono>
#include <cstddef>

#include <gtest/gtest.h>

#include "DesktopHarness.h"

namespace kolvex::testing {

// Holds the trigger during the drag under way and waits until the Portal shows and its window
// is drawn (a busy machine maps it late). `shown` (when given) gets where the host's lines stood
// before the trigger went down.
inline ::testing::AssertionResult revealUnderTheDrag(FakeInput& input, ChildProgram& host,
                                                     std::size_t* shown = nullptr) {
    using namespace std::chrono_literals;
    const auto before = host.printedCount();
    if (shown) *shown = before;
    input.key("Shift_L", true);
    if (!host.waitForLine("revealed", 5s))
        return ::testing::AssertionFailure() << "the Portal did not appear: " << host.linesText();
    if (!host.waitUntilPrinted("painted", 5s, before)) return ::testing::AssertionFailure() << "the Portal was never drawn";
    return ::testing::AssertionSuccess();
}

// Once the source takes the revealed Portal for its drop target (one that has not yet keeps the
// window it was over), moves up to the one chip at the top of the ring, staying inside the round
// window, and waits until the Portal chose it. `shown` is from `revealUnderTheDrag`.
inline ::testing::AssertionResult pointAtTheTopChip(FakeInput& input, ChildProgram& host, std::size_t shown) {
    using namespace std::chrono_literals;
    if (!host.waitUntilPrinted("inside", 5s, shown))
        return ::testing::AssertionFailure() << "the drag never entered the Portal";
    const auto [px, py] = input.pointer();
    if (!input.glideTo(px, py - 100)) return ::testing::AssertionFailure() << "the pointer did not reach the chip";
    if (!host.waitForLine("selected PNG", 5s)) return ::testing::AssertionFailure() << host.linesText();
    return ::testing::AssertionSuccess();
}

}  // namespace kolvex::testing
