// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PDFEngine.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "core/engines/image/ImageFormatTable.h"
#include "core/engines/pdf/ImageToPdf.h"
#include "core/engines/pdf/PageFileNaming.h"
#include "core/engines/pdf/PageFit.h"
#include "core/engines/pdf/PageImageWriter.h"
#include "core/engines/pdf/PdfCompressor.h"
#include "core/engines/pdf/ParallelPageWriter.h"
#include "core/engines/pdf/PdfPageTools.h"
#include "core/engines/pdf/PopplerDocument.h"
#include "core/engines/pdf/QpdfDocument.h"
#include "core/services/Cancellation.h"
#include "core/services/OutputProjection.h"

namespace kolvex {

const std::set<std::string>& PDFEngine::supportedTools() {
    static const std::set<std::string> tools{"compress", "rotate", "split", "extract-pages", "merge", "strip-metadata"};
    return tools;
}

const std::set<std::string>& PDFEngine::textTargets() {
    static const std::set<std::string> targets{"txt", "docx", "html", "rtf", "md"};
    return targets;
}

PDFEngine::PDFEngine(const FileManagerService& files, PdfTextDocumentWriter textWriter)
    : m_files(&files), m_textWriter(std::move(textWriter)) {}

bool PDFEngine::canHandle(const ConversionJob& job) const {
    if (job.options.tool) return job.from.id.rawValue == "pdf" && supportedTools().contains(*job.options.tool);
    if (job.from.category == FormatCategory::image) return job.to.id.rawValue == "pdf";
    if (job.from.id.rawValue != "pdf") return false;
    if (textTargets().contains(job.to.id.rawValue)) return static_cast<bool>(m_textWriter);
    return job.to.category == FormatCategory::image && PageImageWriter::canWrite(job.to);
}

std::vector<std::filesystem::path> PDFEngine::convert(const ConversionJob& job, const ProgressCallback& progress,
                                                      std::stop_token stop) const {
    if (job.options.tool == "compress") {
        return PdfPageTools::withSource(job, progress, [&](QpdfDocument::Handle& document) {
            return std::vector<std::filesystem::path>{PdfCompressor::compress(*document, job, progress, stop)};
        });
    }
    if (job.options.tool) return PdfPageTools::applyTool(*job.options.tool, job, progress, stop);
    if (job.from.id.rawValue != "pdf") return {imageToPDF(job, progress, stop)};
    if (textTargets().contains(job.to.id.rawValue)) return {extractDocument(job, progress, stop)};
    std::optional<std::string> note;
    return renderPages(job, progress, stop, note);
}

ConversionOutcome PDFEngine::convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                              std::stop_token stop) const {
    if (job.options.tool || job.from.id.rawValue != "pdf" || textTargets().contains(job.to.id.rawValue))
        return {convert(job, progress, std::move(stop)), job.canPassthrough(), std::nullopt};
    ConversionOutcome outcome;
    outcome.outputs = renderPages(job, progress, std::move(stop), outcome.note);
    outcome.usedPassthrough = job.canPassthrough();
    return outcome;
}

