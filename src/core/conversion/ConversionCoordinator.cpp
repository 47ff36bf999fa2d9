// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversion/ConversionCoordinator.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "core/conversion/JobRoom.h"
#include "core/conversion/ResizePlan.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"
#include "core/services/ErrorMapper.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"
#include "core/services/StagedOutput.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

std::vector<ConversionResult> failEveryFile(const std::vector<fs::path>& urls, const ConversionError& error) {
    std::vector<ConversionResult> results;
    results.reserve(urls.size());
    for (const auto& url : urls) {
        ConversionResult result;
        result.id = Uuid::random();
        result.source = url;
        result.error = error;
        results.push_back(std::move(result));
    }
    return results;
}

}  // namespace

// ---- Construction ----------------------------------------------------------------------------

ConversionCoordinator::ConversionCoordinator(FormatRegistry registry, const Engines& engines,
                                             std::shared_ptr<const FileManagerService> files,
                                             std::optional<int> processorCount)
    : m_registry(std::move(registry)),
      m_files(files ? std::move(files) : sharedFiles()),
      m_processorCount(processorCount ? *processorCount : activeProcessorCount()) {
    for (const auto& engine : engines) {
        if (!engine) throw std::invalid_argument("A conversion engine is missing");
        if (!m_engines.emplace(engine->id(), engine).second) {
            throw std::invalid_argument("Two conversion engines share the id " + engine->id().rawValue);
        }
    }
}

fs::path ConversionCoordinator::nameKey(const fs::path& path) { return path.lexically_normal(); }

std::shared_ptr<const FileManagerService> ConversionCoordinator::sharedFiles() {
    // The shared service lives for the whole process; the pointer does not own it.
    return std::shared_ptr<const FileManagerService>(&FileManagerService::shared(), [](const FileManagerService*) {});
}

const std::vector<EngineID>& ConversionCoordinator::toolEnginePreference() {
    static const std::vector<EngineID> order{engine_ids::image, engine_ids::audio, engine_ids::pdf,
                                             engine_ids::document, engine_ids::archive, engine_ids::ffmpeg};
    return order;
}

const ConversionEngine* ConversionCoordinator::engine(const EngineID& id) const {
    auto it = m_engines.find(id);
    return it == m_engines.end() ? nullptr : it->second.get();
}

// ---- Planning --------------------------------------------------------------------------------

std::vector<ConversionJob> ConversionCoordinator::plan(const ConversionIntent& intent) const {
    std::lock_guard lock(m_mutex);
    return planLocked(intent);
}

std::vector<ConversionJob> ConversionCoordinator::plan(const ToolIntent& intent) const {
    std::lock_guard lock(m_mutex);
    return planLocked(intent);
}

bool ConversionCoordinator::isReservedLocked(const fs::path& path) const { return m_reserved.contains(nameKey(path)); }

std::vector<ConversionJob> ConversionCoordinator::planLocked(const ConversionIntent& intent) const {
    const auto target = m_registry.format(intent.target);
    if (!target) throw ConversionError::unsupportedCombination("unknown", intent.target.rawValue);
    if (intent.urls.empty()) return {};

    // Two sources with the same stem (photo.png, photo.tiff → JPEG) must not share a name.
    std::set<fs::path> planned;
    const Taken taken = [&](const fs::path& p) { return planned.contains(nameKey(p)) || isReservedLocked(p); };

    std::vector<ConversionJob> jobs;
    jobs.reserve(intent.urls.size());
    for (const auto& url : intent.urls) {
        const auto from = m_registry.formatFor(url);
        if (!from) throw ConversionError::unsupportedCombination(paths::extension(url), target->label);
        const auto candidates = m_registry.capabilities(from->id, target->id);
        if (candidates.empty()) throw ConversionError::unsupportedCombination(from->label, target->label);
        // An unregistered engine (ffmpeg before it is attached) is planned all the same and
        // fails when executed.
        auto capability = std::find_if(candidates.begin(), candidates.end(),
                                       [&](const ConversionCapability& c) { return m_engines.contains(c.engine); });
        if (capability == candidates.end()) capability = candidates.begin();

        const fs::path destination = m_files->destination(url, target->extensionFor(url), intent.outputDirectory,
                                                          Preferences::ConflictBehaviour::rename, taken);
        planned.insert(nameKey(destination));
        const auto own = intent.optionsByCategory.find(from->category);
        jobs.emplace_back(url, std::vector<fs::path>{}, destination, *from, *target, *capability,
                          own != intent.optionsByCategory.end() ? own->second : intent.options);
    }
    return jobs;
}

