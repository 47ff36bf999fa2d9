#include "core/engines/pdf/PdfSplit.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "core/engines/pdf/PageFileNaming.h"
#include "core/engines/pdf/PageWorkers.h"
#include "core/engines/pdf/QpdfDocument.h"
#include "core/services/StagedOutputSet.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

// The pages to write, dealt to `lanes` threads: lane k writes every lanes-th page from page k,
// each into a staging folder of its own. The first failure stops all.
class PageLanes {
public:
    PageLanes(int lanes, const std::vector<fs::path>& outputs, const std::vector<fs::path>& staged, std::stop_token stop)
        : m_lanes(lanes), m_outputs(outputs), m_staged(staged), m_stop(std::move(stop)) {}

    // Writes the lane's pages of `source` until they are done or the work stops. Never throws.
    void drain(int lane, qpdf_bridge::Document& source, const std::function<void()>& afterPage = {}) {
        try {
            for (int index = lane; index < static_cast<int>(m_outputs.size()) && !stopped(); index += m_lanes) {
                auto single = QpdfDocument::makeEmpty();
                qpdf_bridge::appendPage(*single, source, index);
                const auto at = static_cast<size_t>(index);
                QpdfDocument::writeStaged(*single, m_staged[at], m_outputs[at], {.encryptionOf = &source});
                ++m_done;
                if (afterPage) afterPage();
            }
        } catch (...) {
            fail(std::current_exception());
        }
    }

    // A helper thread's lane, from its own copy of the source.
    void drainOwnCopy(int lane, const fs::path& source) {
        try {
            QpdfDocument::Handle copy = QpdfDocument::open(source);
            drain(lane, *copy);
        } catch (...) {
            fail(std::current_exception());
        }
    }

    void abandon() { m_abandoned = true; }
    int done() const { return m_done.load(); }
    bool stopped() const { return m_abandoned.load() || m_stop.stop_requested(); }

    // After every thread has finished: the first failure, else cancelled when stopped.
    void rethrow() const {
        if (m_failure) std::rethrow_exception(m_failure);
        if (m_stop.stop_requested()) throw ConversionError::cancelled();
    }

private:
    void fail(std::exception_ptr failure) {
        std::lock_guard lock(m_mutex);
        if (!m_failure) m_failure = std::move(failure);
        m_abandoned = true;
    }

    const int m_lanes;
    const std::vector<fs::path>& m_outputs;
    const std::vector<fs::path>& m_staged;
    std::stop_token m_stop;
    std::atomic<int> m_done{0};
    std::atomic<bool> m_abandoned{false};
    std::mutex m_mutex;
    std::exception_ptr m_failure;  // guarded by m_mutex until the threads are joined
};

}  // namespace

int PdfSplit::helperThreads(int pages) {
    return std::clamp((pages - 1) / kPagesPerThread, 0, pageWorkers());
}

std::vector<fs::path> PdfSplit::write(qpdf_bridge::Document& document, const ConversionJob& job,
                                      const ProgressCallback& progress, std::stop_token stop) {
    const int count = qpdf_bridge::pageCount(document);
    if (count < 2) throw ConversionError::unsupportedCombination("a one-page PDF", "several files");

    const int lanes = 1 + helperThreads(count);
    StagedOutputSet parts(job.destination, lanes);
    std::vector<fs::path> outputs;
    std::vector<fs::path> staged;
    for (int index = 0; index < count; ++index) {
        outputs.push_back(PageFileNaming::splitURL(job.destination, index + 1, count));
        staged.push_back(parts.add(outputs.back(), index % lanes));
    }

    PageLanes queue(lanes, outputs, staged, stop);
    {
        std::vector<std::jthread> helpers;
        // Whatever ends this scope, the helpers stop at their next page and are joined.
        struct Abandon {
            PageLanes& queue;
            ~Abandon() { queue.abandon(); }
        } abandon{queue};
        for (int lane = 1; lane < lanes; ++lane) {
            helpers.emplace_back([&queue, &job, lane] { queue.drainOwnCopy(lane, job.source); });
        }
        queue.drain(0, document, [&] {
            if (progress) progress(0.15 + static_cast<double>(queue.done()) * 0.8 / count);
        });
        // The helpers finish their last pages before the set is judged.
        helpers.clear();
    }
    queue.rethrow();
    if (queue.done() != count) throw ConversionError::cancelled();
    parts.commit();
    if (progress) progress(1.0);
    return parts.destinations();
}

}  // namespace kolvex
