// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

#include "core/engines/pdf/PopplerDocument.h"
#include "core/services/StagedOutput.h"

namespace kolvex {

// Encodes rendered pages on a few worker threads while the caller renders the next page under
// the poppler lock: rendering is serial, encoding (deflate, WebP, JPEG) need not be. At most
// a few pages per writer, and kMaxBytesInFlight of bitmaps for every writer of the process
// together (a batch renders many documents at once), are held at once; a single larger page
// still goes through on its own. So memory stays bounded whatever the page count, the page
// size and the number of documents.
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

    // Waits until a page of width × height may be held, and takes its share of the budget for
    // the next submit(): call it before rendering, so that the bitmap is only made once there is
    // room for it. Rethrows the first failure of a save; throws OperationCancelled, having taken
    // nothing, when `stop` is requested while it waits.
    void reserve(int width, int height, std::stop_token stop = {});
    // Hands a page over (reserving it first unless reserve() was called for it); blocks while
    // the queue is full. Rethrows the first failure of a save.
    void submit(PageBitmap bitmap, std::filesystem::path destination);
    // Waits until every submitted page is saved and returns them in the order submitted;
    // rethrows the first failure of a save.
    std::vector<StagedOutput> finish();

    // Workers for this machine: the processors beyond the rendering one, 1 to 6.
    static int defaultWorkers();

    static constexpr size_t kMaxBytesInFlight = size_t{256} << 20;
    // Bitmap bytes held by every writer of the process, for tests.
    static size_t bytesInFlight();

private:
    struct Task {
        PageBitmap bitmap;
        std::filesystem::path destination;
        size_t position = 0;
    };
    void work();
    void rethrowFailure();  // with m_mutex held
    // Gives bytes back to the process's budget: pages saved, dropped or never rendered.
    static void release(size_t bytes);
    static size_t bytesOf(const Task& task);

    Save m_save;
    size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Task> m_waiting;
    int m_busy = 0;
    size_t m_reserved = 0;  // taken by reserve() for the next submit()
    bool m_closing = false;
    std::exception_ptr m_failure;
    std::vector<std::optional<StagedOutput>> m_saved;  // by position
    std::vector<std::jthread> m_workers;
};

}  // namespace kolvex
