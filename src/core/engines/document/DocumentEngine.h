// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <memory>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "core/conversion/ConversionEngine.h"
#include "core/engines/document/RichDocument.h"

namespace kolvex {

// Converts text documents in process: reads plain text, RTF, HTML, DOCX, Markdown or CSV into a
// rich document (structure and all) and writes it as PDF, plain text, RTF, HTML, Markdown or DOCX
// at the job's destination. Keeps no state between jobs; convert() may run on several worker
// threads at once. Documents need a QGuiApplication to exist (the application has one; tests
// make one on the offscreen platform).
class DocumentEngine final : public ConversionEngine {
public:
    // Sources larger than this are refused as damaged: a text this size is far beyond what the
    // page cap of a PDF or any editor would take, and reading it must not exhaust memory.
    static constexpr uintmax_t kMaxSourceBytes = 64ull << 20;

    DocumentEngine() = default;

    // The tool ids the engine accepts: "strip-metadata" (an ordinary rewrite).
    static const std::set<std::string>& supportedTools();
    // "pdf", "txt", "rtf", "html", "md", "docx".
    static bool canWrite(const Format& format);

    EngineID id() const override { return m_id; }
    bool canHandle(const ConversionJob& job) const override;
    // Leaves the room check before the job to the coordinator.
    bool checksRoom(const ConversionJob&) const override { return false; }
    // Reports 0.1, 0.45 and 1.0. Throws corruptedInput for a source it cannot read,
    // unsupportedCombination for one past a stated bound (too many paragraphs, marks or pages),
    // backendFailure("document", -1, "wrote an empty document") for an empty text output (nothing is written),
    // OperationCancelled before reading or writing, or between PDF pages.
    std::vector<std::filesystem::path> convert(const ConversionJob& job, const ProgressCallback& progress,
                                               std::stop_token stop) const override;
    // As convert(); the note says what the reader had to leave out (pictures it could not read).
    ConversionOutcome convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                       std::stop_token stop) const override;

    // The file as a rich document, read the way its format's id asks: plain text in any common
    // encoding, Markdown and CSV as UTF-8 (a byte-order mark accepted), RTF, HTML and DOCX with
    // their structure. What was left out (a picture that cannot be decoded) is logged. Throws
    // corruptedInput(url), or DocumentLimitError for a source past a stated bound. Needs a
    // QGuiApplication; the document belongs to the calling thread.
    static std::unique_ptr<RichDocument> read(const std::filesystem::path& url, const Format& format);
    // Letter pages with 72-point margins; a document longer than the page cap is refused whole.
    static std::filesystem::path writePDF(RichDocument& document, const std::filesystem::path& url, std::stop_token stop = {});
    // Markdown with inline marks, headings, list markers and pipe tables, written atomically as UTF-8.
    static std::filesystem::path writeMarkdown(const RichDocument& document, const std::filesystem::path& url);

private:
    EngineID m_id{"document"};
};

}  // namespace kolvex
