// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <stop_token>
#include <vector>

#include "core/format/ConversionJob.h"

namespace kolvex {

// Reports the fraction done, 0…1. May be called from any thread.
using ProgressCallback = std::function<void(double)>;

// What one conversion produced, and how.
struct ConversionOutcome {
    std::vector<std::filesystem::path> outputs;
    // Every output was made by copying the source's streams as they are, not by re-encoding.
    bool usedPassthrough = false;
    // One sentence for the user about the result (what the output does not carry), if any.
    std::optional<std::string> note;
    // The source already was what the job asks (a resize that would not shrink it): nothing
    // was written, and `note` says why.
    bool leftAsItIs = false;
};

// What every engine implements. Engines are shared by concurrent jobs: convert() must be
// safe to call from several worker threads at once. Proxies (an engine loaded on first use, one
// id served by two engines) forward every call: nothing here has a body of its own.
class ConversionEngine {
public:
    virtual ~ConversionEngine() = default;

    virtual EngineID id() const = 0;
    // Whether this engine can carry out the job as planned.
    virtual bool canHandle(const ConversionJob& job) const = 0;
    // Runs on a worker thread and blocks. Writes at job.destination, reports progress, returns
    // the files written in order. Throws ConversionError for what it can classify, and
    // OperationCancelled when `stop` is requested; partial outputs are removed first.
    virtual std::vector<std::filesystem::path> convert(const ConversionJob& job, const ProgressCallback& progress,
                                                       std::stop_token stop) const = 0;
    // Whether the engine itself, before it writes anything of `job`, makes sure the output's
    // volume has room for what the job writes, projected from its own plan (and, where its plan
    // tells nothing, for what the source's size asks: JobRoom::bySourceSize). The coordinator
    // then leaves that check to it; otherwise it asks the source's size of the volume itself.
    virtual bool checksRoom(const ConversionJob& job) const = 0;
    // convert(), also saying how the outputs were made: whether the source's encoded data was
    // kept as it was, what the output leaves out, or that the source was left as it is. The
    // coordinator calls this one.
    virtual ConversionOutcome convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                               std::stop_token stop) const = 0;
};

// An engine that does what the job's plan says and nothing it would have to tell: its outputs
// were copied exactly when the plan allowed a copy, and carry no note.
class PlanReportingEngine : public ConversionEngine {
public:
    ConversionOutcome convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                       std::stop_token stop) const override {
        auto outputs = convert(job, progress, std::move(stop));
        return {std::move(outputs), job.canPassthrough(), std::nullopt};
    }
};

}  // namespace kolvex
