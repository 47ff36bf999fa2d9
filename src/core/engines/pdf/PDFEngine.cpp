// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PDFEngine.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "core/engines/image/ImageFormatTable.h"
#include "core/engines/image/ImageLimits.h"
#include "core/engines/pdf/ImageToPdf.h"
#include "core/engines/pdf/PageFileNaming.h"
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
    return renderPages(job, progress, stop);
}

std::vector<std::filesystem::path> PDFEngine::renderPages(const ConversionJob& job, const ProgressCallback& progress,
                                                          std::stop_token stop) const {
    PopplerDocument document = PopplerDocument::load(job.source);
    if (document.status() == PopplerDocument::Status::unreadable) throw ConversionError::corruptedInput(job.source);
    if (document.status() == PopplerDocument::Status::locked) throw ConversionError::passwordProtected(job.source);
    const int count = document.pageCount();
    if (count < 1) throw ConversionError::corruptedInput(job.source);
    if (job.to.contentTypes.empty()) throw ConversionError::unsupportedCombination(job.from.label, job.to.label);

    const double scale = job.options.dpi ? static_cast<double>(std::max<int64_t>(*job.options.dpi, 1)) / 72.0
                                         : static_cast<double>(defaultDPI) / 72.0;

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

            const double width = std::round(size->width * scale);
            const double height = std::round(size->height * scale);
            if (!(width >= 1) || !(height >= 1)) throw ConversionError::corruptedInput(url);
            if (!PopplerDocument::fitsBitmapCap(static_cast<int64_t>(std::min(width, 1e12)),
                                                static_cast<int64_t>(std::min(height, 1e12)))) {
                throw ConversionError::backendFailure(
                    "pdf", -1,
                    fmt::format("page {} is too large to render ({:.0f} × {:.0f} pixels); choose a lower resolution",
                                index + 1, width, height));
            }
            // A page larger than the format holds is refused with the limit, before it is drawn.
            if (const image::ImageCodec* codec = image::ImageFormatTable::writable(job.to); codec && codec->maxSide == 0) {
                if (auto refusal = image::ImageLimits::sizeRefusal(*codec, job.to.label, static_cast<int64_t>(width),
                                                                   static_cast<int64_t>(height))) {
                    throw ConversionError::unsupportedCombination(
                        fmt::format("{} page {} ({:.0f} × {:.0f} px)", job.source.filename().string(), index + 1, width,
                                    height),
                        *refusal);
                }
            }
            // Drawn only once the batch has room for the bitmap.
            writer.reserve(static_cast<int>(width), static_cast<int>(height), stop);
            PageBitmap bitmap;
            try {
                bitmap = document.render(index, scale, static_cast<int>(width), static_cast<int>(height));
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
