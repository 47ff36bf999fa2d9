// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>

#include "core/conversion/ConversionEngine.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

// Reads the text layer of a PDF, page by page, for the text targets of the PDF engine.
// Stateless; any thread (poppler is entered under its process-wide lock).
struct PdfTextExtractor {
    // The text of every page of `job.source` in reading order, a line break after each printed
    // line, pages joined by an empty line ("\n\n"); a page without text adds nothing, not even
    // the separator. Throws ConversionError::corruptedInput(source) when the file is no readable
    // PDF, passwordProtected(source) when it is locked, unsupportedCombination(from:
    // "<from.label> with no text layer", to: to.label) when no page has text (a scan), and
    // OperationCancelled when `stop` is requested between pages.
    static std::string extractTextContent(const ConversionJob& job, std::stop_token stop);
};

// Writes a PDF's extracted text (from PdfTextExtractor) as the job's text target at
// `job.destination` and returns that path. The document engine's library supplies it: it
// rebuilds paragraphs and writes txt, md, docx, html or rtf. Runs on the job's worker thread.
using PdfTextDocumentWriter = std::function<std::filesystem::path(
    const ConversionJob& job, const std::string& pagesText, const ProgressCallback& progress, std::stop_token stop)>;

}  // namespace kolvex
