// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/BatchRun.h"

#include <algorithm>

#include <fmt/format.h>

namespace kolvex {

std::string advanceTitle(const std::string& word, const std::optional<BatchPrompt>& prompt, const BatchChoice& choice) {
    if (!prompt || prompt->count < 2) return word;
    if (prompt->position) return prompt->advanceLabel;
    if (choice.setEachIndividually) return "Next";
    return fmt::format("{} {} files", word, prompt->count);
}

bool showsBatchOptions(const std::optional<BatchPrompt>& prompt) {
    return prompt && prompt->count >= 2;
}

BatchParameterRun::BatchParameterRun(std::vector<std::filesystem::path> urls, bool startsImmediately)
    : m_urls(std::move(urls)), m_startsImmediately(startsImmediately) {}

std::optional<std::filesystem::path> BatchParameterRun::current() const {
    if (m_index < m_urls.size()) return m_urls[m_index];
    return std::nullopt;
}

bool BatchParameterRun::isLast() const {
    return !m_urls.empty() && m_index == m_urls.size() - 1;
}

bool BatchParameterRun::isComplete() const {
    return m_index >= m_urls.size();
}

std::string BatchParameterRun::position() const {
    const size_t n = m_urls.size();
    return fmt::format("File {} of {}", std::min(m_index + 1, n), n);
}

std::string BatchParameterRun::advanceLabel(const std::string& finish) const {
    return isLast() ? finish : "Next";
}

std::optional<BatchParameterRun::Pair> BatchParameterRun::accept(const ConversionOptions& options) {
    if (m_index >= m_urls.size()) return std::nullopt;
    Pair pair{m_urls[m_index], options};
    m_collected.push_back(pair);
    m_started.push_back(m_startsImmediately);
    ++m_index;
    if (m_startsImmediately) return pair;
    return std::nullopt;
}

void BatchParameterRun::skip() {
    if (m_index >= m_urls.size()) return;
    m_skipped.push_back(m_urls[m_index]);
    ++m_index;
}

std::vector<BatchParameterRun::Pair> BatchParameterRun::pending() const {
    std::vector<Pair> waiting;
    for (size_t i = 0; i < m_collected.size(); ++i)
        if (!m_started[i]) waiting.push_back(m_collected[i]);
    return waiting;
}

std::vector<std::filesystem::path> BatchParameterRun::alreadyStarted() const {
    std::vector<std::filesystem::path> started;
    for (size_t i = 0; i < m_collected.size(); ++i)
        if (m_started[i]) started.push_back(m_collected[i].first);
    return started;
}

bool BatchParameterRun::operator==(const BatchParameterRun& other) const {
    if (m_urls != other.m_urls || m_index != other.m_index || m_startsImmediately != other.m_startsImmediately ||
        m_collected.size() != other.m_collected.size() || m_skipped != other.m_skipped)
        return false;
    for (size_t i = 0; i < m_collected.size(); ++i)
        if (m_collected[i].first != other.m_collected[i].first) return false;
    return true;
}

}  // namespace kolvex
