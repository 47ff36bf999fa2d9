// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/PassthroughProgressWatcher.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace kolvex {

std::optional<double> PassthroughProgressWatcher::fraction(int64_t written, int64_t expected) {
    if (written < 1 || expected < 1) return std::nullopt;
    return std::clamp(static_cast<double>(written) / static_cast<double>(expected), 0.02, 0.97);
}

PassthroughProgressWatcher::Handle PassthroughProgressWatcher::watch(std::filesystem::path destination, int64_t expectedBytes,
                                                                     std::chrono::milliseconds period, ProgressCallback report,
                                                                     const FileManagerService& files) {
    return watch(std::vector<std::filesystem::path>{std::move(destination)}, expectedBytes, period, std::move(report), files);
}

PassthroughProgressWatcher::Handle PassthroughProgressWatcher::watch(std::vector<std::filesystem::path> destinations,
                                                                     int64_t expectedBytes, std::chrono::milliseconds period,
                                                                     ProgressCallback report, const FileManagerService& files) {
    return Handle(std::jthread([destinations = std::move(destinations), expectedBytes, period, report = std::move(report),
                                &files](std::stop_token stop) {
        std::mutex mutex;
        std::condition_variable_any wakeUp;
        while (!stop.stop_requested()) {
            int64_t written = 0;
            for (const auto& destination : destinations) written += files.size(destination).value_or(0);
            if (const auto share = fraction(written, expectedBytes); share && report) report(*share);
            std::unique_lock lock(mutex);
            wakeUp.wait_for(lock, stop, period, [] { return false; });
        }
    }));
}

}  // namespace kolvex
