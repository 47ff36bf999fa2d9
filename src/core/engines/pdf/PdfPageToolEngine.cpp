// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PdfPageToolEngine.h"

namespace kolvex {

std::vector<std::filesystem::path> PdfPageToolEngine::convert(const ConversionJob& job, const ProgressCallback& progress,
                                                              std::stop_token stop) const {
    if (!takes(job)) throw ConversionError::unsupportedCombination(job.from.label, job.options.tool.value_or(job.to.label));
    return PdfPageTools::applyTool(*job.options.tool, job, progress, std::move(stop));
}

}  // namespace kolvex
