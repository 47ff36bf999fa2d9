#include "core/engines/pdf/QpdfDocument.h"

#include <cstdio>

#include <qpdf/Pl_String.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include "core/engines/pdf/StagedOutput.h"
#include "core/format/ConversionError.h"

namespace kolvex {

namespace {

std::shared_ptr<QPDF> newQpdf() {
    auto document = std::make_shared<QPDF>();
    // Damage is reported to the user as an error of ours; qpdf's warnings would go to stderr.
    document->setSuppressWarnings(true);
    return document;
}

// Hands qpdf a stream's bytes when it writes them; the bytes stay shared, never copied.
class SharedBytesProvider : public QPDFObjectHandle::StreamDataProvider {
public:
    explicit SharedBytesProvider(std::shared_ptr<const std::string> bytes) : m_bytes(std::move(bytes)) {}

    void provideStreamData(QPDFObjGen const&, Pipeline* pipeline) override {
        pipeline->write(reinterpret_cast<const unsigned char*>(m_bytes->data()), m_bytes->size());
        pipeline->finish();
    }

private:
    std::shared_ptr<const std::string> m_bytes;
};

}  // namespace

QPDFObjectHandle QpdfDocument::newStream(QPDF& document, std::shared_ptr<const std::string> bytes,
                                         const std::string& filter) {
    QPDFObjectHandle stream = document.newStream();
    stream.replaceStreamData(std::make_shared<SharedBytesProvider>(std::move(bytes)),
                             filter.empty() ? QPDFObjectHandle::newNull() : QPDFObjectHandle::newName(filter),
                             QPDFObjectHandle::newNull());
    return stream;
}

std::shared_ptr<QPDF> QpdfDocument::open(const std::filesystem::path& file) {
    auto document = newQpdf();
    try {
        document->processFile(file.c_str(), "");
    } catch (const QPDFExc& error) {
        if (error.getErrorCode() == qpdf_e_password) throw ConversionError::insufficientPermissions(file);
        throw ConversionError::corruptedInput(file);
    } catch (const std::exception&) {
        throw ConversionError::corruptedInput(file);
    }
    if (pageCount(*document) == 0) throw ConversionError::corruptedInput(file);
    return document;
}

std::shared_ptr<QPDF> QpdfDocument::makeEmpty() {
    auto document = newQpdf();
    document->emptyPDF();
    return document;
}

int QpdfDocument::pageCount(QPDF& document) {
    try {
        return static_cast<int>(document.getAllPages().size());
    } catch (const std::exception&) {
        return 0;
    }
}

std::shared_ptr<const std::string> QpdfDocument::mediaBoxCopy(const std::filesystem::path& file) {
    auto document = open(file);
    auto copy = std::make_shared<std::string>();
    try {
        QPDFPageDocumentHelper pages(*document);
        pages.pushInheritedAttributesToPage();
        for (auto& page : pages.getAllPages()) {
            QPDFObjectHandle dictionary = page.getObjectHandle();
            QPDFObjectHandle media = page.getMediaBox(true);
            if (media.isRectangle()) {
                dictionary.replaceKey("/CropBox", media.shallowCopy());
            } else {
                dictionary.removeKey("/CropBox");
            }
            dictionary.removeKey("/Rotate");
        }
        Pl_String sink("media box copy", nullptr, *copy);
        QPDFWriter writer(*document);
        writer.setOutputPipeline(&sink);
        writer.setPreserveEncryption(false);
        // Streams pass through untouched: the copy only lives for the renderer.
        writer.setCompressStreams(false);
        writer.setDecodeLevel(qpdf_dl_none);
        writer.write();
    } catch (const ConversionError&) {
        throw;
    } catch (const std::exception&) {
        throw ConversionError::corruptedInput(file);
    }
    return copy;
}

void QpdfDocument::write(QPDF& document, const std::filesystem::path& destination) {
    StagedOutput output(destination);
    FILE* file = std::fopen(output.temporaryPath().c_str(), "wb");
    if (!file) throw ConversionError::insufficientPermissions(destination);
    bool written = false;
    // qpdf keeps the description's pointer for its messages while it writes.
    const std::string description = destination.filename().string();
    try {
        QPDFWriter writer(document);
        writer.setOutputFile(description.c_str(), file, false);
        writer.setPreserveEncryption(false);
        writer.write();
        written = true;
    } catch (const std::exception&) {
        written = false;
    }
    const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
    const bool closed = std::fclose(file) == 0;
    if (!written || !flushed || !closed) {
        throw ConversionError::backendFailure("pdf", -1, "qpdf could not write the document");
    }
    output.commit();
}

}  // namespace kolvex
