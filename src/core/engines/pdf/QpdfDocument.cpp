#include "core/engines/pdf/QpdfDocument.h"

#include "core/services/StagedOutput.h"
#include "core/format/ConversionError.h"

namespace kolvex {

QpdfDocument::Handle QpdfDocument::open(const std::filesystem::path& file) {
    qpdf_bridge::Opened opened = qpdf_bridge::open(file);
    if (opened.status == qpdf_bridge::OpenStatus::needsPassword) throw ConversionError::insufficientPermissions(file);
    if (opened.status != qpdf_bridge::OpenStatus::opened || qpdf_bridge::pageCount(*opened.document) == 0) {
        throw ConversionError::corruptedInput(file);
    }
    return opened.document;
}

std::shared_ptr<const std::string> QpdfDocument::mediaBoxCopy(const std::filesystem::path& file) {
    open(file);  // the same errors as every other reader of the file
    auto copy = qpdf_bridge::mediaBoxCopy(file);
    if (!copy) throw ConversionError::corruptedInput(file);
    return std::make_shared<const std::string>(std::move(*copy));
}

void QpdfDocument::write(qpdf_bridge::Document& document, const std::filesystem::path& destination) {
    stage(document, destination).commit();
}

StagedOutput QpdfDocument::stage(qpdf_bridge::Document& document, const std::filesystem::path& destination) {
    StagedOutput output(destination);
    switch (qpdf_bridge::write(document, output.path())) {
        case qpdf_bridge::WriteStatus::cannotCreate:
            throw ConversionError::insufficientPermissions(destination);
        case qpdf_bridge::WriteStatus::failed:
            throw ConversionError::backendFailure("pdf", -1, "qpdf could not write the document");
        case qpdf_bridge::WriteStatus::written:
            break;
    }
    return output;
}

}  // namespace kolvex
