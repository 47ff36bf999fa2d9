// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "core/conversion/ConversionEngine.h"
#include "core/engines/pdf/PdfTextExtractor.h"
#include "core/services/FileManagerService.h"

namespace kolvex {

// The in-process engine for PDF documents: pages to image files, an image to a one-page PDF,
// the text layer to text documents (written by the document engine's writer), and the page
// tools (rotate, extract-pages, split, merge, strip-metadata, compress).
// Reading and rendering go through poppler under its process-wide lock, every PDF is written by
// qpdf (keeping the owner password and permissions of a restricted source; a PDF that needs a
// password to open is refused before any work), and page images are saved by libvips. Holds no mutable state: `convert`
// may run on several worker threads at once; each call blocks its thread.
class PDFEngine final : public ConversionEngine {
public:
    // Tools this engine carries out.
    static const std::set<std::string>& supportedTools();
    // Format ids the text extraction writes: "txt", "docx", "html", "rtf", "md".
    static const std::set<std::string>& textTargets();
    // Page rendering resolution, and the resolution an image is laid out at, without a dpi option.
    static constexpr int defaultDPI = 300;

    // `files` is kept for the engine's lifetime. Without a `textWriter`, PDFs to text targets
    // are not accepted.
    explicit PDFEngine(const FileManagerService& files = FileManagerService::shared(),
                       PdfTextDocumentWriter textWriter = {});

    EngineID id() const override { return engine_ids::pdf; }
    bool canHandle(const ConversionJob& job) const override;
    // Leaves the room check before the job to the coordinator.
    bool checksRoom(const ConversionJob&) const override { return false; }
    std::vector<std::filesystem::path> convert(const ConversionJob& job, const ProgressCallback& progress,
                                               std::stop_token stop) const override;
    // convert(), with a note when pages were drawn at a lower resolution than asked to fit.
    ConversionOutcome convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                       std::stop_token stop) const override;

    const FileManagerService& files() const { return *m_files; }

private:
    // PDF pages to image files, in page order. `note` tells of pages drawn smaller than asked.
    std::vector<std::filesystem::path> renderPages(const ConversionJob& job, const ProgressCallback& progress,
                                                   std::stop_token stop, std::optional<std::string>& note) const;
    // One image to a one-page PDF at the destination.
    std::filesystem::path imageToPDF(const ConversionJob& job, const ProgressCallback& progress,
                                     std::stop_token stop) const;
    // The text layer to a text document at the destination.
    std::filesystem::path extractDocument(const ConversionJob& job, const ProgressCallback& progress,
                                          std::stop_token stop) const;

    const FileManagerService* m_files;
    PdfTextDocumentWriter m_textWriter;
};

}  // namespace kolvex