std::vector<ConversionJob> ConversionCoordinator::planLocked(const ToolIntent& intent) const {
    const auto tool = m_registry.tool(intent.tool);
    if (!tool) throw ConversionError::unsupportedCombination("file", intent.tool);

    const bool containerOnly = ConversionOptions::containerOnlyTools().contains(intent.tool);
    ConversionOptions options = intent.options;
    options.tool = intent.tool;
    options.allowPassthrough = containerOnly && intent.options.allowPassthrough;
    if (intent.tool == "strip-metadata") options.preserveMetadata = false;

    auto outputFormat = [&](const Format& reference) -> Format {
        if (options.outputFormat) {
            if (auto format = m_registry.format(*options.outputFormat)) return *format;
        }
        if (tool->outputFormat) {
            if (auto format = m_registry.format(*tool->outputFormat)) return *format;
        }
        return reference;
    };

    std::set<fs::path> planned;
    const Taken taken = [&](const fs::path& p) { return planned.contains(nameKey(p)) || isReservedLocked(p); };

    // The first engine, in preference order, that takes the job as built for it.
    auto chooseEngine = [&](const fs::path& source, const std::vector<fs::path>& additional, const fs::path& destination,
                            const Format& from, const Format& to, bool passthroughPossible) -> std::optional<ConversionJob> {
        for (const EngineID& id : toolEnginePreference()) {
            const ConversionEngine* candidate = engine(id);
            if (!candidate) continue;
            ConversionCapability capability{from.id, to.id, id, ConversionCost::inProcess, passthroughPossible};
            ConversionJob job(source, additional, destination, from, to, capability, options);
            if (candidate->canHandle(job)) return job;
        }
        return std::nullopt;
    };

    std::vector<ConversionJob> jobs;
    if (!tool->foldsInputs) {
        if (intent.urls.empty()) return {};
        jobs.reserve(intent.urls.size());
        for (const auto& url : intent.urls) {
            const auto from = m_registry.formatFor(url);
            if (!from) throw ConversionError::unsupportedCombination(paths::extension(url), tool->label);
            if (!tool->categories.contains(from->category))
                throw ConversionError::unsupportedCombination(from->label, tool->label);
            const Format to = outputFormat(*from);
            const fs::path destination = m_files->destination(url, to.extensionFor(url), intent.outputDirectory,
                                                              Preferences::ConflictBehaviour::rename, taken);
            auto job = chooseEngine(url, {}, destination, *from, to, containerOnly);
            if (!job) throw ConversionError::unsupportedCombination(from->label, tool->label);
            planned.insert(nameKey(destination));
            jobs.push_back(std::move(*job));
        }
        return jobs;
    }

    if (intent.urls.size() < 2)
        throw ConversionError::unsupportedCombination("a single file", tool->label + " \u2014 select several files");
    const auto from = m_registry.formatFor(intent.urls.front());
    if (!from) throw ConversionError::unsupportedCombination("file", tool->label);
    if (!tool->categories.contains(from->category)) throw ConversionError::unsupportedCombination(from->label, tool->label);
    std::set<FormatCategory> categories;
    for (const auto& url : intent.urls) {
        if (auto format = m_registry.formatFor(url)) categories.insert(format->category);
    }
    if (categories.size() > 1) throw ConversionError::unsupportedCombination("a mixed selection", tool->label);

    const Format to = outputFormat(*from);
    const fs::path& first = intent.urls.front();
    const fs::path destination = m_files->destination(first, to.extensionFor(first), intent.outputDirectory,
                                                      Preferences::ConflictBehaviour::rename, taken);
    const std::vector<fs::path> additional(intent.urls.begin() + 1, intent.urls.end());
    auto job = chooseEngine(intent.urls.front(), additional, destination, *from, to, false);
    if (!job) throw ConversionError::unsupportedCombination(from->label, tool->label);
    jobs.push_back(std::move(*job));
    return jobs;
}

