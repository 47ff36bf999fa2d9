// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/PortalRuns.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace kolvex {

namespace {

constexpr auto kTick = std::chrono::milliseconds(16);
constexpr auto kHold = std::chrono::milliseconds(80);

}  // namespace

PortalRuns::PortalRuns(std::shared_ptr<PortalScheduler> scheduler) : m_scheduler(std::move(scheduler)) {}

PortalRuns::~PortalRuns() {
    *m_alive = false;
    stopProgressDisplay();
}

double PortalRuns::elapsedSince(Clock::time_point start) const {
    return std::chrono::duration<double>(m_scheduler->now() - start).count();
}

// ---------------------------------------------------------------------------------------------
// Records

const PortalRuns::Record& PortalRuns::begin(std::string label, std::optional<BatchID> batch, bool foreground) {
    if (foreground) sendForegroundToBackground();
    Record record;
    record.id = Uuid::random();
    record.label = std::move(label);
    record.started = m_scheduler->now();
    record.sequence = ++m_sequence;
    record.batch = batch;
    record.wentToTray = !foreground;
    const Uuid id = record.id;
    auto [it, inserted] = m_running.emplace(id, std::move(record));
    if (foreground) m_foreground = id;
    return it->second;
}

const PortalRuns::Record* PortalRuns::find(const Uuid& id) const {
    auto it = m_running.find(id);
    return it == m_running.end() ? nullptr : &it->second;
}

std::optional<PortalRuns::Record> PortalRuns::end(const Uuid& id) {
    auto it = m_running.find(id);
    if (it == m_running.end()) return std::nullopt;
    Record record = std::move(it->second);
    m_running.erase(it);
    return record;
}

void PortalRuns::clearForeground() { m_foreground.reset(); }

void PortalRuns::setForeground(const Uuid& id) {
    if (m_running.contains(id)) m_foreground = id;
}

bool PortalRuns::sendForegroundToBackground() {
    if (!m_foreground) return false;
    const Uuid id = *m_foreground;
    m_foreground.reset();
    auto it = m_running.find(id);
    if (it == m_running.end()) return false;
    it->second.wentToTray = true;
    stopProgressDisplay();
    return true;
}

void PortalRuns::markForegroundInTray() {
    if (!m_foreground) return;
    if (auto it = m_running.find(*m_foreground); it != m_running.end()) it->second.wentToTray = true;
}

void PortalRuns::reportProgress(const Uuid& id, double fraction) {
    if (!std::isfinite(fraction)) return;
    if (auto it = m_running.find(id); it != m_running.end()) it->second.progress = std::max(it->second.progress, fraction);
}

// ---------------------------------------------------------------------------------------------
// Cancelling

void PortalRuns::cancelRecord(std::map<Uuid, Record>::iterator it) {
    it->second.task.cancel();
    if (m_foreground == it->first) m_foreground.reset();
    m_running.erase(it);
}

void PortalRuns::cancelBatch(BatchID batch) {
    m_batches.erase(batch);
    for (auto it = m_running.begin(); it != m_running.end();) {
        auto next = std::next(it);
        if (it->second.batch == batch) cancelRecord(it);
        it = next;
    }
}

std::optional<std::string> PortalRuns::cancelConversion(const Uuid& id) {
    auto it = m_running.find(id);
    if (it == m_running.end()) return std::nullopt;
    const std::string label = it->second.label;
    const auto batch = it->second.batch;
    cancelRecord(it);
    if (batch) cancelBatch(*batch);
    return label;
}

int PortalRuns::cancelAllConversions() {
    const int n = count();
    for (auto& [id, record] : m_running) record.task.cancel();
    m_running.clear();
    m_batches.clear();
    m_foreground.reset();
    stopProgressDisplay();
    return n;
}

bool PortalRuns::cancelForeground() {
    if (!m_foreground) return false;
    const Uuid id = *m_foreground;
    m_foreground.reset();
    cancelConversion(id);
    stopProgressDisplay();
    return true;
}

// ---------------------------------------------------------------------------------------------
// For the tray

std::vector<PortalRuns::ActiveConversion> PortalRuns::activeConversions() const {
    std::vector<const Record*> records;
    for (const auto& [id, record] : m_running) records.push_back(&record);
    std::sort(records.begin(), records.end(), [](const Record* a, const Record* b) {
        return std::tie(a->started, a->sequence) < std::tie(b->started, b->sequence);
    });
    std::vector<ActiveConversion> rows;
    for (const Record* r : records) rows.push_back({r->id, r->label, r->progress, m_foreground == r->id});
    return rows;
}

std::optional<double> PortalRuns::aggregateProgress() const {
    if (m_running.empty()) return std::nullopt;
    double sum = 0;
    for (const auto& [id, record] : m_running) sum += record.progress;
    return sum / static_cast<double>(m_running.size());
}

std::optional<std::string> PortalRuns::oldestLabel() const {
    const auto rows = activeConversions();
    if (rows.empty()) return std::nullopt;
    return rows.front().label;
}

// ---------------------------------------------------------------------------------------------
// Batches

PortalRuns::BatchID PortalRuns::openBatch(const RingTarget& target) {
    const BatchID id = m_nextBatch++;
    m_batches.emplace(id, Batch{target, {}, {}, false, true});
    return id;
}

