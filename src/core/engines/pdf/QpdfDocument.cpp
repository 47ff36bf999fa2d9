// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/QpdfDocument.h"

#include "core/services/ErrorMapper.h"
#include "core/services/StagedOutput.h"
#include "core/format/ConversionError.h"

namespace kolvex {

QpdfDocument::Handle QpdfDocument::open(const std::filesystem::path& file) {
    qpdf_bridge::Opened opened = qpdf_bridge::open(file);
    if (opened.status == qpdf_bridge::OpenStatus::needsPassword) throw ConversionError::passwordProtected(file);
    if (opened.status == qpdf_bridge::OpenStatus::tooDeep) throw nestedTooDeeply(file, opened.tooDeep);
    if (opened.status != qpdf_bridge::OpenStatus::opened || qpdf_bridge::pageCount(*opened.document) == 0) {
        throw ConversionError::corruptedInput(file);
    }
    return opened.document;
}

ConversionError QpdfDocument::nestedTooDeeply(const std::filesystem::path& file, const qpdf_bridge::Nesting& nesting) {
    return ConversionError::nestedTooDeeply(file, nesting.structure, static_cast<int64_t>(nesting.limit));
}

void QpdfDocument::refuseTooDeep(const std::filesystem::path& file) {
    const qpdf_bridge::Opened opened = qpdf_bridge::open(file);
    if (opened.status == qpdf_bridge::OpenStatus::tooDeep) throw nestedTooDeeply(file, opened.tooDeep);
}

std::filesystem::path QpdfDocument::write(qpdf_bridge::Document& document, const std::filesystem::path& destination,
                                          const qpdf_bridge::WriteOptions& options) {
    StagedOutput output = stage(document, destination, options);
    output.commit();
    return output.destination();
}

StagedOutput QpdfDocument::stage(qpdf_bridge::Document& document, const std::filesystem::path& destination,
                                 const qpdf_bridge::WriteOptions& options) {
    StagedOutput output(destination);
    writeStaged(document, output.path(), destination, options);
    return output;
}

void QpdfDocument::writeStaged(qpdf_bridge::Document& document, const std::filesystem::path& file,
                               const std::filesystem::path& destination, const qpdf_bridge::WriteOptions& options) {
    settle(qpdf_bridge::write(document, file, options), file, destination);
}

void QpdfDocument::writePageStaged(qpdf_bridge::Document& source, int index, const std::filesystem::path& file,
                                   const std::filesystem::path& destination, int64_t* bytesWritten) {
    if (auto status = qpdf_bridge::writePage(source, index, file, bytesWritten)) {
        return settle(*status, file, destination);
    }
    auto single = makeEmpty();
    qpdf_bridge::appendPage(*single, source, index);
    writeStaged(*single, file, destination, {.encryptionOf = &source, .bytesWritten = bytesWritten});
}

void QpdfDocument::settle(qpdf_bridge::WriteStatus status, const std::filesystem::path& file,
                          const std::filesystem::path& destination) {
    switch (status) {
        case qpdf_bridge::WriteStatus::cannotCreate:
            throw ConversionError::insufficientPermissions(destination);
        case qpdf_bridge::WriteStatus::failed:
            // qpdf does not say why; a full volume is the cause the user can act on.
            if (auto full = ErrorMapper::fullVolume(ErrorMapper::Subject(destination, "pdf"), file,
                                                    FileManagerService::shared())) {
                throw *full;
            }
            throw ConversionError::backendFailure("pdf", -1, "qpdf could not write the document");
        case qpdf_bridge::WriteStatus::written:
            break;
    }
}

}  // namespace kolvex
