// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversion/FakePortalWork.h"

#include <condition_variable>
#include <mutex>
#include <random>

#include "core/services/OutputNaming.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace {

// Sleeps until the deadline; a stop request ends the wait early, like a cancelled sleep.
void sleepOnSteadyClock(std::chrono::milliseconds length, std::stop_token stop) {
    const auto deadline = std::chrono::steady_clock::now() + length;
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_until(lock, stop, deadline, [] { return false; });
}

int drawFromSystem() {
    std::random_device device;
    std::uniform_int_distribution<int> distribution(0, 750);
    return distribution(device);
}

}  // namespace

FakePortalWork::FakePortalWork() : FakePortalWork(sleepOnSteadyClock, drawFromSystem) {}

FakePortalWork::FakePortalWork(Sleep sleep, Draw draw) : m_sleep(std::move(sleep)), m_draw(std::move(draw)) {}

std::chrono::milliseconds FakePortalWork::stepLength(int draw) {
    return std::chrono::milliseconds((draw + 150) / stepCount);
}

std::string FakePortalWork::outputName(const std::vector<std::filesystem::path>& urls, const RingTarget& target) {
    if (urls.empty()) return "output";
    const std::string name = paths::lastComponent(urls.front());
    if (!target.fileExtension) return name;
    return OutputNaming::stem(name) + "." + *target.fileExtension;
}

FakePortalWork::Outcome FakePortalWork::run(const std::vector<std::filesystem::path>& urls, const RingTarget& target,
                                            const std::function<void(double)>& progress, std::stop_token stop) const {
    const auto step = stepLength(m_draw());
    if (stop.stop_requested()) return Outcome{"", true};
    for (int i = 1; i <= stepCount; ++i) {
        m_sleep(step, stop);
        if (progress) progress(static_cast<double>(i) / stepCount);
        // A stop during the last step still ends in success: the work is done by then.
        if (i == stepCount) return Outcome{outputName(urls, target), false};
        if (stop.stop_requested()) return Outcome{"", true};
    }
    return Outcome{outputName(urls, target), false};
}

}  // namespace kolvex
