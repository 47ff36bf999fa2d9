#include "core/engines/pdf/PdfPageTools.h"

#include <algorithm>
#include <cmath>
#include <set>

#include <fmt/format.h>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

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

std::vector<QPDFPageObjectHelper> pagesOf(QPDF& document) {
    QPDFPageDocumentHelper helper(document);
    // Pages copied into other documents must carry what they inherit from the page tree.
    helper.pushInheritedAttributesToPage();
    return helper.getAllPages();
}

void removeAll(const std::vector<std::filesystem::path>& files) {
    for (const auto& file : files) {
        std::error_code ec;
        std::filesystem::remove(file, ec);
    }
}

// The page's /Rotate as a multiple of 90 in 0…270.
int rotationOf(QPDFPageObjectHelper& page) {
    QPDFObjectHandle rotate = page.getAttribute("/Rotate", false);
    if (!rotate.isInteger()) return 0;
    const long long value = rotate.getIntValue();
    const long long folded = ((value % 360) + 360) % 360;
    return static_cast<int>(folded - folded % 90);
}

std::string number(double value) { return fmt::format("{:.6g}", value); }

// A page showing only `jpeg` stretched over the media box `box` of the page it replaces.
QPDFObjectHandle picturePage(QPDF& document, const QPDFObjectHandle::Rectangle& box, int rotation,
                             std::shared_ptr<const std::string> jpeg, int pixelWidth, int pixelHeight) {
    QPDFObjectHandle image = QpdfDocument::newStream(document, std::move(jpeg), "/DCTDecode");
    QPDFObjectHandle imageDictionary = image.getDict();
    imageDictionary.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    imageDictionary.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    imageDictionary.replaceKey("/Width", QPDFObjectHandle::newInteger(pixelWidth));
    imageDictionary.replaceKey("/Height", QPDFObjectHandle::newInteger(pixelHeight));
    imageDictionary.replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceRGB"));
    imageDictionary.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));

    const double width = box.urx - box.llx;
    const double height = box.ury - box.lly;
    auto contents = std::make_shared<const std::string>(fmt::format("q {} 0 0 {} {} {} cm /Im0 Do Q\n", number(width),
                                                                    number(height), number(box.llx), number(box.lly)));
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Im0", image);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);

    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    page.replaceKey("/MediaBox", QPDFObjectHandle::newArray(box));
    // The picture is drawn unrotated, so the page keeps its turn to look as it did.
    if (rotation != 0) page.replaceKey("/Rotate", QPDFObjectHandle::newInteger(rotation));
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", QpdfDocument::newStream(document, std::move(contents), ""));
    return document.makeIndirectObject(page);
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
    std::shared_ptr<QPDF> document = QpdfDocument::open(job.source);
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

void PdfPageTools::rotate(QPDF& document, const ConversionJob& job, const ProgressCallback& progress,
                          std::stop_token stop) {
    const int step = rotationStep(job.options.rotation.value_or(0.0));
    auto pages = pagesOf(document);
    const double count = static_cast<double>(pages.size());
    for (size_t index = 0; index < pages.size(); ++index) {
        throwIfStopRequested(stop);
        if (step != 0) pages[index].rotatePage(step, true);
        report(progress, 0.15 + static_cast<double>(index + 1) * 0.7 / count);
    }
}

void PdfPageTools::extractPages(QPDF& document, const ConversionJob& job, const ProgressCallback& progress,
                                std::stop_token stop) {
    auto pages = pagesOf(document);
    const std::vector<int> selection = selectedPages(job, static_cast<int>(pages.size()));

    auto extracted = QpdfDocument::makeEmpty();
    QPDFPageDocumentHelper target(*extracted);
    size_t inserted = 0;
    for (int index : selection) {
        throwIfStopRequested(stop);
        target.addPage(pages[static_cast<size_t>(index)], false);
        ++inserted;
        report(progress, 0.15 + static_cast<double>(inserted) * 0.7 / static_cast<double>(selection.size()));
    }
    QpdfDocument::write(*extracted, job.destination);
    report(progress, 1.0);
}

