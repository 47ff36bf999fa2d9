// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "core/format/ConversionError.h"

namespace kolvex {

// Keeps an archive that unpacks into a folder from filling that folder's volume: a zip bomb
// of a few kilobytes can expand to more than any disk holds, and an archive's own size fields
// may lie. While it lives, a watcher thread samples the volume's free space; when unpacking
// writes more than the archive declared, or the volume's free space falls below a reserve, it
// requests a stop on the given source, which stops the unpacking. The caller then throws
// error() and removes the folder.
class ExtractionGuard {
public:
    struct Limits {
        // Unpacking stops once the volume has less than this left, or a quarter of what was
        // free at the start when that is less (so a nearly full disk still takes small archives).
        int64_t minimumFreeBytes = int64_t{256} << 20;
        // Unpacking stops once this many bytes were written; none: only the free space counts.
        std::optional<int64_t> maxExtractedBytes;
        std::chrono::milliseconds pollInterval{100};
    };

    // The room to keep free on a volume that has `freeBytes` free.
    static int64_t reserve(int64_t freeBytes, const Limits& limits);
    // What unpacking `declaredBytes` in `entries` entries may occupy on disk: the data plus a
    // block's rounding per entry and a little for folders.
    static int64_t allowance(int64_t declaredBytes, int64_t entries);

    // Starts watching the volume of `folder` (which must exist). `declaredBytes`: what the
    // archive says it holds, when every entry said so; writing more than its allowance stops
    // the unpacking as damaged. Thread-safe: the watcher only reads the file system and
    // requests `stop`.
    ExtractionGuard(std::filesystem::path folder, Limits limits, std::stop_source stop,
                    std::optional<int64_t> declaredBytes = std::nullopt, int64_t entries = 0);
    // Stops and joins the watcher.
    ~ExtractionGuard();
    ExtractionGuard(const ExtractionGuard&) = delete;
    ExtractionGuard& operator=(const ExtractionGuard&) = delete;

    // Checks once more after the unpacking ended, since it may have finished between two
    // samples; with a cap, the folder's contents are counted. True when a limit was passed.
    bool finalCheck();
    bool tripped() const { return m_trip.load() != Trip::none; }
    // The room the guard keeps free on the volume while unpacking runs.
    int64_t reserved() const { return m_reserve; }
    // insufficientDiskSpace with what was needed and what was free when the volume ran low;
    // corruptedInput of `archive` when it wrote more than it declared. An archive that declared
    // nothing needs what was written, or `projected` (the whole unpacking, judged from the share
    // done) when that is more.
    ConversionError error(const std::filesystem::path& archive, std::optional<int64_t> projected = std::nullopt) const;

private:
    enum class Trip { none, lowOnSpace, overDeclared };

    void watch(std::stop_token token);
    // Samples the volume; true (and records the trip) when a limit is passed.
    bool sample();
    void trip(Trip why, int64_t used);

    std::filesystem::path m_folder;
    Limits m_limits;
    std::stop_source m_stop;
    std::optional<int64_t> m_initialFree;
    std::optional<int64_t> m_declared;
    std::optional<int64_t> m_allowance;  // what the declared contents may occupy
    int64_t m_reserve = 0;
    std::atomic<Trip> m_trip{Trip::none};
    std::atomic<int64_t> m_usedAtTrip{0};
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::jthread m_watcher;  // last: starts after everything it reads is set up
};

}  // namespace kolvex
