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
// of a few kilobytes can expand to more than any disk holds, and the archive's own size
// fields cannot be trusted to say so beforehand. While it lives, a watcher thread samples the
// volume's free space; when a limit is passed it requests a stop on the given source, which
// stops the unpacking program. The caller then throws error() and removes the folder.
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

    // Starts watching the volume of `folder` (which must exist). Thread-safe: the watcher
    // thread only reads the file system and requests `stop`.
    ExtractionGuard(std::filesystem::path folder, Limits limits, std::stop_source stop);
    // Stops and joins the watcher.
    ~ExtractionGuard();
    ExtractionGuard(const ExtractionGuard&) = delete;
    ExtractionGuard& operator=(const ExtractionGuard&) = delete;

    // Checks once more after the program ended, since it may have finished between two samples;
    // with a byte cap, the folder's contents are counted. True when a limit was passed.
    bool finalCheck();
    bool tripped() const { return m_tripped.load(); }
    // insufficientDiskSpace: what had been written when unpacking stopped, against what it was allowed.
    ConversionError error() const;

private:
    void watch(std::stop_token token);
    // Samples the volume; true (and records the trip) when a limit is passed.
    bool sample();
    void trip(int64_t used);

    std::filesystem::path m_folder;
    Limits m_limits;
    std::stop_source m_stop;
    std::optional<int64_t> m_initialFree;
    int64_t m_reserve = 0;
    std::atomic<bool> m_tripped{false};
    std::atomic<int64_t> m_usedAtTrip{0};
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::jthread m_watcher;  // last: starts after everything it reads is set up
};

}  // namespace kolvex
