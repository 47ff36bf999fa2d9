#pragma once

#include <filesystem>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "core/conversion/ConversionEngine.h"
#include "core/engines/pdf/QpdfBridge.h"
#include "core/engines/pdf/QpdfDocument.h"

namespace kolvex {

// The PDF page tools, each writing new PDFs with qpdf. Stateless; any thread; each call works
// on its own documents.
struct PdfPageTools {
    // Opens `job.source`, reports 0.15 and runs the job's tool. Throws ConversionError (the
    // errors of QpdfDocument::open and ::write among them), OperationCancelled when stopped.
    static std::vector<std::filesystem::path> applyTool(const std::string& tool, const ConversionJob& job,
                                                        const ProgressCallback& progress, std::stop_token stop);

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
    static void extractPages(qpdf_bridge::Document& document, const ConversionJob& job, const ProgressCallback& progress,
                             std::stop_token stop);
    static std::vector<std::filesystem::path> splitPages(qpdf_bridge::Document& document, const ConversionJob& job,
                                                         const ProgressCallback& progress, std::stop_token stop);
    static void compress(qpdf_bridge::Document& document, const ConversionJob& job, const ProgressCallback& progress,
                         std::stop_token stop);
    static void stripMetadata(qpdf_bridge::Document& document, const ConversionJob& job);
};

}  // namespace kolvex
