// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "core/engines/pdf/QpdfBridge.h"
#include "core/format/ConversionError.h"
#include "core/services/StagedOutput.h"

namespace kolvex {

// Opening and writing PDFs with qpdf, with the errors a user sees. Stateless; any thread (each
// document belongs to one thread at a time).
struct QpdfDocument {
    using Handle = qpdf_bridge::DocumentPtr;

    // Opens `file`. Throws ConversionError::corruptedInput(file) when it is no readable PDF or
    // has no pages, nestedTooDeeply (below) when a structure qpdf walks nests too deeply,
    // ConversionError::passwordProtected(file) when it needs a password to open (every reader
    // of a PDF refuses such a file so, before any work is done).
    static Handle open(const std::filesystem::path& file);

    // The error for a document whose structure nests too deeply for qpdf (see qpdf_bridge::open
    // and NestedTooDeeply).
    static ConversionError nestedTooDeeply(const std::filesystem::path& file, const qpdf_bridge::Nesting& nesting);

    // Throws nestedTooDeeply when a structure of the PDF at `file` nests deeper than qpdf's walks
    // allow; any other file passes. Poppler, which reads the same structures (its form reader
    // takes time and memory with the square of a field tree's depth), is given only what passes.
    static void refuseTooDeep(const std::filesystem::path& file);

    // A document with no pages, to add pages to.
    static Handle makeEmpty() { return qpdf_bridge::makeEmpty(); }

    // Writes `document` at `destination`, never over an existing file, with nothing left
    // behind on failure. It carries the encryption and permissions of `options.encryptionOf`.
    // Throws ConversionError::backendFailure("pdf", -1, …) when qpdf fails,
    // outputNameUnavailable when the destination was taken meanwhile,
    // insufficientPermissions(destination) when the folder refuses the file. Returns where it
    // went: the next free name when another writer took `destination` first.
    static std::filesystem::path write(qpdf_bridge::Document& document, const std::filesystem::path& destination,
                      const qpdf_bridge::WriteOptions& options);
    // The same, written and not yet committed: the caller commits it (with others of a set).
    static StagedOutput stage(qpdf_bridge::Document& document, const std::filesystem::path& destination,
                              const qpdf_bridge::WriteOptions& options);
    // The same, written at `file`, a staged name the caller owns (one of a StagedOutputSet);
    // errors name `destination`.
    static void writeStaged(qpdf_bridge::Document& document, const std::filesystem::path& file,
                            const std::filesystem::path& destination, const qpdf_bridge::WriteOptions& options);
    // Page `index` of `source` alone, written at `file` as writeStaged does, with the source's
    // encryption and permissions; `bytesWritten` (when given) is set to the file's size.
    static void writePageStaged(qpdf_bridge::Document& source, int index, const std::filesystem::path& file,
                                const std::filesystem::path& destination, int64_t* bytesWritten);

private:
    // Throws what a write's status means for the user (see writeStaged).
    static void settle(qpdf_bridge::WriteStatus status, const std::filesystem::path& file,
                       const std::filesystem::path& destination);
};

}  // namespace kolvex
