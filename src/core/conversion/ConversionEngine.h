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
// safe to call from several worker threads at once.
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
    // Whether a job this engine carried out kept the source's encoded data as it was (a stream
    // copy). By default what the plan allowed; an engine that re-encodes some of those jobs anyway
    // says so. Asked after a success only, by the default convertReporting().
    virtual bool copiedEncodedData(const ConversionJob& job) const { return job.canPassthrough(); }
    // convert(), also saying how the outputs were made. The coordinator calls this one. Engines
    // that leave something out, or learn only while converting whether they copied, override it.
    virtual ConversionOutcome convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                               std::stop_token stop) const {
        auto outputs = convert(job, progress, std::move(stop));
        return {std::move(outputs), copiedEncodedData(job), std::nullopt};
    }
};

}  // namespace kolvex
