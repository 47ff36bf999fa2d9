// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/conversion/ConversionEngine.h"
#include "core/format/ConversionError.h"

namespace kolvex::testing {

// A one-shot latch: wait() blocks until open() (from any thread).
class Gate {
public:
    void open();
    void wait();
    // Blocks until open or until `stop` is requested; true when opened.
    bool waitOrStop(const std::stop_token& stop);

private:
    mutable std::mutex m_mutex;
    std::condition_variable_any m_changed;
    bool m_open = false;
};

// An engine whose answers and behaviour are given by the test, and which records what it was
// asked and how many conversions ran at once. Safe to use from several workers.
class FakeEngine final : public PlanReportingEngine {
public:
    using Convert = std::function<std::vector<std::filesystem::path>(const ConversionJob&, const ProgressCallback&,
                                                                     std::stop_token)>;
    using Accepts = std::function<bool(const ConversionJob&)>;

    // An empty `convert` writes the destination; an empty `accepts` accepts every job.
    explicit FakeEngine(EngineID id, Convert convert = {}, Accepts accepts = {});

    static std::shared_ptr<FakeEngine> make(EngineID id, Convert convert = {}, Accepts accepts = {}) {
        return std::make_shared<FakeEngine>(std::move(id), std::move(convert), std::move(accepts));
    }

    EngineID id() const override { return m_id; }
    bool canHandle(const ConversionJob& job) const override;
    // Leaves the room check to the coordinator, as an engine that projects nothing does, unless
    // told it makes that check itself.
    bool checksRoom(const ConversionJob&) const override { return m_checksRoom; }
    void checkRoomItself() { m_checksRoom = true; }
    std::vector<std::filesystem::path> convert(const ConversionJob& job, const ProgressCallback& progress,
                                               std::stop_token stop) const override;

    // Behaviours.
    static Accepts acceptsAll();
    static Accepts declinesAll();
    // Writes `contents` at the destination and returns it.
    static Convert writesDestination(std::string contents = "converted");
    static Convert fails(ConversionError error);
    // Throws a std::runtime_error with `message`.
    static Convert throwsForeign(std::string message);
    static Convert throwsCancelled();
    // Returns no files and throws nothing.
    static Convert returnsNothing();
    // Plays another program taking the destination's name while the job ran: writes
    // "someone else's" there, then fails with outputNameUnavailable.
    static Convert nameTakenMeanwhile();
    // Reports each fraction, then does `then`.
    static Convert reports(std::vector<double> fractions, Convert then = {});
    // Blocks until `gate` opens (then does `then`) or the stop token fires (throws OperationCancelled).
    static Convert waitsFor(std::shared_ptr<Gate> gate, Convert then = {});
    // Picks a behaviour by the job's source file name; `fallback` for others.
    static Convert bySourceName(std::vector<std::pair<std::string, Convert>> table, Convert fallback = {});

    // Observations.
    int started() const;
    int maxConcurrent() const;
    // Jobs handed to convert(), in the order they started.
    std::vector<ConversionJob> convertedJobs() const;
    // Jobs asked about with canHandle().
    std::vector<ConversionJob> askedJobs() const;
    // Blocks until at least `count` conversions have started.
    void waitUntilStarted(int count) const;

private:
    EngineID m_id;
    Convert m_convert;
    Accepts m_accepts;
    bool m_checksRoom = false;  // set before any job runs

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    mutable std::vector<ConversionJob> m_converted;
    mutable std::vector<ConversionJob> m_asked;
    mutable int m_running = 0;
    mutable int m_maxRunning = 0;
};

}  // namespace kolvex::testing