std::optional<PortalRuns::Finished> PortalRuns::closeBatch(BatchID batch) {
    auto it = m_batches.find(batch);
    if (it == m_batches.end()) return std::nullopt;
    it->second.open = false;
    return finishIfComplete(it);
}

std::optional<PortalRuns::Finished> PortalRuns::finishIfComplete(std::map<BatchID, Batch>::iterator it) {
    const Batch& b = it->second;
    if (b.open || !b.queue.empty()) return std::nullopt;
    for (const auto& [id, record] : m_running) {
        if (record.batch == it->first) return std::nullopt;
    }
    Finished finished{std::move(it->second.results), it->second.wentToTray};
    m_batches.erase(it);
    return finished;
}

std::optional<RingTarget> PortalRuns::batchTarget(BatchID batch) const {
    auto it = m_batches.find(batch);
    if (it == m_batches.end()) return std::nullopt;
    return it->second.target;
}

void PortalRuns::enqueue(BatchID batch, std::vector<PendingFile> files) {
    auto it = m_batches.find(batch);
    if (it == m_batches.end()) return;
    for (auto& f : files) it->second.queue.push_back(std::move(f));
}

std::optional<PortalRuns::PendingFile> PortalRuns::takeQueued(BatchID batch) {
    auto it = m_batches.find(batch);
    if (it == m_batches.end() || it->second.queue.empty()) return std::nullopt;
    PendingFile next = std::move(it->second.queue.front());
    it->second.queue.erase(it->second.queue.begin());
    return next;
}

std::optional<Uuid> PortalRuns::runningMember(BatchID batch, const Uuid& except) const {
    const Record* newest = nullptr;
    for (const auto& [id, record] : m_running) {
        if (record.batch != batch || id == except) continue;
        if (!newest || record.sequence > newest->sequence) newest = &record;
    }
    return newest ? std::optional<Uuid>(newest->id) : std::nullopt;
}

std::optional<PortalRuns::Finished> PortalRuns::memberEnded(BatchID batch, const std::vector<ConversionResult>& results,
                                                            bool wentToTray) {
    auto it = m_batches.find(batch);
    if (it == m_batches.end()) return std::nullopt;
    Batch& b = it->second;
    b.results.insert(b.results.end(), results.begin(), results.end());
    b.wentToTray = b.wentToTray || wentToTray;
    return finishIfComplete(it);
}

// ---------------------------------------------------------------------------------------------
// Progress display

double PortalRuns::creep(double elapsed) {
    const double ramp = elapsed < 0 ? 0 : 0.03 * std::min(2 * elapsed, 1.0);
    const double slow = elapsed >= 0.5 ? 0.22 * (1 - std::exp(-(elapsed - 0.5) / 45)) : 0;
    return ramp + slow;
}

void PortalRuns::startProgressDisplay(std::function<std::optional<double>()> shown, std::function<void(double)> show) {
    stopProgressDisplay();
    m_shown = std::move(shown);
    m_show = std::move(show);
    PortalTask ticker;
    m_ticker = ticker;
    tick(ticker);
}

void PortalRuns::stopProgressDisplay() {
    if (m_ticker) m_ticker->cancel();
    m_ticker.reset();
}

void PortalRuns::tick(const PortalTask& ticker) {
    if (ticker.isCancelled() || !m_shown) return;
    const auto shown = m_shown();
    if (!shown) return;
    double real = 0;
    std::optional<Clock::time_point> started;
    if (m_foreground) {
        if (const Record* r = find(*m_foreground)) {
            real = r->progress;
            started = r->started;
        }
    }
    const double synthetic = real > 0 || !started ? 0 : creep(elapsedSince(*started));
    const double next = std::max({*shown, std::min(real, 0.99), synthetic});
    if (*shown + 0.001 < next) m_show(next);
    std::weak_ptr<bool> alive = m_alive;
    m_scheduler->after(kTick, [this, alive, ticker] {
        if (!alive.expired()) tick(ticker);
    });
}

void PortalRuns::finishProgressDisplay(const PortalTask& run, double from, double remaining,
                                       std::function<bool()> stillShown, std::function<void(double)> show,
                                       std::function<void()> done) {
    stopProgressDisplay();
    int steps = remaining >= 0.12 ? static_cast<int>(remaining / 0.016) : 7;
    steps = std::max(steps, 6);
    fillStep(run, from, 1, steps, std::move(stillShown), std::move(show), std::move(done));
}

void PortalRuns::fillStep(const PortalTask& run, double from, int step, int steps, std::function<bool()> stillShown,
                          std::function<void(double)> show, std::function<void()> done) {
    std::weak_ptr<bool> alive = m_alive;
    if (run.isCancelled() || !stillShown()) {
        done();
        return;
    }
    if (step > steps) {
        m_scheduler->after(kHold, [alive, done] {
            if (!alive.expired()) done();
        });
        return;
    }
    show(std::min(from + (1 - from) * step / steps, 1.0));
    m_scheduler->after(kTick, [this, alive, run, from, step, steps, stillShown, show, done] {
        if (!alive.expired()) fillStep(run, from, step + 1, steps, stillShown, show, done);
    });
}

}  // namespace kolvex