// ---- Submission ------------------------------------------------------------------------------

std::vector<ConversionResult> ConversionCoordinator::submit(const ConversionIntent& intent,
                                                            const BatchProgressCallback& progress, std::stop_token stop) {
    return submitIntent(intent, progress, std::move(stop));
}

std::vector<ConversionResult> ConversionCoordinator::submit(const ToolIntent& intent, const BatchProgressCallback& progress,
                                                            std::stop_token stop) {
    return submitIntent(intent, progress, std::move(stop));
}

template <typename Intent>
std::vector<ConversionResult> ConversionCoordinator::submitIntent(const Intent& intent,
                                                                  const BatchProgressCallback& progress,
                                                                  std::stop_token stop) {
    std::vector<ConversionJob> jobs;
    {
        std::lock_guard lock(m_mutex);
        try {
            jobs = planLocked(intent);
        } catch (const ConversionError& error) {
            return failEveryFile(intent.urls, error);
        } catch (const std::exception& error) {
            return failEveryFile(intent.urls, ConversionError::backendFailure("coordinator", -1, error.what()));
        }
        // Until each job ends, later requests treat its name as taken.
        for (const auto& job : jobs) m_reserved.insert(nameKey(job.destination));
    }
    std::vector<ConversionResult> skipped = skipTakenNames(jobs, intent.rules, intent.outputDirectory);
    std::vector<ConversionResult> results = runBatch(jobs, progress, std::move(stop), true, intent.rules.parallelLimit);
    results.insert(results.end(), std::make_move_iterator(skipped.begin()), std::make_move_iterator(skipped.end()));
    return results;
}

void ConversionCoordinator::release(const fs::path& destination) {
    std::lock_guard lock(m_mutex);
    auto it = m_reserved.find(nameKey(destination));
    if (it != m_reserved.end()) m_reserved.erase(it);
}

// ---- Running a batch -------------------------------------------------------------------------

int ConversionCoordinator::activeProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return count;
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

int ConversionCoordinator::concurrencyLimit(const std::vector<ConversionJob>& jobs, int processorCount) {
    for (const auto& job : jobs) {
        if (job.capability.cost == ConversionCost::subprocess) return 2;
        if (job.from.category == FormatCategory::video) return 2;
    }
    return std::clamp(processorCount, 2, 8);
}

int ConversionCoordinator::concurrencyLimit(const std::vector<ConversionJob>& jobs) const {
    return concurrencyLimit(jobs, m_processorCount);
}

std::vector<ConversionResult> ConversionCoordinator::run(const std::vector<ConversionJob>& jobs,
                                                         const BatchProgressCallback& progress, std::stop_token stop) {
    return runBatch(jobs, progress, std::move(stop), false);
}

std::vector<ConversionResult> ConversionCoordinator::runBatch(const std::vector<ConversionJob>& jobs,
                                                              const BatchProgressCallback& progress,
                                                              std::stop_token stop, bool releaseReservations,
                                                              int parallelLimit) {
    if (jobs.empty()) return {};
    const int count = static_cast<int>(jobs.size());
    const int limit = std::min(parallelLimit > 0 ? parallelLimit : concurrencyLimit(jobs), count);
    BatchProgressTracker tracker(count, progress);

    // Workers take the next unstarted job when they finish one, so at most `limit` run at once;
    // each appends its result as it finishes, which keeps the results in completion order. The
    // calling thread is one of the workers: a one-file batch starts no thread at all.
    std::mutex resultsMutex;
    std::vector<ConversionResult> results;
    results.reserve(jobs.size());
    std::atomic<int> nextToStart{0};

    auto work = [&] {
        for (;;) {
            const int index = nextToStart.fetch_add(1);
            if (index >= count) return;
            const ConversionJob& job = jobs[static_cast<size_t>(index)];
            ConversionResult result;
            {
                // The user's cap holds across requests: a job waits for a slot before it starts.
                const JobSlots::Held slot(m_slots, parallelLimit, stop);
                if (slot.taken()) {
                    result = executeGuarded(job, index, tracker, stop);
                } else {
                    result.id = job.id;
                    result.source = job.source;
                    result.error = ConversionError::cancelled();
                }
            }
            if (releaseReservations) release(job.destination);
            {
                std::lock_guard lock(resultsMutex);
                results.push_back(std::move(result));
            }
            tracker.update(index, 1.0);
        }
    };

    {
        std::vector<std::jthread> helpers;
        helpers.reserve(static_cast<size_t>(limit - 1));
        for (int i = 1; i < limit; ++i) {
            try {
                helpers.emplace_back(work);
            } catch (const std::system_error& error) {
                // Fewer workers only make the batch slower.
                Log::conversion().error("Could not start a conversion worker: {}", error.what());
                break;
            }
        }
        work();
    }  // joins the helpers
    tracker.finishAll();
    return results;
}

