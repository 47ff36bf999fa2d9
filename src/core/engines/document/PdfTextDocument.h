// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <stop_token>
#include <string>
#include <string_view>

#include "core/conversion/ConversionEngine.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

// Turns the text layer of a PDF (page texts with a line break after every printed line, pages
// joined by an empty line) into a text document: paragraphs are rebuilt from the printed lines,
// then written as plain text, Markdown, DOCX, HTML or RTF in the regular 11-point font.
// Pure except write(); safe from any thread.
class PdfTextDocument {
public:
    PdfTextDocument() = delete;

    // Paragraphs rebuilt from printed lines, each on one line, joined by an empty line. A line
    // joins the paragraph before it unless that paragraph ends a sentence, is still shorter than
    // the long-line threshold (82 % of the 90th-percentile line length, at least 24 characters),
    // holds two spaces in a row, or the line itself holds two spaces in a row or starts a block.
    // A word hyphenated at a line end is mended when the next line starts in lower case.
    // A text without any non-empty line comes back unchanged.
    static std::string reflow(std::string_view text);

    // Whether a line opens a list item or a new block: a bullet or dash, or a short marker of
    // digits or roman numerals followed by ". " or ") " within its first six characters.
    static bool startsNewBlock(std::string_view line);

    // Writes the reflowed text of `pagesText` as the job's target ("txt", "md", "docx", "html",
    // "rtf") at job.destination and returns it; the page appears only when complete. Throws
    // unsupportedCombination for any other target. Matches the PDF engine's text writer seam.
    // Runs on the job's worker thread; blocks while the DOCX archiver runs.
    static std::filesystem::path write(const ConversionJob& job, const std::string& pagesText, const ProgressCallback& progress,
                                       std::stop_token stop);
};

}  // namespace kolvex
