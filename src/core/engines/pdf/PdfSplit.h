// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <stop_token>
#include <vector>

#include "core/conversion/ConversionEngine.h"
#include "core/engines/pdf/QpdfBridge.h"

namespace kolvex {

// Splits a PDF into one document per page, "<destination stem>-<n>.pdf" beside the destination.
// Every part is staged in one hidden folder and the set committed at the end: a failure, a cancel
// or a kill part-way leaves no part under its final name. The parts are written one after the
// other on the job's thread: more threads, each with its own copy of the source (a qpdf document
// is one thread's), cost more than they saved at every page count measured (up to 10,000 pages),
// as they queue for the allocator's two arenas and for the one folder's lock.
struct PdfSplit {
    // `document` is `job.source`, opened; progress runs from 0.15 to 1. Throws
    // unsupportedCombination for a one-page document, cancelled when stopped, insufficientDiskSpace
    // when the parts do not fit (as soon as the first ones show it), the errors of
    // QpdfDocument::writeStaged, and std::exception where qpdf meets damage.
    static std::vector<std::filesystem::path> write(qpdf_bridge::Document& document, const ConversionJob& job,
                                                    const ProgressCallback& progress, std::stop_token stop);
};

}  // namespace kolvex
