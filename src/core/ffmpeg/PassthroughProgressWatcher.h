// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "core/conversion/ConversionEngine.h"
#include "core/services/FileManagerService.h"

namespace kolvex {

// Progress of a stream copy, measured from the growing size of the output file: ffmpeg's own
// progress stream says little when nothing is decoded.
class PassthroughProgressWatcher {
public:
    // The polling period the engine uses.
    static constexpr std::chrono::milliseconds interval{40};

    // A running watcher. Cancelling (or destroying) it stops the polling thread and waits for it,
    // so no report arrives afterwards.
    class Handle {
    public:
        Handle() = default;
        explicit Handle(std::jthread thread) : m_thread(std::move(thread)) {}
        Handle(Handle&&) = default;
        Handle& operator=(Handle&&) = default;
        ~Handle() { cancel(); }
        void cancel() {
            if (!m_thread.joinable()) return;
            m_thread.request_stop();
            m_thread.join();
        }

    private:
        std::jthread m_thread;
    };

    // Polls the size of `destination` at once and then every `period`, and reports the written
    // share of `expectedBytes`, clamped to 0.02…0.97, from its own thread. Never reports 1.
    static Handle watch(std::filesystem::path destination, int64_t expectedBytes, std::chrono::milliseconds period,
                        ProgressCallback report, const FileManagerService& files = FileManagerService::shared());
    // The same for several files written at once, their sizes summed.
    static Handle watch(std::vector<std::filesystem::path> destinations, int64_t expectedBytes,
                        std::chrono::milliseconds period, ProgressCallback report,
                        const FileManagerService& files = FileManagerService::shared());

    // written ÷ expected clamped to 0.02…0.97; nothing when either is below 1.
    static std::optional<double> fraction(int64_t written, int64_t expected);
};

}  // namespace kolvex
