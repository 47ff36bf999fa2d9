// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/format/ConversionJob.h"
#include "core/format/ConversionOptions.h"
#include "core/format/RingTarget.h"
#include "core/services/Uuid.h"
#include "ui/portal/model/PortalScheduler.h"

namespace kolvex {

// The Portal's bookkeeping of its conversions: a record per running conversion, the one run
// the Portal shows (the foreground run), the batches whose files run one after another with
// the results they collect, and the progress display of the foreground run (the 16 ms ticker
// and the final fill). It decides nothing the user sees; the model asks it and shows.
// GUI thread only.
class PortalRuns {
public:
    using Clock = PortalScheduler::Clock;
    using BatchID = unsigned long;

    struct Record {
        Uuid id;
        std::string label;  // "<files> → <target>"
        Clock::time_point started;
        double progress = 0;  // reported, never going back
        PortalTask task;
        unsigned long sequence = 0;  // start order, for runs started within one clock tick
        std::optional<BatchID> batch;
        bool wentToTray = false;  // collapsed, or moved off the Portal while it ran
    };

    // The tray menu's row for one running conversion.
    struct ActiveConversion {
        Uuid id;
        std::string label;
        double progress = 0;
        bool isForeground = false;
        bool operator==(const ActiveConversion&) const = default;
    };

    // One file of a batch with its own options.
    struct PendingFile {
        std::filesystem::path url;
        ConversionOptions options;
    };

    explicit PortalRuns(std::shared_ptr<PortalScheduler> scheduler);
    ~PortalRuns();
    PortalRuns(const PortalRuns&) = delete;
    PortalRuns& operator=(const PortalRuns&) = delete;

    // --- Records ---
    // A new record, started now; in the foreground (replacing the foreground run, which goes
    // on in the tray) unless `foreground` is false.
    const Record& begin(std::string label, std::optional<BatchID> batch, bool foreground);
    const Record* find(const Uuid& id) const;
    // Removes the record of a run that returned; none when it was cancelled meanwhile.
    std::optional<Record> end(const Uuid& id);
    bool empty() const { return m_running.empty(); }
    int count() const { return static_cast<int>(m_running.size()); }
    std::optional<Uuid> foreground() const { return m_foreground; }
    void clearForeground();
    // Hands the Portal to a running conversion (the rest of a batch whose shown file ended).
    void setForeground(const Uuid& id);
    // The foreground run leaves the Portal and goes on in the tray. True when it was still
    // running (its display stops then).
    bool sendForegroundToBackground();
    // The foreground run was collapsed into the tray.
    void markForegroundInTray();
    // Keeps the larger of the run's progress and `fraction`.
    void reportProgress(const Uuid& id, double fraction);

    // --- Cancelling: each stops the tasks of what it names and forgets them, a run together
    // with the rest of its batch (queued files included). ---
    // One conversion by id; its label, or none for an id without a record.
    std::optional<std::string> cancelConversion(const Uuid& id);
    // Every conversion and every batch; the number of runs stopped.
    int cancelAllConversions();
    // The foreground run (with its batch). True when there was one.
    bool cancelForeground();

    // --- For the tray ---
    // Oldest first.
    std::vector<ActiveConversion> activeConversions() const;
    // The mean of all runs' progress; none when nothing runs.
    std::optional<double> aggregateProgress() const;
    // The label of the run started first; none when nothing runs.
    std::optional<std::string> oldestLabel() const;

    // --- Batches: files that each get their own run, as a sheet hands them over or one after
    // another from a queue. A batch is open while files may still join it and complete once
    // it is closed with nothing queued or running. ---
    BatchID openBatch(const RingTarget& target);
    // No more files join; what it collected when it is already complete.
    bool hasBatch(BatchID batch) const { return m_batches.contains(batch); }
    std::optional<RingTarget> batchTarget(BatchID batch) const;
    void enqueue(BatchID batch, std::vector<PendingFile> files);
    // Takes the batch's next queued file.
    std::optional<PendingFile> takeQueued(BatchID batch);
    // A running member of the batch other than `except`, newest first.
    std::optional<Uuid> runningMember(BatchID batch, const Uuid& except) const;
    // Every result a complete batch collected, and whether any of its work went on in the tray.
    struct Finished {
        std::vector<ConversionResult> results;
        bool wentToTray = false;
    };
    std::optional<Finished> closeBatch(BatchID batch);
    // What a finished run of the batch returned. When that completes the batch it is removed
    // and everything it collected is returned.
    std::optional<Finished> memberEnded(BatchID batch, const std::vector<ConversionResult>& results, bool wentToTray);

    // --- Progress display of the foreground run ---
    // Starts (or restarts) the 16 ms ticker: `shown` gives the fraction on display (none once
    // the Portal no longer shows a conversion, which stops it), `show` puts a new one there.
    // Without real progress the display creeps: 3 % after half a second, toward 25 % with a
    // time constant of 45 s; it never passes 99 % while the work runs and never goes back.
    void startProgressDisplay(std::function<std::optional<double>()> shown, std::function<void(double)> show);
    void stopProgressDisplay();
    // Stops the ticker and fills the display from `from` to 100 % over `remaining` seconds
    // (what is left of the least display time; at least 0.1 s, in 16 ms steps), holds 80 ms,
    // then calls `done`. `run` cancelled, or `stillShown` false, ends the fill early (still
    // calling `done`).
    void finishProgressDisplay(const PortalTask& run, double from, double remaining,
                               std::function<bool()> stillShown, std::function<void(double)> show,
                               std::function<void()> done);
    // The synthetic fraction after `elapsed` seconds without real progress.
    static double creep(double elapsed);

private:
    struct Batch {
        RingTarget target;
        std::vector<PendingFile> queue;
        std::vector<ConversionResult> results;
        bool wentToTray = false;
        bool open = true;
    };
    std::optional<Finished> finishIfComplete(std::map<BatchID, Batch>::iterator it);
    void cancelRecord(std::map<Uuid, Record>::iterator it);
    void cancelBatch(BatchID batch);
    void tick(const PortalTask& ticker);
    void fillStep(const PortalTask& run, double from, int step, int steps, std::function<bool()> stillShown,
                  std::function<void(double)> show, std::function<void()> done);
    double elapsedSince(Clock::time_point start) const;

    std::shared_ptr<PortalScheduler> m_scheduler;
    std::map<Uuid, Record> m_running;
    std::optional<Uuid> m_foreground;
    unsigned long m_sequence = 0;
    std::map<BatchID, Batch> m_batches;
    BatchID m_nextBatch = 1;
    std::optional<PortalTask> m_ticker;
    std::function<std::optional<double>()> m_shown;
    std::function<void(double)> m_show;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace kolvex
