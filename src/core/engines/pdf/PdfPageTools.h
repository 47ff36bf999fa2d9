// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "core/conversion/ConversionEngine.h"
#include "core/engines/pdf/QpdfBridge.h"
#include "core/engines/pdf/QpdfDocument.h"

namespace kolvex {

// The PDF page tools that need qpdf alone, each writing new PDFs. Stateless; any thread; each
// call works on its own documents.
struct PdfPageTools {
    // The tools here. Defined in this header, so that what decides where a job goes can ask
    // without linking qpdf.
    static const std::set<std::string>& tools() {
        static const std::set<std::string> ids{"rotate", "extract-pages", "split", "merge", "strip-metadata"};
        return ids;
    }

    // Runs the job's tool through withSource. Throws ConversionError (the errors of
    // QpdfDocument::open and ::write among them; unsupportedCombination for a tool not here),
    // OperationCancelled when stopped.
    static std::vector<std::filesystem::path> applyTool(const std::string& tool, const ConversionJob& job,
                                                        const ProgressCallback& progress, std::stop_token stop);

    // Opens `job.source`, reports 0.15 and returns what `work` makes of it. Damage that qpdf meets
    // only while it works becomes ConversionError::corruptedInput(job.source).
    using Work = std::function<std::vector<std::filesystem::path>(QpdfDocument::Handle& document)>;
    static std::vector<std::filesystem::path> withSource(const ConversionJob& job, const ProgressCallback& progress,
                                                         const Work& work);

    // The angle a "rotate" applies for `rotation` degrees: quarter turns, halves away from zero.
    static int rotationStep(double rotation);

    // The page indices "extract-pages" keeps, ascending. Throws the two selection errors.
    static std::vector<int> selectedPages(const ConversionJob& job, int pageCount);

    // Joins the PDFs in the order given into `destination`. Throws unsupportedCombination for
    // fewer than two files, corruptedInput/insufficientPermissions naming a bad input. `first`,
    // when given, is sources[0] already opened: no file is read twice.
    static std::filesystem::path mergeAll(const std::vector<std::filesystem::path>& sources,
                                          const std::filesystem::path& destination, const ProgressCallback& progress,
                                          std::stop_token stop, QpdfDocument::Handle first = nullptr);

private:
    static void rotate(qpdf_bridge::Document& document, const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop);
    static std::filesystem::path extractPages(qpdf_bridge::Document& document, const ConversionJob& job, const ProgressCallback& progress,
                             std::stop_token stop);
    static std::filesystem::path stripMetadata(qpdf_bridge::Document& document, const ConversionJob& job);
};

}  // namespace kolvex