// ---- One job ---------------------------------------------------------------------------------

ConversionResult ConversionCoordinator::executeGuarded(const ConversionJob& job, int index, BatchProgressTracker& tracker,
                                                       const std::stop_token& stop) const {
    // An engine whose canHandle throws must not take the worker thread (and the process) down.
    std::optional<ConversionError> error;
    try {
        return execute(job, index, tracker, {}, stop);
    } catch (const std::exception& thrown) {
        error = ConversionError::backendFailure(job.capability.engine.rawValue, -1, thrown.what());
    } catch (...) {
        error = ConversionError::backendFailure(job.capability.engine.rawValue, -1, "Unknown error");
    }
    ConversionResult result;
    result.id = job.id;
    result.source = job.source;
    result.error = std::move(error);
    return result;
}

ConversionResult ConversionCoordinator::execute(const ConversionJob& job, int index, BatchProgressTracker& tracker,
                                                std::set<EngineID> attempted, const std::stop_token& stop) const {
    const auto start = std::chrono::steady_clock::now();
    auto finish = [&](ConversionOutcome outcome, std::optional<ConversionError> error) {
        ConversionResult result;
        result.id = job.id;
        result.source = job.source;
        result.error = std::move(error);
        result.duration = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (result.error && result.error->kind() != ConversionError::Kind::cancelled)
            Log::conversion().error("{}\u2192{} of {} failed: {} {}", job.from.label, job.to.label,
                                    paths::lastComponent(job.source), result.error->shortDescription(),
                                    result.error->diagnosticDetail().value_or(""));
        if (result.error) return result;
        if (outcome.leftAsItIs) {
            // Not converted, by design: told beside the rest, neither a success nor a failure.
            result.skipped = true;
            result.note = std::move(outcome.note);
            // A resize says why from its options; any other tool from what its engine found.
            std::string because = ResizePlan::leftBecause(job.options);
            if (because.empty() && result.note) {
                constexpr std::string_view said = "Left as it is: ";
                because = result.note->starts_with(said) ? result.note->substr(said.size()) : *result.note;
            }
            result.leftAsItIs = ConversionResult::LeftAsItIs{job.options.tool.value_or(""), std::move(because)};
            return result;
        }
        result.outputs = std::move(outcome.outputs);
        // What ran, as the engine reports it: a plan to copy may still have had to re-encode.
        result.usedPassthrough = outcome.usedPassthrough;
        result.note = notice(job, result.outputs, *m_files);
        if (!result.note) result.note = std::move(outcome.note);
        return result;
    };

    // A job not begun when the batch was cancelled does not begin.
    if (stop.stop_requested()) return finish({}, ConversionError::cancelled());

    const EngineID& engineID = job.capability.engine;
    const ConversionEngine* planned = engine(engineID);
    if (!planned) {
        return finish({}, ConversionError::backendFailure(engineID.rawValue, -1, "No engine registered for " + engineID.rawValue));
    }

    if (!planned->canHandle(job)) {
        std::set<EngineID> tried = attempted;
        tried.insert(engineID);
        std::vector<ConversionCapability> candidates;
        for (auto& candidate : m_registry.capabilities(job.from.id, job.to.id)) {
            if (!tried.contains(candidate.engine)) candidates.push_back(std::move(candidate));
        }
        for (const auto& candidate : candidates) {
            const ConversionEngine* other = engine(candidate.engine);
            if (!other) continue;
            // The rerouted job keeps every source: a folded job must not lose its other files.
            ConversionJob rerouted(job.source, job.additionalSources, job.destination, job.from, job.to, candidate,
                                   job.options);
            if (!other->canHandle(rerouted)) {
                tried.insert(candidate.engine);
                continue;
            }
            Log::conversion().info("Rerouting {}\u2192{} to {}", job.from.label, job.to.label, candidate.engine.rawValue);
            return execute(rerouted, index, tracker, tried, stop);
        }
        return finish({}, ConversionError::unsupportedCombination(job.from.label, job.to.label));
    }

    ConversionOutcome outcome;
    std::optional<ConversionError> error;
    std::optional<int64_t> freeBefore;
    try {
        // A source that cannot be opened, or is no regular file (a FIFO would hang its reader), is
        // said to be unreadable here, before an engine opens it or calls it damaged.
        if (auto unreadable = ErrorMapper::unreadableSource(job)) throw *unreadable;
        if (!StagedOutput::fits(job.destination)) throw ConversionError::outputPathTooLong(job.destination);
        m_files->ensureWritable(job.destination);
        freeBefore = m_files->availableCapacity(job.destination);
        // An engine that projects what the job writes asks the volume for that itself: a trim
        // of a long film needs a sliver of the film's size. For the others the source's size
        // stands in.
        if (const auto size = m_files->size(job.source); size && !planned->checksRoom(job)) {
            const int64_t required = JobRoom::bySourceSize(*size);
            // While other jobs write, the room their partial files hold may come back, and a
            // guess from the source is no need to tell: the engine meets the disk itself and
            // says what the job writes.
            if (freeBefore && *freeBefore < required && m_writing.load() == 0)
                throw ConversionError::insufficientDiskSpace(required, *freeBefore);
        }
        ++m_writing;
        const struct Written {
            std::atomic<int>& count;
            ~Written() { --count; }
        } written{m_writing};
        outcome = planned->convertReporting(job, [&tracker, index](double fraction) { tracker.update(index, fraction); }, stop);
        if (outcome.outputs.empty() && !outcome.leftAsItIs) {
            error = ConversionError::backendFailure(planned->id().rawValue, -1, "The conversion finished without writing a file");
        }
    } catch (const ConversionError& thrown) {
        error = thrown;
        // A source that went away while the engine read it is not damaged.
        if (thrown.kind() == ConversionError::Kind::corruptedInput) error = ErrorMapper::unreadableSource(job).value_or(thrown);
    } catch (const OperationCancelled&) {
        error = ConversionError::cancelled();
    } catch (const std::system_error& thrown) {
        // A full disk, a refused write or a vanished folder reads the same from every engine.
        error = ErrorMapper::fromSystemError(thrown.code(), job, *m_files)
                    .value_or(ConversionError::backendFailure(planned->id().rawValue, -1, thrown.what()));
    } catch (const std::exception& thrown) {
        error = ConversionError::backendFailure(planned->id().rawValue, -1, thrown.what());
    } catch (...) {
        error = ConversionError::backendFailure(planned->id().rawValue, -1, "Unknown error");
    }
    // The engine has removed its partial output by now: the room it took is free again.
    if (error) error = ErrorMapper::settleDiskFull(*error, job, *m_files, freeBefore);

    return finish(std::move(outcome), std::move(error));
}

std::optional<std::string> ConversionCoordinator::notice(const ConversionJob& job, const std::vector<fs::path>& outputs,
                                                         const FileManagerService& files) {
    if (job.options.tool != std::optional<std::string>("compress")) return std::nullopt;
    if (job.from.id != job.to.id) return std::nullopt;
    if (outputs.empty()) return std::nullopt;
    const auto sourceSize = files.size(job.source);
    const auto outputSize = files.size(outputs.front());
    if (!sourceSize || !outputSize || *sourceSize < 1 || *outputSize < *sourceSize) return std::nullopt;
    return job.from.label + " was already as small as it gets \u2014 the original was kept.";
}

}  // namespace kolvex
