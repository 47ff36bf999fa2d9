// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PdfPageTools.h"

#include <algorithm>
#include <cmath>
#include <atomic>
#include <future>
#include <set>
#include <thread>

#include "core/engines/pdf/PdfSplit.h"
#include "core/engines/pdf/QpdfDocument.h"
#include "core/services/Cancellation.h"
#include "core/services/ProcessMemory.h"

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

std::vector<std::filesystem::path> PdfPageTools::withSource(const ConversionJob& job, const ProgressCallback& progress,
                                                            const Work& work) {
    QpdfDocument::Handle document = QpdfDocument::open(job.source);
    report(progress, 0.15);
    try {
        auto outputs = work(document);
        ProcessMemory::release(std::move(document));
        return outputs;
    } catch (const ConversionError&) {
        throw;
    } catch (const OperationCancelled&) {
        throw;
    } catch (const qpdf_bridge::NestedTooDeeply& error) {
        throw QpdfDocument::nestedTooDeeply(job.source, error.nesting);
    } catch (const std::exception&) {
        // qpdf meets some damage only while it copies or turns pages.
        throw ConversionError::corruptedInput(job.source);
    }
}

std::vector<std::filesystem::path> PdfPageTools::applyTool(const std::string& tool, const ConversionJob& job,
                                                           const ProgressCallback& progress, std::stop_token stop) {
    return withSource(job, progress, [&](QpdfDocument::Handle& document) -> std::vector<std::filesystem::path> {
        if (tool == "rotate") {
            rotate(*document, job, progress, stop);
            const auto written = QpdfDocument::write(*document, job.destination, {.encryptionOf = document.get()});
            report(progress, 1.0);
            return {written};
        }
        if (tool == "extract-pages") return {extractPages(*document, job, progress, stop)};
        if (tool == "split") return PdfSplit::write(*document, job, progress, stop);
        if (tool == "strip-metadata") {
            const auto written = stripMetadata(*document, job);
            report(progress, 1.0);
            return {written};
        }
        if (tool == "merge") return {mergeAll(job.allSources(), job.destination, progress, stop, std::move(document))};
        throw ConversionError::unsupportedCombination(job.from.label, tool);
    });
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

std::filesystem::path PdfPageTools::extractPages(qpdf_bridge::Document& document, const ConversionJob& job,
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
    const auto written = QpdfDocument::write(*extracted, job.destination, {.encryptionOf = &document});
    report(progress, 1.0);
    return written;
}

std::filesystem::path PdfPageTools::stripMetadata(qpdf_bridge::Document& document, const ConversionJob& job) {
    qpdf_bridge::stripMetadata(document);
    return QpdfDocument::write(document, job.destination, {.encryptionOf = &document});
}

std::filesystem::path PdfPageTools::mergeAll(const std::vector<std::filesystem::path>& sources,
                                             const std::filesystem::path& destination,
                                             const ProgressCallback& progress, std::stop_token stop,
                                             QpdfDocument::Handle first) {
    if (sources.size() < 2) throw ConversionError::unsupportedCombination("one file", "a merged PDF");

    // The merged document refers to its sources' objects until it is written. It carries the
    // encryption and permissions of the first source that has any: a restriction on one part
    // is never lifted by merging it. While one source's pages are copied, a helper thread opens
    // and reads the next ones (a qpdf document is one thread's at a time: each is handed over
    // whole, through its future).
    std::vector<std::future<QpdfDocument::Handle>> later;
    std::vector<std::promise<QpdfDocument::Handle>> promised(sources.size());
    for (size_t position = 1; position < sources.size(); ++position) later.push_back(promised[position].get_future());
    std::atomic<bool> abandoned{false};
    std::jthread reader([&] {
        for (size_t position = 1; position < sources.size(); ++position) {
            try {
                if (abandoned || stop.stop_requested()) throw OperationCancelled();
                QpdfDocument::Handle document = QpdfDocument::open(sources[position]);
                qpdf_bridge::preload(*document);
                promised[position].set_value(std::move(document));
            } catch (...) {
                promised[position].set_exception(std::current_exception());
            }
        }
    });
    struct Abandon {
        std::atomic<bool>& abandoned;
        ~Abandon() { abandoned = true; }
    } abandon{abandoned};

    std::vector<QpdfDocument::Handle> opened;
    qpdf_bridge::Document* encrypted = nullptr;
    auto merged = QpdfDocument::makeEmpty();
    for (size_t position = 0; position < sources.size(); ++position) {
        throwIfStopRequested(stop);
        if (position == 0) {
            opened.push_back(first ? std::move(first) : QpdfDocument::open(sources[0]));
        } else {
            try {
                opened.push_back(later[position - 1].get());
            } catch (const ConversionError&) {
                throw;
            } catch (const OperationCancelled&) {
                throw;
            } catch (const std::exception&) {
                // Damage met while reading ahead: the source is opened again and fails, or not,
                // exactly where copying its pages would.
                opened.push_back(QpdfDocument::open(sources[position]));
            }
        }
        if (!encrypted && qpdf_bridge::isEncrypted(*opened.back())) encrypted = opened.back().get();
        try {
            qpdf_bridge::appendAllPages(*merged, *opened.back());
        } catch (const qpdf_bridge::NestedTooDeeply& error) {
            throw QpdfDocument::nestedTooDeeply(sources[position], error.nesting);
        } catch (const std::exception&) {
            throw ConversionError::corruptedInput(sources[position]);
        }
        report(progress, static_cast<double>(position + 1) / static_cast<double>(sources.size()));
    }
    const auto written = QpdfDocument::write(*merged, destination, {.encryptionOf = encrypted});
    ProcessMemory::release(std::move(merged));
    for (auto& document : opened) ProcessMemory::release(std::move(document));
    return written;
}

}  // namespace kolvex
