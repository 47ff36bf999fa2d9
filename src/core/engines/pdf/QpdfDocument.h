#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include <qpdf/QPDF.hh>

namespace kolvex {

// Opening and writing PDFs with qpdf. A document built from pages of other documents refers
// to them until it is written: keep every source QPDF alive until `write` has returned.
// Stateless; any thread (each QPDF object belongs to one thread at a time).
struct QpdfDocument {
    // Opens `file` (an empty user password unlocks documents that only restrict editing).
    // Throws ConversionError::corruptedInput(file) when it is no readable PDF or has no pages,
    // insufficientPermissions(file) when a password is needed.
    static std::shared_ptr<QPDF> open(const std::filesystem::path& file);

    // A document with no pages, to add pages to.
    static std::shared_ptr<QPDF> makeEmpty();

    // A copy of `document` in memory whose pages show their whole media box upright: the crop
    // box becomes the media box and no page rotation is left. Renderers draw it as it stands.
    // Errors as `open`.
    static std::shared_ptr<const std::string> mediaBoxCopy(const std::filesystem::path& file);

    // Writes `document` unencrypted at `destination`, never over an existing file, with nothing
    // left behind on failure. Throws ConversionError::backendFailure("pdf", -1, …) when qpdf
    // fails, outputNameUnavailable when the destination was taken meanwhile,
    // insufficientPermissions(destination) when the folder refuses the file.
    static void write(QPDF& document, const std::filesystem::path& destination);

    // A stream of `document` holding `bytes` without copying them. `filter` names the encoding
    // the bytes already have ("/DCTDecode"); empty for raw data, which the writer compresses.
    static QPDFObjectHandle newStream(QPDF& document, std::shared_ptr<const std::string> bytes,
                                      const std::string& filter);

    // The page count; 0 when the page tree is unreadable.
    static int pageCount(QPDF& document);
};

}  // namespace kolvex
