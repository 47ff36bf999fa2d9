#include "core/engines/document/DocumentEngine.h"

#include <system_error>

#include "core/engines/document/CSVFormatter.h"
#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/DocxReader.h"
#include "core/engines/document/HtmlReader.h"
#include "core/engines/document/MarkdownReader.h"
#include "core/engines/document/OOXMLWriter.h"
#include "core/engines/document/SourceFile.h"
#include "core/services/StagedOutput.h"
#include "core/engines/document/PdfLayoutWriter.h"
#include "core/engines/document/RtfReader.h"
#include "core/engines/document/TextWriters.h"
#include "core/engines/document/UnicodeText.h"
#include "core/services/Cancellation.h"
#include "core/services/FileManagerService.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

const char* const kWritable[] = {"pdf", "txt", "rtf", "html", "md", "docx"};

// The source decoded as UTF-8 (a byte-order mark dropped); anything else is damaged.
std::string readUtf8(const fs::path& url) {
    std::string bytes = readSourceFile(url, DocumentEngine::kMaxSourceBytes);
    if (!unicode::isValidUtf8(bytes)) throw ConversionError::corruptedInput(url);
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
    return bytes;
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

StyledText DocumentEngine::read(const fs::path& url, const Format& format) {
    const std::string& id = format.id.rawValue;
    try {
        if (id == "md") return MarkdownReader::parseInline(readUtf8(url));
        if (id == "csv") {
            TextAttributes attributes;
            attributes.font = TextFont::monospacedSystem(10);
            return StyledText(CSVFormatter::asPlainTable(readUtf8(url)), attributes);
        }
        if (id == "docx") return DocxReader::read(url);
        if (id == "rtf") return RtfReader::read(readSourceFile(url, kMaxSourceBytes));
        if (id == "html") return HtmlReader::read(readSourceFile(url, kMaxSourceBytes));
        TextAttributes attributes;
        attributes.font = TextFont::system();
        return StyledText(readUtf8(url), attributes);
    } catch (const DocumentFormatError&) {
        throw ConversionError::corruptedInput(url);
    }
}

void DocumentEngine::writePDF(const StyledText& text, const fs::path& url, std::stop_token stop) {
    PdfLayoutWriter::write(text, url, std::move(stop));
}

void DocumentEngine::writeMarkdown(const StyledText& text, const fs::path& url) {
    StagedOutput::writeAtomically(url, text_writers::markdown(text));
}

std::vector<fs::path> DocumentEngine::convert(const ConversionJob& job, const ProgressCallback& progress,
                                              std::stop_token stop) const {
    auto report = [&](double fraction) {
        if (progress) progress(fraction);
    };
    throwIfStopRequested(stop);
    report(0.1);
    const StyledText text = read(job.source, job.from);
    throwIfStopRequested(stop);
    report(0.45);

    const std::string& target = job.to.id.rawValue;
    if (target == "pdf") {
        writePDF(text, job.destination, stop);
    } else if (target == "txt") {
        StagedOutput::writeAtomically(job.destination, text.plainText());
    } else if (target == "md") {
        writeMarkdown(text, job.destination);
    } else if (target == "docx") {
        OOXMLWriter::write(text, job.destination, stop);
    } else if (target == "rtf") {
        StagedOutput::writeAtomically(job.destination, text_writers::rtf(text));
    } else if (target == "html") {
        const std::string page = text_writers::html(text, paths::stem(job.source));
        StagedOutput::writeAtomically(job.destination, text_writers::insertViewport(page, false));
    } else {
        throw ConversionError::unsupportedCombination(job.from.label, job.to.label);
    }
    report(1.0);

    const std::optional<int64_t> size = FileManagerService::shared().size(job.destination);
    if (!size || *size < 1) {
        std::error_code ignored;
        fs::remove(job.destination, ignored);
        throw ConversionError::backendFailure(m_id.rawValue, -1, "wrote an empty document");
    }
    return {job.destination};
}

}  // namespace kolvex
