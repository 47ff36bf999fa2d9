#pragma once

#include <filesystem>
#include <stop_token>
#include <vector>

#include "core/conversion/ConversionEngine.h"

namespace kolvex {

// The PDF engine's page tools that need qpdf alone (PdfPageTools::tools(): every tool but
// compress), as an engine of their own, so that a program loading engines on demand can run them
// without poppler and libvips. Carries them out exactly as PDFEngine does. Stateless: `convert`
// may run on several worker threads at once.
class PdfPageToolEngine final : public ConversionEngine {
public:
    EngineID id() const override { return engine_ids::pdf; }
    bool canHandle(const ConversionJob& job) const override;
    std::vector<std::filesystem::path> convert(const ConversionJob& job, const ProgressCallback& progress,
                                               std::stop_token stop) const override;
};

}  // namespace kolvex
