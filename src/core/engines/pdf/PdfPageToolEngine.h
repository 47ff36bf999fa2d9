// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <stop_token>
#include <vector>

#include "core/conversion/ConversionEngine.h"
#include "core/engines/pdf/PdfPageTools.h"

namespace kolvex {

// The PDF engine's page tools that need qpdf alone (PdfPageTools::tools(): every tool but
// compress), as an engine of their own, so that a program loading engines on demand can run them
// without poppler and libvips. Carries them out exactly as PDFEngine does. Stateless: `convert`
// may run on several worker threads at once.
class PdfPageToolEngine final : public PlanReportingEngine {
public:
    // Whether `job` is one of these tools on a PDF; answered without loading anything.
    static bool takes(const ConversionJob& job) {
        return job.options.tool && job.from.id.rawValue == "pdf" && PdfPageTools::tools().contains(*job.options.tool);
    }

    EngineID id() const override { return engine_ids::pdf; }
    bool canHandle(const ConversionJob& job) const override { return takes(job); }
    // Leaves the room check before the job to the coordinator.
    bool checksRoom(const ConversionJob&) const override { return false; }
    std::vector<std::filesystem::path> convert(const ConversionJob& job, const ProgressCallback& progress,
                                               std::stop_token stop) const override;
};

}  // namespace kolvex