std::vector<std::filesystem::path> PdfPageTools::splitPages(QPDF& document, const ConversionJob& job,
                                                            const ProgressCallback& progress, std::stop_token stop) {
    auto pages = pagesOf(document);
    const int count = static_cast<int>(pages.size());
    if (count < 2) throw ConversionError::unsupportedCombination("a one-page PDF", "several files");

    std::vector<std::filesystem::path> outputs;
    try {
        for (int index = 0; index < count; ++index) {
            if (stop.stop_requested()) throw ConversionError::cancelled();
            auto single = QpdfDocument::makeEmpty();
            QPDFPageDocumentHelper(*single).addPage(pages[static_cast<size_t>(index)], false);
            const std::filesystem::path url = PageFileNaming::splitURL(job.destination, index + 1, count);
            QpdfDocument::write(*single, url);
            outputs.push_back(url);
            report(progress, 0.15 + static_cast<double>(index + 1) * 0.8 / count);
        }
    } catch (...) {
        // A split that fails part-way leaves no pages behind, just as a cancelled one.
        removeAll(outputs);
        throw;
    }
    report(progress, 1.0);
    return outputs;
}

void PdfPageTools::compress(QPDF& document, const ConversionJob& job, const ProgressCallback& progress,
                            std::stop_token stop) {
    const double quality = job.options.quality.value_or(0.5);
    const double scale =
        job.options.dpi ? static_cast<double>(std::max<int64_t>(*job.options.dpi, 1)) / 72.0 : 2.0;

    auto pages = pagesOf(document);
    const int count = static_cast<int>(pages.size());
    PopplerDocument renderer = PopplerDocument::load(QpdfDocument::mediaBoxCopy(job.source));
    const bool canRender =
        renderer.status() == PopplerDocument::Status::opened && renderer.pageCount() == count;

    auto compressed = QpdfDocument::makeEmpty();
    QPDFPageDocumentHelper target(*compressed);
    for (int index = 0; index < count; ++index) {
        throwIfStopRequested(stop);
        QPDFPageObjectHelper& page = pages[static_cast<size_t>(index)];
        QPDFObjectHandle mediaBox = page.getMediaBox();
        bool replaced = false;
        if (canRender && mediaBox.isRectangle()) {
            const QPDFObjectHandle::Rectangle box = mediaBox.getArrayAsRectangle();
            const double width = std::max(1.0, std::round((box.urx - box.llx) * scale));
            const double height = std::max(1.0, std::round((box.ury - box.lly) * scale));
            if (PopplerDocument::fitsBitmapCap(static_cast<int64_t>(std::min(width, 1e12)),
                                               static_cast<int64_t>(std::min(height, 1e12)))) {
                try {
                    PageBitmap bitmap =
                        renderer.render(index, scale, static_cast<int>(width), static_cast<int>(height));
                    auto jpeg = std::make_shared<const std::string>(PageImageWriter::encodeJpeg(bitmap, quality));
                    target.addPage(QPDFPageObjectHelper(picturePage(*compressed, box, rotationOf(page), std::move(jpeg),
                                                                    bitmap.width, bitmap.height)),
                                   false);
                    replaced = true;
                } catch (const std::runtime_error&) {
                    replaced = false;
                }
            }
        }
        // A page that cannot be drawn stays in the output as it was, never dropped.
        if (!replaced) target.addPage(page, false);
        report(progress, 0.15 + static_cast<double>(index + 1) * 0.75 / count);
    }
    if (QpdfDocument::pageCount(*compressed) == 0) {
        throw ConversionError::backendFailure("pdf", -1, "no pages could be re-rendered");
    }
    QpdfDocument::write(*compressed, job.destination);
    CompressionGuard::keepSmaller(job, job.destination);
    report(progress, 1.0);
}

void PdfPageTools::stripMetadata(QPDF& document, const ConversionJob& job) {
    document.getTrailer().removeKey("/Info");
    document.getRoot().removeKey("/Metadata");
    QpdfDocument::write(document, job.destination);
}

std::filesystem::path PdfPageTools::mergeAll(const std::vector<std::filesystem::path>& sources,
                                             const std::filesystem::path& destination,
                                             const ProgressCallback& progress, std::stop_token stop) {
    if (sources.size() < 2) throw ConversionError::unsupportedCombination("one file", "a merged PDF");

    // The merged document refers to its sources' objects until it is written.
    std::vector<std::shared_ptr<QPDF>> opened;
    auto merged = QpdfDocument::makeEmpty();
    QPDFPageDocumentHelper target(*merged);
    for (size_t position = 0; position < sources.size(); ++position) {
        throwIfStopRequested(stop);
        opened.push_back(QpdfDocument::open(sources[position]));
        try {
            for (auto& page : pagesOf(*opened.back())) target.addPage(page, false);
        } catch (const std::exception&) {
            throw ConversionError::corruptedInput(sources[position]);
        }
        report(progress, static_cast<double>(position + 1) / static_cast<double>(sources.size()));
    }
    QpdfDocument::write(*merged, destination);
    return destination;
}

}  // namespace kolvex
