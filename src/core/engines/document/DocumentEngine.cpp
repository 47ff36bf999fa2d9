// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/DocumentEngine.h"

#include <fmt/format.h>

#include "core/engines/document/CSVFormatter.h"
#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/DocxReader.h"
#include "core/engines/document/HtmlReader.h"
#include "core/engines/document/MarkdownReader.h"
#include "core/engines/document/OOXMLWriter.h"
#include "core/engines/document/PdfLayoutWriter.h"
#include "core/engines/document/RtfReader.h"
#include "core/engines/document/SourceFile.h"
#include "core/engines/document/TextDecoding.h"
#include "core/engines/document/TextSystem.h"
#include "core/engines/document/TextWriters.h"
#include "core/services/Cancellation.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"
#include "core/services/StagedOutput.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

const char* const kWritable[] = {"pdf", "txt", "rtf", "html", "md", "docx"};

// Markdown and CSV are UTF-8 by definition (a byte-order mark is accepted); anything else is damaged.
std::string readUtf8(const fs::path& url) {
    std::optional<std::string> text = text_decoding::utf8WithoutBom(readSourceFile(url, DocumentEngine::kMaxSourceBytes));
    if (!text) throw ConversionError::corruptedInput(url);
    return std::move(*text);
}

std::unique_ptr<RichDocument> readDocument(const fs::path& url, const std::string& id) {
    if (id == "md") return richDocument(MarkdownReader::parseInline(readUtf8(url)));
    if (id == "csv") {
        TextAttributes attributes;
        attributes.font = TextFont::monospacedSystem(10);
        return richDocument(StyledText(CSVFormatter::asPlainTable(readUtf8(url)), attributes));
    }
    if (id == "docx") return DocxReader::read(url);
    if (id == "rtf") return RtfReader::readDocument(readSourceFile(url, DocumentEngine::kMaxSourceBytes));
    if (id == "html") return HtmlReader::read(readSourceFile(url, DocumentEngine::kMaxSourceBytes));
    std::optional<std::string> text = text_decoding::anyToUtf8(readSourceFile(url, DocumentEngine::kMaxSourceBytes));
    if (!text) throw ConversionError::corruptedInput(url);
    TextAttributes attributes;
    attributes.font = TextFont::system();
    return richDocument(StyledText(std::move(*text), attributes));
}

}  // namespace

const std::set<std::string>& DocumentEngine::supportedTools() {
    static const std::set<std::string> tools{"strip-metadata"};
    return tools;
}

bool DocumentEngine::canWrite(const Format& format) {
    for (const char* id : kWritable)
        if (format.id.rawValue == id) return true;
    return false;
}

bool DocumentEngine::canHandle(const ConversionJob& job) const {
    if (job.options.tool && !supportedTools().contains(*job.options.tool)) return false;
    if (job.from.category != FormatCategory::document) return false;
    return canWrite(job.to);
}

std::unique_ptr<RichDocument> DocumentEngine::read(const fs::path& url, const Format& format) {
    requireTextSystem();
    std::unique_ptr<RichDocument> document;
    try {
        document = readDocument(url, format.id.rawValue);
    } catch (const DocumentDepthError& depth) {
        throw ConversionError::beyondLimit(url, depth.what());
    } catch (const DocumentFormatError&) {
        throw ConversionError::corruptedInput(url);
    }
    for (const std::string& note : document->notes()) Log::engine().warn("{}: {}", paths::lastComponent(url), note);
    return document;
}

fs::path DocumentEngine::writePDF(RichDocument& document, const fs::path& url, std::stop_token stop) {
    return PdfLayoutWriter::write(document, url, std::move(stop));
}

fs::path DocumentEngine::writeMarkdown(const RichDocument& document, const fs::path& url) {
    return StagedOutput::writeAtomically(url, text_writers::markdown(document));
}

std::vector<fs::path> DocumentEngine::convert(const ConversionJob& job, const ProgressCallback& progress,
                                              std::stop_token stop) const {
    return convertReporting(job, progress, std::move(stop)).outputs;
}

ConversionOutcome DocumentEngine::convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                                   std::stop_token stop) const {
    auto report = [&](double fraction) {
        if (progress) progress(fraction);
    };
    throwIfStopRequested(stop);
    report(0.1);
    std::unique_ptr<RichDocument> document;
    try {
        document = read(job.source, job.from);
    } catch (const DocumentLimitError& limit) {
        throw ConversionError::unsupportedCombination(limit.what(), job.to.label);
    }
    throwIfStopRequested(stop);
    report(0.45);

    // A text output with nothing in it is refused before anything is written, so an empty file
    // never appears under the final name.
    const auto writeText = [&](const std::string& bytes) {
        if (bytes.empty()) throw ConversionError::backendFailure(m_id.rawValue, -1, "wrote an empty document");
        return StagedOutput::writeAtomically(job.destination, bytes);
    };
    const std::string& target = job.to.id.rawValue;
    fs::path written;
    if (target == "pdf") {
        written = writePDF(*document, job.destination, stop);
    } else if (target == "txt") {
        written = writeText(text_writers::plainText(*document));
    } else if (target == "md") {
        written = writeText(text_writers::markdown(*document));
        // Markdown here keeps text only (a picture would need a file beside it to point at).
        const int pictures = document->pictureCount();
        if (pictures == 1) document->addNote("A picture was left out (Markdown keeps only the text).");
        else if (pictures > 1) document->addNote(fmt::format("{} pictures were left out (Markdown keeps only the text).", pictures));
    } else if (target == "docx") {
        written = OOXMLWriter::write(*document, job.destination, stop);
    } else if (target == "rtf") {
        written = writeText(text_writers::rtf(*document));
    } else if (target == "html") {
        written = writeText(text_writers::insertViewport(text_writers::html(*document, paths::stem(job.source)), false));
    } else {
        throw ConversionError::unsupportedCombination(job.from.label, job.to.label);
    }
    report(1.0);

    std::optional<std::string> note;
    for (const std::string& line : document->notes()) note = note ? *note + " " + line : line;
    return {{written}, false, std::move(note)};
}

}  // namespace kolvex
