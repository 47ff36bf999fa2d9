#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/engines/pdf/PopplerDocument.h"
#include "core/services/StagedOutput.h"

namespace kolvex {

// Encodes rendered pages on a few worker threads while the caller renders the next page under
// the poppler lock: rendering is serial, encoding (deflate, WebP, JPEG) need not be. At most
// a few pages, and kMaxBytesInFlight of bitmaps, are held at once (a single larger page still
// goes through on its own), so memory stays bounded whatever the page count and size.
// One object belongs to the thread that made it; `save` runs on the workers.
class ParallelPageWriter {
public:
    // Encodes one page, staged for its destination (committed by the caller with the set).
    using Save = std::function<StagedOutput(const PageBitmap&, const std::filesystem::path&)>;

    // `workers` threads (at least 1) call `save` for each submitted page.
    ParallelPageWriter(Save save, int workers);
    // Lets the workers finish the page in hand, drops the pages still waiting, joins, and
    // removes whatever was staged and not yet handed out by finish().
    ~ParallelPageWriter();
    ParallelPageWriter(const ParallelPageWriter&) = delete;
    ParallelPageWriter& operator=(const ParallelPageWriter&) = delete;

    // Hands a page over; blocks while the queue is full. Rethrows the first failure of a save.
    void submit(PageBitmap bitmap, std::filesystem::path destination);
    // Waits until every submitted page is saved and returns them in the order submitted;
    // rethrows the first failure of a save.
    std::vector<StagedOutput> finish();

    // Workers for this machine: the processors beyond the rendering one, 1 to 6.
    static int defaultWorkers();

    static constexpr size_t kMaxBytesInFlight = size_t{512} << 20;

private:
    struct Task {
        PageBitmap bitmap;
        std::filesystem::path destination;
        size_t position = 0;
    };
    void work();
    void rethrowFailure();  // with m_mutex held

    Save m_save;
    size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Task> m_waiting;
    int m_busy = 0;
    size_t m_bytesInFlight = 0;  // bitmaps waiting or being encoded
    bool m_closing = false;
    std::exception_ptr m_failure;
    std::vector<std::optional<StagedOutput>> m_saved;  // by position
    std::vector<std::jthread> m_workers;
};

}  // namespace kolvex
