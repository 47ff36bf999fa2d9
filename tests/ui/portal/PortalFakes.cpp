// SPDX-License-Identifier: GPL-3.0-or-later
#include "PortalFakes.h"

#include <algorithm>

namespace kolvex::testing {

void FakeScheduler::after(Duration delay, std::function<void()> fn) {
    m_timers.push_back({m_now + std::max(delay, Duration::zero()), m_seq++, std::move(fn)});
}

void FakeScheduler::post(std::function<void()> fn) { m_tasks.post(std::move(fn)); }

void FakeScheduler::background(std::function<void(std::stop_token)> work) { m_tasks.background(std::move(work)); }

void FakeScheduler::runPosted() { m_tasks.runPosted(); }

void FakeScheduler::runBackground() { m_tasks.runAll(); }

void FakeScheduler::advance(double seconds) {
    const auto target = m_now + PortalScheduler::seconds(seconds);
    runPosted();
    for (;;) {
        auto due = std::min_element(m_timers.begin(), m_timers.end(), [](const Timer& a, const Timer& b) {
            return a.due != b.due ? a.due < b.due : a.seq < b.seq;
        });
        if (due == m_timers.end() || due->due > target) break;
        m_now = std::max(m_now, due->due);
        auto fn = std::move(due->fn);
        m_timers.erase(due);
        fn();
        runPosted();
    }
    m_now = target;
    runPosted();
}

std::vector<RingTarget> FakeProvider::targets(const std::vector<std::filesystem::path>& urls, PortalMode mode) const {
    ++targetCalls;
    if (urls.empty()) return {};
    auto it = rings.find(mode);
    return it == rings.end() ? std::vector<RingTarget>{} : it->second;
}

std::vector<ConversionResult> FakeService::submit(const ConversionIntent& intent, const BatchProgressCallback& progress,
                                                  std::stop_token stop) {
    requests.emplace_back(intent);
    return answer(intent.urls, progress, stop);
}

std::vector<ConversionResult> FakeService::submit(const ToolIntent& intent, const BatchProgressCallback& progress,
                                                  std::stop_token stop) {
    requests.emplace_back(intent);
    return answer(intent.urls, progress, stop);
}

std::vector<ConversionResult> FakeService::answer(const std::vector<std::filesystem::path>& urls,
                                                  const BatchProgressCallback& progress, std::stop_token stop) {
    sawStop.push_back(stop.stop_requested());
    for (double f : fractions) {
        if (progress) progress(BatchProgress{0, 1, f});
    }
    if (during) during(requests.size() - 1, progress);
    if (!scriptedResults.empty()) {
        auto results = std::move(scriptedResults.front());
        scriptedResults.pop_front();
        return results;
    }
    std::vector<ConversionResult> results;
    for (const auto& url : urls) {
        auto out = url;
        out.replace_extension(".out");
        results.push_back(success(url, {out}));
    }
    return results;
}

ConversionResult success(const std::filesystem::path& source, std::vector<std::filesystem::path> outputs,
                         std::optional<std::string> note) {
    ConversionResult r;
    r.source = source;
    r.outputs = std::move(outputs);
    r.note = std::move(note);
    return r;
}

ConversionResult failure(const std::filesystem::path& source, std::optional<ConversionError> error) {
    ConversionResult r;
    r.source = source;
    r.error = std::move(error);
    return r;
}

}  // namespace kolvex::testing
