#pragma once

#include <filesystem>
#include <stop_token>
#include <vector>

#include "core/conversion/ConversionEngine.h"
#include "core/engines/pdf/QpdfBridge.h"

namespace kolvex {

// Splits a PDF into one document per page, "<destination stem>-<n>.pdf" beside the destination.
// Every part is staged in one hidden folder and the set committed at the end: a failure, a cancel
// or a kill part-way leaves no part under its final name. A long document is written by a few
// threads at once, each reading its own copy of the source (a qpdf document is one thread's).
struct PdfSplit {
    // `document` is `job.source`, opened; progress runs from 0.15 to 1. Throws
    // unsupportedCombination for a one-page document, cancelled when stopped, the errors of
    // QpdfDocument::open and ::writeStaged, and std::exception where qpdf meets damage.
    static std::vector<std::filesystem::path> write(qpdf_bridge::Document& document, const ConversionJob& job,
                                                    const ProgressCallback& progress, std::stop_token stop);

    // Helper threads for `pages` pages: none for a short document, at most one per
    // kPagesPerThread and never more than pageWorkers().
    static int helperThreads(int pages);
    static constexpr int kPagesPerThread = 8;
};

}  // namespace kolvex
