#include "core/engines/pdf/PdfPageTools.h"

#include <algorithm>
#include <cmath>
#include <set>


#include "core/conversion/CompressionGuard.h"
#include "core/engines/pdf/PageFileNaming.h"
#include "core/engines/pdf/PageImageWriter.h"
#include "core/engines/pdf/PopplerDocument.h"
#include "core/engines/pdf/QpdfDocument.h"
#include "core/services/Cancellation.h"

namespace kolvex {

namespace {

void report(const ProgressCallback& progress, double fraction) {
    if (progress) progress(fraction);
}

}  // namespace

int PdfPageTools::rotationStep(double rotation) {
    if (!std::isfinite(rotation)) return 0;
    double angle = std::fmod(rotation, 360.0);
    if (angle < 0) angle += 360.0;
    if (angle >= 360.0) angle = 0;
    const long quarters = std::lround(angle / 90.0);
    return static_cast<int>((quarters * 90) % 360);
}

std::vector<int> PdfPageTools::selectedPages(const ConversionJob& job, int pageCount) {
    std::set<int> requested;
    if (job.options.pageRange) {
        for (int64_t index : *job.options.pageRange) {
            if (index >= 0 && index < pageCount) requested.insert(static_cast<int>(index));
        }
    } else {
        for (int index = 0; index < pageCount; ++index) requested.insert(index);
    }
    if (requested.empty()) throw ConversionError::unsupportedCombination("page selection", "a document with pages");
    if (!job.options.invertPageSelection) return {requested.begin(), requested.end()};

    std::vector<int> kept;
    for (int index = 0; index < pageCount; ++index) {
        if (!requested.contains(index)) kept.push_back(index);
    }
    if (kept.empty()) throw ConversionError::unsupportedCombination("deleting every page", "a document with pages");
    return kept;
}

std::vector<std::filesystem::path> PdfPageTools::applyTool(const std::string& tool, const ConversionJob& job,
                                                           const ProgressCallback& progress, std::stop_token stop) {
    QpdfDocument::Handle document = QpdfDocument::open(job.source);
    report(progress, 0.15);

    try {
        if (tool == "rotate") {
            rotate(*document, job, progress, stop);
            QpdfDocument::write(*document, job.destination);
            report(progress, 1.0);
            return {job.destination};
        }
        if (tool == "extract-pages") {
            extractPages(*document, job, progress, stop);
            return {job.destination};
        }
        if (tool == "split") return splitPages(*document, job, progress, stop);
        if (tool == "compress") {
            compress(*document, job, progress, stop);
            return {job.destination};
        }
        if (tool == "strip-metadata") {
            stripMetadata(*document, job);
            report(progress, 1.0);
            return {job.destination};
        }
        if (tool == "merge") {
            std::vector<std::filesystem::path> sources = job.allSources();
            return {mergeAll(sources, job.destination, progress, stop)};
        }
    } catch (const ConversionError&) {
        throw;
    } catch (const OperationCancelled&) {
        throw;
    } catch (const std::exception&) {
        // qpdf meets some damage only while it copies or turns pages.
        throw ConversionError::corruptedInput(job.source);
    }
    throw ConversionError::unsupportedCombination(job.from.label, tool);
}

void PdfPageTools::rotate(qpdf_bridge::Document& document, const ConversionJob& job, const ProgressCallback& progress,
                          std::stop_token stop) {
    const int step = rotationStep(job.options.rotation.value_or(0.0));
    const int count = qpdf_bridge::pageCount(document);
    for (int index = 0; index < count; ++index) {
        throwIfStopRequested(stop);
        report(progress, 0.15 + static_cast<double>(index + 1) * 0.7 / count);
    }
    qpdf_bridge::rotatePages(document, step);
}

void PdfPageTools::extractPages(qpdf_bridge::Document& document, const ConversionJob& job,
                                const ProgressCallback& progress, std::stop_token stop) {
    const std::vector<int> selection = selectedPages(job, qpdf_bridge::pageCount(document));
    auto extracted = QpdfDocument::makeEmpty();
    size_t inserted = 0;
    for (int index : selection) {
        throwIfStopRequested(stop);
        qpdf_bridge::appendPage(*extracted, document, index);
        ++inserted;
        report(progress, 0.15 + static_cast<double>(inserted) * 0.7 / static_cast<double>(selection.size()));
    }
    QpdfDocument::write(*extracted, job.destination);
    report(progress, 1.0);
}

std::vector<std::filesystem::path> PdfPageTools::splitPages(qpdf_bridge::Document& document, const ConversionJob& job,
                                                            const ProgressCallback& progress, std::stop_token stop) {
    const int count = qpdf_bridge::pageCount(document);
    if (count < 2) throw ConversionError::unsupportedCombination("a one-page PDF", "several files");

    // Every part is staged first and the set committed at the end: a failure, a cancel or a kill
    // part-way leaves no part under its final name.
    std::vector<std::filesystem::path> outputs;
    std::vector<StagedOutput> staged;
    for (int index = 0; index < count; ++index) {
        if (stop.stop_requested()) throw ConversionError::cancelled();
        auto single = QpdfDocument::makeEmpty();
        qpdf_bridge::appendPage(*single, document, index);
        const std::filesystem::path url = PageFileNaming::splitURL(job.destination, index + 1, count);
        staged.push_back(QpdfDocument::stage(*single, url));
        outputs.push_back(url);
        report(progress, 0.15 + static_cast<double>(index + 1) * 0.8 / count);
    }
    StagedOutput::commitAll(staged);
    report(progress, 1.0);
    return outputs;
}

void PdfPageTools::compress(qpdf_bridge::Document& document, const ConversionJob& job,
                            const ProgressCallback& progress, std::stop_token stop) {
    const double quality = job.options.quality.value_or(0.5);
    const double scale =
        job.options.dpi ? static_cast<double>(std::max<int64_t>(*job.options.dpi, 1)) / 72.0 : 2.0;

    const int count = qpdf_bridge::pageCount(document);
    PopplerDocument renderer = PopplerDocument::load(QpdfDocument::mediaBoxCopy(job.source));
    const bool canRender = renderer.status() == PopplerDocument::Status::opened && renderer.pageCount() == count;

    auto compressed = QpdfDocument::makeEmpty();
    for (int index = 0; index < count; ++index) {
        throwIfStopRequested(stop);
        const auto box = qpdf_bridge::mediaBox(document, index);
        bool replaced = false;
        if (canRender && box) {
            const double width = std::max(1.0, std::round(((*box)[2] - (*box)[0]) * scale));
            const double height = std::max(1.0, std::round(((*box)[3] - (*box)[1]) * scale));
            if (PopplerDocument::fitsBitmapCap(static_cast<int64_t>(std::min(width, 1e12)),
                                               static_cast<int64_t>(std::min(height, 1e12)))) {
                try {
                    PageBitmap bitmap = renderer.render(index, scale, static_cast<int>(width), static_cast<int>(height));
                    qpdf_bridge::PicturePage page;
                    page.mediaBox = *box;
                    // The picture is drawn unrotated, so the page keeps its turn to look as it did.
                    page.rotation = qpdf_bridge::rotation(document, index);
                    page.placement = {(*box)[2] - (*box)[0], 0, 0, (*box)[3] - (*box)[1], (*box)[0], (*box)[1]};
                    page.pixelWidth = bitmap.width;
                    page.pixelHeight = bitmap.height;
                    page.colourSpace = "/DeviceRGB";
                    page.filter = "/DCTDecode";
                    page.samples = std::make_shared<const std::string>(PageImageWriter::encodeJpeg(bitmap, quality));
                    qpdf_bridge::appendPicturePage(*compressed, page);
                    replaced = true;
                } catch (const std::runtime_error&) {
                    replaced = false;
                }
            }
        }
        // A page that cannot be drawn stays in the output as it was, never dropped.
        if (!replaced) qpdf_bridge::appendPage(*compressed, document, index);
        report(progress, 0.15 + static_cast<double>(index + 1) * 0.75 / count);
    }
    if (qpdf_bridge::pageCount(*compressed) == 0) {
        throw ConversionError::backendFailure("pdf", -1, "no pages could be re-rendered");
    }
    StagedOutput output = QpdfDocument::stage(*compressed, job.destination);
    CompressionGuard::keepSmaller(job, output.path());
    output.commit();
    report(progress, 1.0);
}

void PdfPageTools::stripMetadata(qpdf_bridge::Document& document, const ConversionJob& job) {
    qpdf_bridge::stripMetadata(document);
    QpdfDocument::write(document, job.destination);
}

std::filesystem::path PdfPageTools::mergeAll(const std::vector<std::filesystem::path>& sources,
                                             const std::filesystem::path& destination,
                                             const ProgressCallback& progress, std::stop_token stop) {
    if (sources.size() < 2) throw ConversionError::unsupportedCombination("one file", "a merged PDF");

    // The merged document refers to its sources' objects until it is written.
    std::vector<QpdfDocument::Handle> opened;
    auto merged = QpdfDocument::makeEmpty();
    for (size_t position = 0; position < sources.size(); ++position) {
        throwIfStopRequested(stop);
        opened.push_back(QpdfDocument::open(sources[position]));
        try {
            const int pages = qpdf_bridge::pageCount(*opened.back());
            for (int index = 0; index < pages; ++index) qpdf_bridge::appendPage(*merged, *opened.back(), index);
        } catch (const std::exception&) {
            throw ConversionError::corruptedInput(sources[position]);
        }
        report(progress, static_cast<double>(position + 1) / static_cast<double>(sources.size()));
    }
    QpdfDocument::write(*merged, destination);
    return destination;
}

}  // namespace kolvex