std::vector<std::filesystem::path> PDFEngine::renderPages(const ConversionJob& job, const ProgressCallback& progress,
                                                          std::stop_token stop, std::optional<std::string>& note) const {
    QpdfDocument::refuseTooDeep(job.source);
    PopplerDocument document = PopplerDocument::load(job.source);
    if (document.status() == PopplerDocument::Status::unreadable) throw ConversionError::corruptedInput(job.source);
    if (document.status() == PopplerDocument::Status::locked) throw ConversionError::passwordProtected(job.source);
    const int count = document.pageCount();
    if (count < 1) throw ConversionError::corruptedInput(job.source);
    if (job.to.contentTypes.empty()) throw ConversionError::unsupportedCombination(job.from.label, job.to.label);

    const double scale = job.options.dpi ? static_cast<double>(std::max<int64_t>(*job.options.dpi, 1)) / 72.0
                                         : static_cast<double>(defaultDPI) / 72.0;

    const image::ImageCodec* codec = image::ImageFormatTable::writable(job.to);
    std::vector<std::pair<int, PageFit>> fitted;

    // Pages are drawn one at a time under the poppler lock and encoded on other threads. Every
    // page is staged first and the set committed at the end: a failure, a cancel or a kill
    // part-way leaves no page under its final name.
    std::vector<std::filesystem::path> outputs;
    std::vector<StagedOutput> staged;
    // The pages written so far tell what the set will take: a set that cannot fit is refused
    // after its first pages, and a full disk names what the whole set needs.
    OutputProjection projection(count, m_files->availableCapacity(job.destination));
    try {
        ParallelPageWriter writer(
            [&job, &projection, this](const PageBitmap& bitmap, const std::filesystem::path& url) {
                StagedOutput page = PageImageWriter::stage(bitmap, job.to, url, job.options.quality);
                projection.add(m_files->size(page.path()).value_or(0));
                return page;
            },
            ParallelPageWriter::defaultWorkers());
        for (int index = 0; index < count; ++index) {
            if (stop.stop_requested()) throw ConversionError::cancelled();
            // Each page as viewers show it: its crop box, turned by its /Rotate.
            const auto size = document.shownSize(index);
            if (!size) continue;
            const std::filesystem::path url = PageFileNaming::pageURL(job, index + 1, count, outputs);

            // A page larger than a page bitmap may be, or than the format holds, is drawn at the
            // largest resolution that fits, and the note says so; the other pages keep theirs.
            const PageFit fit = PageFit::of(size->width, size->height, scale, codec, job.to.label);
            if (fit.wantedWidth < 1 || fit.wantedHeight < 1) throw ConversionError::corruptedInput(url);
            if (!fit.drawable()) {
                throw ConversionError::unsupportedCombination(
                    fmt::format("{} page {} ({} × {} px)", job.source.filename().string(), index + 1, fit.wantedWidth,
                                fit.wantedHeight),
                    fmt::format("{}, as {}", job.to.label, fit.limit));
            }
            if (fit.fitted()) fitted.push_back({index + 1, fit});
            const int width = fit.width;
            const int height = fit.height;
            // Drawn only once the batch has room for the bitmap.
            writer.reserve(width, height, stop);
            PageBitmap bitmap;
            try {
                bitmap = document.render(index, fit.scale, width, height);
            } catch (const std::runtime_error&) {
                throw ConversionError::backendFailure("pdf", -1, "could not create page bitmap");
            }
            outputs.push_back(url);
            writer.submit(std::move(bitmap), url);
            if (progress) progress(static_cast<double>(index + 1) / count);
            projection.refuseIfBeyondRoom();
        }
        staged = writer.finish();
    } catch (const ConversionError& error) {
        // A page that met the full volume said what it takes itself.
        throw projection.settle(error, error.required());
    }
    if (outputs.empty()) throw ConversionError::backendFailure("pdf", -1, "no pages rendered");
    StagedOutput::commitAll(staged);
    // A page whose name was taken meanwhile went under the next free one.
    outputs.clear();
    for (const auto& page : staged) outputs.push_back(page.destination());
    if (!fitted.empty()) {
        note = fitted.front().second.note(fitted.front().first, job.source.filename().string());
        if (fitted.size() == 2) *note += " 1 more page is drawn smaller to fit too.";
        if (fitted.size() > 2) *note += fmt::format(" {} more pages are drawn smaller to fit too.", fitted.size() - 1);
    }
    return outputs;
}

std::filesystem::path PDFEngine::imageToPDF(const ConversionJob& job, const ProgressCallback& progress,
                                            std::stop_token stop) const {
    throwIfStopRequested(stop);
    if (progress) progress(0.1);
    const double pointsPerPixel = job.options.dpi
                                      ? 72.0 / static_cast<double>(std::max<int64_t>(*job.options.dpi, 1))
                                      : 72.0 / static_cast<double>(defaultDPI);
    const auto written = ImageToPdf::write(job.source, job.destination, pointsPerPixel, progress, stop);
    if (progress) progress(1.0);
    std::error_code ec;
    if (!std::filesystem::exists(written, ec)) {
        throw ConversionError::backendFailure("pdf", -1, "PDF context produced no file");
    }
    return written;
}

std::filesystem::path PDFEngine::extractDocument(const ConversionJob& job, const ProgressCallback& progress,
                                                 std::stop_token stop) const {
    if (!m_textWriter) throw ConversionError::unsupportedCombination(job.from.label, job.to.label);
    const std::string text = PdfTextExtractor::extractTextContent(job, stop);
    if (progress) progress(0.7);
    std::filesystem::path written = m_textWriter(job, text, progress, stop);
    if (progress) progress(1.0);
    return written;
}

}  // namespace kolvex
