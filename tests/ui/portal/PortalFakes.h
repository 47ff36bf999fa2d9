// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/format/ConversionError.h"
#include "support/RingTargets.h"
#include "support/qt/ManualTaskRunner.h"
#include "ui/portal/model/PortalModel.h"

namespace kolvex::testing {

// A scheduler whose clock moves only when the test says so; background work runs when the
// test drains it, on the test's own thread.
class FakeScheduler final : public PortalScheduler {
public:
    Clock::time_point now() const override { return m_now; }
    void after(Duration delay, std::function<void()> fn) override;
    void post(std::function<void()> fn) override;
    void background(std::function<void(std::stop_token)> work) override;

    // Runs queued GUI calls (and what they queue) until none is left.
    void runPosted();
    // Runs every pending background job, then the GUI calls they queued. Repeats until quiet.
    void runBackground();
    // Moves the clock forward, firing due timers in order of their time.
    void advance(double seconds);
    size_t pendingBackground() const { return m_tasks.pending(); }

private:
    struct Timer {
        Clock::time_point due;
        unsigned long seq;
        std::function<void()> fn;
    };
    Clock::time_point m_now{};
    unsigned long m_seq = 0;
    std::vector<Timer> m_timers;
    ManualTaskRunner m_tasks;  // queued GUI calls and background work
};

// Ring targets by mode, with settable categories.
class FakeProvider final : public RingTargetProviding {
public:
    std::map<PortalMode, std::vector<RingTarget>> rings;
    std::optional<FormatCategory> oneCategory;
    int categories = 1;
    mutable int targetCalls = 0;

    std::vector<RingTarget> targets(const std::vector<std::filesystem::path>&, PortalMode mode) const override;
    std::optional<FormatCategory> category(const std::vector<std::filesystem::path>&) const override {
        return oneCategory;
    }
    int categoryCount(const std::vector<std::filesystem::path>&) const override { return categories; }
};

// A conversion service that records each request and answers from a script. Each request
// reports the scripted fractions, then returns its results (by default one success per file,
// named "<stem>.out").
class FakeService final : public PortalConversionService {
public:
    using Request = std::variant<ConversionIntent, ToolIntent>;
    std::vector<Request> requests;
    std::deque<std::vector<ConversionResult>> scriptedResults;
    std::vector<double> fractions;
    std::vector<bool> sawStop;  // per request: the stop token was triggered when it ran
    // Called inside each request, after the scripted fractions, with the request's index and
    // its progress callback: the run is still under way while it runs.
    std::function<void(size_t, const BatchProgressCallback&)> during;

    // What takenNames() answers, and the requests it was asked about.
    std::vector<std::filesystem::path> taken;
    std::vector<Request> lookedUp;

    std::vector<ConversionResult> submit(const ConversionIntent& intent, const BatchProgressCallback& progress,
                                         std::stop_token stop) override;
    std::vector<std::filesystem::path> takenNames(const ConversionIntent& intent) override {
        lookedUp.emplace_back(intent);
        return taken;
    }
    std::vector<std::filesystem::path> takenNames(const ToolIntent& intent) override {
        lookedUp.emplace_back(intent);
        return taken;
    }
    std::vector<ConversionResult> submit(const ToolIntent& intent, const BatchProgressCallback& progress,
                                         std::stop_token stop) override;

private:
    std::vector<ConversionResult> answer(const std::vector<std::filesystem::path>& urls,
                                         const BatchProgressCallback& progress, std::stop_token stop);
};

ConversionResult success(const std::filesystem::path& source, std::vector<std::filesystem::path> outputs,
                         std::optional<std::string> note = std::nullopt);
ConversionResult failure(const std::filesystem::path& source, std::optional<ConversionError> error);

}  // namespace kolvex::testing
