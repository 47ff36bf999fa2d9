// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/format/RingTarget.h"

namespace kolvex {

// Stands in for the coordinator when the Portal has none: pretends to convert the dropped
// files to the chosen target, reporting progress in 24 even steps over a random span well
// under a second, and returns the name the output would have had. Touches no file.
class FakePortalWork {
public:
    struct Outcome {
        std::string outputName;  // empty when the run was cancelled
        bool failed = false;     // cancelled before its last step
        bool operator==(const Outcome&) const = default;
    };

    static constexpr int stepCount = 24;

    // Waits for one step; returns early (without throwing) when the stop token is triggered.
    using Sleep = std::function<void(std::chrono::milliseconds, std::stop_token)>;
    // Draws a whole number uniformly from 0 to 750.
    using Draw = std::function<int()>;

    // Real waiting on the steady clock and the system's random numbers.
    FakePortalWork();
    // For tests: an injected clock and draw.
    FakePortalWork(Sleep sleep, Draw draw);

    // Runs one simulated conversion on the calling thread; blocks for the whole run. The
    // callback gets i/24 after each step, on the calling thread. Never throws.
    Outcome run(const std::vector<std::filesystem::path>& urls, const RingTarget& target,
                const std::function<void(double)>& progress, std::stop_token stop) const;

    // (draw + 150) / 24 ms, whole milliseconds: 6 … 37 ms a step.
    static std::chrono::milliseconds stepLength(int draw);
    // "output" without files; else the first file's name, with the target's extension when it has one.
    static std::string outputName(const std::vector<std::filesystem::path>& urls, const RingTarget& target);

private:
    Sleep m_sleep;
    Draw m_draw;
};

}  // namespace kolvex
