// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PdfSplit.h"

#include <algorithm>

#include "core/engines/pdf/PageFileNaming.h"
#include "core/engines/pdf/QpdfDocument.h"
#include "core/services/Cancellation.h"
#include "core/services/FileManagerService.h"
#include "core/services/OutputProjection.h"
#include "core/services/StagedOutputSet.h"

namespace kolvex {

namespace fs = std::filesystem;

std::vector<fs::path> PdfSplit::write(qpdf_bridge::Document& document, const ConversionJob& job,
                                      const ProgressCallback& progress, std::stop_token stop) {
    const int count = qpdf_bridge::pageCount(document);
    if (count < 2) throw ConversionError::unsupportedCombination("a one-page PDF", "several files");

    StagedOutputSet parts(job.destination);
    std::vector<fs::path> outputs;
    std::vector<fs::path> staged;
    outputs.reserve(static_cast<size_t>(count));
    staged.reserve(static_cast<size_t>(count));
    for (int index = 0; index < count; ++index) {
        outputs.push_back(PageFileNaming::splitURL(job.destination, index + 1, count));
        staged.push_back(parts.add(outputs.back()));
    }

    // The parts written so far tell what the set will take: a set that cannot fit is refused
    // after its first parts, and a full disk names what the whole set needs.
    const FileManagerService& files = FileManagerService::shared();
    OutputProjection projection(count, files.availableCapacity(job.destination));
    try {
        for (int index = 0; index < count; ++index) {
            throwIfStopRequested(stop);
            const auto at = static_cast<size_t>(index);
            int64_t bytes = 0;
            QpdfDocument::writePageStaged(document, index, staged[at], outputs[at], &bytes);
            // In the blocks the volume gives each part: thousands of small parts take far more
            // than their bytes.
            projection.add(std::max(bytes, files.allocatedSize(staged[at]).value_or(bytes)));
            if (progress) progress(0.15 + static_cast<double>(index + 1) * 0.8 / count);
            projection.refuseIfBeyondRoom();
        }
    } catch (const ConversionError& error) {
        throw projection.settle(error);
    } catch (const OperationCancelled&) {
        throw ConversionError::cancelled();
    }
    parts.commit();
    if (progress) progress(1.0);
    return parts.destinations();
}

}  // namespace kolvex
