// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/conversion/BatchProgress.h"
#include "core/conversion/ConversionEngine.h"
#include "core/conversion/JobSlots.h"
#include "core/format/ConversionJob.h"
#include "core/format/FormatRegistry.h"
#include "core/services/FileManagerService.h"

namespace kolvex {

// The one place where conversion requests become work: plans an intent into jobs with free
// output names, runs them through the registered engines with bounded parallelism, and
// returns one result per job. Never throws from submit(): every failure is inside a result.
//
// Threads: submit() and run() block their caller (call them from a worker thread, never the
// GUI thread); any number of callers may use one coordinator at once. Planning is serialised
// by the coordinator's one mutex, which also guards the names handed to jobs still running,
// so two requests never get the same output name. The registry, the engine table and the
// file services never change after construction. The coordinator must outlive its calls.
class ConversionCoordinator {
public:
    using BatchProgress = kolvex::BatchProgress;
    using BatchProgressTracker = kolvex::BatchProgressTracker;
    using Engines = std::vector<std::shared_ptr<const ConversionEngine>>;

    // `processorCount` replaces the active processor count (tests); none reads it from the system.
    // Engine ids must be distinct: a repeated id is a programming error and throws std::invalid_argument.
    ConversionCoordinator(FormatRegistry registry, const Engines& engines,
                          std::shared_ptr<const FileManagerService> files = sharedFiles(),
                          std::optional<int> processorCount = std::nullopt);

    // Plans files to one target format: one job per file, in file order, each with the first
    // free name (names of earlier jobs of the request and of running jobs count as taken).
    // Throws ConversionError; the first failure ends planning.
    std::vector<ConversionJob> plan(const ConversionIntent& intent) const;
    // Plans a tool request: one job per file, or one job for all files when the tool folds
    // its inputs; the engine is the first in toolEnginePreference() that accepts the job.
    std::vector<ConversionJob> plan(const ToolIntent& intent) const;

    // The plain names (without a number) that the request's outputs would take and that other
    // files already hold: the names "Ask what to do" asks about. An output beside its own source
    // under the source's name never replaces it, and a number given because another file of the
    // request has the stem is no conflict: neither is named. Empty when the request cannot be
    // planned (its run says why).
    std::vector<std::filesystem::path> takenNames(const ConversionIntent& intent) const;
    std::vector<std::filesystem::path> takenNames(const ToolIntent& intent) const;

    // Plans and runs. A planning failure fails every file of the request with that error.
    // The request's rules set its concurrency and may skip files whose plain names are taken
    // (each yields a `skipped` result). Results come in the order the jobs finished. `stop` cancels the batch: running engines
    // see it; jobs not started yet each yield a `cancelled` result.
    std::vector<ConversionResult> submit(const ConversionIntent& intent, const BatchProgressCallback& progress = {},
                                         std::stop_token stop = {});
    std::vector<ConversionResult> submit(const ToolIntent& intent, const BatchProgressCallback& progress = {},
                                         std::stop_token stop = {});

    // Runs planned jobs as one batch on up to concurrencyLimit() threads, the caller's among
    // them. One result per job, in completion order; progress ends with one final
    // (total, total, 1) report.
    std::vector<ConversionResult> run(const std::vector<ConversionJob>& jobs, const BatchProgressCallback& progress = {},
                                      std::stop_token stop = {});

    // 2 when any job costs a subprocess or reads a video, else the processor count clamped to 2…8.
    static int concurrencyLimit(const std::vector<ConversionJob>& jobs, int processorCount);
    int concurrencyLimit(const std::vector<ConversionJob>& jobs) const;
    // The processors this process may run on.
    static int activeProcessorCount();

    // The note of a successful result: a same-format compress whose output is not smaller
    // than its source says the original was kept.
    static std::optional<std::string> notice(const ConversionJob& job, const std::vector<std::filesystem::path>& outputs,
                                             const FileManagerService& files = FileManagerService::shared());

    // Engines asked, in this order, whether they take a tool job.
    static const std::vector<EngineID>& toolEnginePreference();

    const FormatRegistry& registry() const { return m_registry; }
    const FileManagerService& files() const { return *m_files; }
    bool hasEngine(const EngineID& id) const { return m_engines.contains(id); }

    static std::shared_ptr<const FileManagerService> sharedFiles();

private:
    using Taken = std::function<bool(const std::filesystem::path&)>;

    std::vector<ConversionJob> planLocked(const ConversionIntent& intent) const;
    std::vector<ConversionJob> planLocked(const ToolIntent& intent) const;
    // True when a running job of another request will write there. Holds m_mutex.
    // Keys for the sets of taken names: the same folder written two ways is one folder.
    static std::filesystem::path nameKey(const std::filesystem::path& path);
    bool isReservedLocked(const std::filesystem::path& path) const;

    template <typename Intent>
    std::vector<ConversionResult> submitIntent(const Intent& intent, const BatchProgressCallback& progress,
                                               std::stop_token stop);
    std::vector<ConversionResult> runBatch(const std::vector<ConversionJob>& jobs, const BatchProgressCallback& progress,
                                           std::stop_token stop, bool releaseReservations, int parallelLimit = 0);
    // The plain names of the job's outputs that other files hold (see takenNames()): a split's
    // parts, else its one output.
    std::vector<std::filesystem::path> takenPlainNames(const ConversionJob& job,
                                                       const std::optional<std::filesystem::path>& outputDirectory) const;
    template <typename Intent>
    std::vector<std::filesystem::path> takenNamesOf(const Intent& intent) const;
    // Asks the request's rules about the jobs whose plain names are taken; takes out the jobs the
    // user skips (releasing their names) and returns their results.
    std::vector<ConversionResult> skipTakenNames(std::vector<ConversionJob>& jobs, const RunRules& rules,
                                                 const std::optional<std::filesystem::path>& outputDirectory);

    // Carries out one job and always yields exactly one result. Runs on a worker thread.
    ConversionResult execute(const ConversionJob& job, int index, BatchProgressTracker& tracker,
                             std::set<EngineID> attempted, const std::stop_token& stop) const;
    // execute() with whatever escapes it (an engine's canHandle that throws) turned into a result.
    ConversionResult executeGuarded(const ConversionJob& job, int index, BatchProgressTracker& tracker,
                                    const std::stop_token& stop) const;
    const ConversionEngine* engine(const EngineID& id) const;
    void release(const std::filesystem::path& destination);

    const FormatRegistry m_registry;
    std::unordered_map<EngineID, std::shared_ptr<const ConversionEngine>> m_engines;
    const std::shared_ptr<const FileManagerService> m_files;
    const int m_processorCount;

    mutable std::mutex m_mutex;                     // serialises planning; guards m_reserved
    std::multiset<std::filesystem::path> m_reserved;  // destinations of jobs planned and not yet finished
    mutable JobSlots m_slots;                       // the user's cap on jobs at once
    mutable std::atomic<int> m_writing{0};          // jobs whose engines are running now
};

}  // namespace kolvex
