#include "core/engines/pdf/PdfPageToolEngine.h"

#include "core/engines/pdf/PdfPageTools.h"

namespace kolvex {

bool PdfPageToolEngine::canHandle(const ConversionJob& job) const {
    return job.options.tool && job.from.id.rawValue == "pdf" && PdfPageTools::tools().contains(*job.options.tool);
}

std::vector<std::filesystem::path> PdfPageToolEngine::convert(const ConversionJob& job, const ProgressCallback& progress,
                                                              std::stop_token stop) const {
    if (!canHandle(job)) throw ConversionError::unsupportedCombination(job.from.label, job.options.tool.value_or(job.to.label));
    return PdfPageTools::applyTool(*job.options.tool, job, progress, std::move(stop));
}

}  // namespace kolvex
