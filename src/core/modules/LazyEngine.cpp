// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/modules/LazyEngine.h"

#include "core/format/ConversionError.h"

namespace kolvex {

LazyEngine::LazyEngine(EngineID id, Takes takes, Make make)
    : m_id(std::move(id)), m_takes(std::move(takes)), m_make(std::move(make)) {}

const ConversionEngine* LazyEngine::tryEngine() const {
    std::lock_guard lock(m_mutex);
    if (!m_engine && !m_failure) {
        try {
            m_engine = m_make();
            if (!m_engine) m_failure = "the " + m_id.rawValue + " engine is not available";
        } catch (const std::exception& error) {
            m_failure = error.what();
        }
    }
    return m_engine.get();
}

const ConversionEngine& LazyEngine::engine() const {
    if (const auto* made = tryEngine()) return *made;
    std::lock_guard lock(m_mutex);
    throw ConversionError::backendFailure(m_id.rawValue, -1, *m_failure);
}

bool LazyEngine::isLoaded() const {
    std::lock_guard lock(m_mutex);
    return static_cast<bool>(m_engine);
}

bool LazyEngine::canHandle(const ConversionJob& job) const {
    if (m_takes && !m_takes(job)) return false;
    const auto* made = tryEngine();
    return !made || made->canHandle(job);
}

bool LazyEngine::checksRoom(const ConversionJob& job) const {
    const auto* made = tryEngine();
    return made && made->checksRoom(job);
}

std::vector<std::filesystem::path> LazyEngine::convert(const ConversionJob& job, const ProgressCallback& progress,
                                                       std::stop_token stop) const {
    return engine().convert(job, progress, std::move(stop));
}

ConversionOutcome LazyEngine::convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                               std::stop_token stop) const {
    return engine().convertReporting(job, progress, std::move(stop));
}

}  // namespace kolvex
