// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeEngines.h"

#include <fstream>
#include <stdexcept>

#include "core/services/Cancellation.h"

namespace kolvex::testing {

namespace fs = std::filesystem;

void Gate::open() {
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
    }
    m_changed.notify_all();
}

void Gate::wait() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_open; });
}

bool Gate::waitOrStop(const std::stop_token& stop) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait(lock, stop, [&] { return m_open; });
}

FakeEngine::FakeEngine(EngineID id, Convert convert, Accepts accepts)
    : m_id(std::move(id)),
      m_convert(convert ? std::move(convert) : writesDestination()),
      m_accepts(accepts ? std::move(accepts) : acceptsAll()) {}

bool FakeEngine::canHandle(const ConversionJob& job) const {
    {
        std::lock_guard lock(m_mutex);
        m_asked.push_back(job);
    }
    return m_accepts(job);
}

std::vector<fs::path> FakeEngine::convert(const ConversionJob& job, const ProgressCallback& progress,
                                          std::stop_token stop) const {
    {
        std::lock_guard lock(m_mutex);
        m_converted.push_back(job);
        m_maxRunning = std::max(m_maxRunning, ++m_running);
    }
    m_changed.notify_all();
    struct Leave {
        const FakeEngine* engine;
        ~Leave() {
            std::lock_guard lock(engine->m_mutex);
            --engine->m_running;
        }
    } leave{this};
    return m_convert(job, progress, stop);
}

FakeEngine::Accepts FakeEngine::acceptsAll() {
    return [](const ConversionJob&) { return true; };
}

FakeEngine::Accepts FakeEngine::declinesAll() {
    return [](const ConversionJob&) { return false; };
}

FakeEngine::Convert FakeEngine::writesDestination(std::string contents) {
    return [contents](const ConversionJob& job, const ProgressCallback&, std::stop_token) {
        std::ofstream(job.destination, std::ios::binary) << contents;
        return std::vector<fs::path>{job.destination};
    };
}

FakeEngine::Convert FakeEngine::fails(ConversionError error) {
    return [error](const ConversionJob&, const ProgressCallback&, std::stop_token) -> std::vector<fs::path> {
        throw error;
    };
}

FakeEngine::Convert FakeEngine::throwsForeign(std::string message) {
    return [message](const ConversionJob&, const ProgressCallback&, std::stop_token) -> std::vector<fs::path> {
        throw std::runtime_error(message);
    };
}

FakeEngine::Convert FakeEngine::throwsCancelled() {
    return [](const ConversionJob&, const ProgressCallback&, std::stop_token) -> std::vector<fs::path> {
        throw OperationCancelled();
    };
}

FakeEngine::Convert FakeEngine::returnsNothing() {
    return [](const ConversionJob&, const ProgressCallback&, std::stop_token) { return std::vector<fs::path>{}; };
}

FakeEngine::Convert FakeEngine::nameTakenMeanwhile() {
    return [](const ConversionJob& job, const ProgressCallback&, std::stop_token) -> std::vector<fs::path> {
        std::ofstream(job.destination, std::ios::binary) << "someone else's";
        throw ConversionError::outputNameUnavailable(job.destination);
    };
}

FakeEngine::Convert FakeEngine::reports(std::vector<double> fractions, Convert then) {
    if (!then) then = writesDestination();
    return [fractions, then](const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop) {
        for (double f : fractions) progress(f);
        return then(job, progress, stop);
    };
}

FakeEngine::Convert FakeEngine::waitsFor(std::shared_ptr<Gate> gate, Convert then) {
    if (!then) then = writesDestination();
    return [gate, then](const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop) {
        if (!gate->waitOrStop(stop)) throw OperationCancelled();
        return then(job, progress, stop);
    };
}

FakeEngine::Convert FakeEngine::bySourceName(std::vector<std::pair<std::string, Convert>> table, Convert fallback) {
    if (!fallback) fallback = writesDestination();
    return [table, fallback](const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop) {
        for (const auto& [name, convert] : table) {
            if (job.source.filename() == name) return convert(job, progress, stop);
        }
        return fallback(job, progress, stop);
    };
}

int FakeEngine::started() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_converted.size());
}

int FakeEngine::maxConcurrent() const {
    std::lock_guard lock(m_mutex);
    return m_maxRunning;
}

std::vector<ConversionJob> FakeEngine::convertedJobs() const {
    std::lock_guard lock(m_mutex);
    return m_converted;
}

std::vector<ConversionJob> FakeEngine::askedJobs() const {
    std::lock_guard lock(m_mutex);
    return m_asked;
}

void FakeEngine::waitUntilStarted(int count) const {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return static_cast<int>(m_converted.size()) >= count; });
}

}  // namespace kolvex::testing
