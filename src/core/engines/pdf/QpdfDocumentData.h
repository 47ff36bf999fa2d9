// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The qpdf object behind qpdf_bridge::Document. Included only by the files built as C++17 that
// talk to qpdf directly (see QpdfBridge.h).

#include <memory>
#include <optional>
#include <vector>

#include <qpdf/PDFVersion.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include "core/engines/pdf/QpdfBridge.h"

namespace kolvex::qpdf_bridge {

struct Document {
    QPDF pdf;
    bool pushedInherited = false;
    // pagesOf's list, kept while the page tree is not changed by us (adding a page clears it).
    std::vector<QPDFPageObjectHelper> pages;
    bool pagesKnown = false;
    // The highest version among the documents whose pages were copied in: the output declares
    // at least that, as the pages may use what it brought.
    PDFVersion copiedVersion;
    // The version the document's header declares, read once: qpdf parses it anew on every call.
    std::optional<PDFVersion> ownVersion;
    // The interactive form's fields as qpdf knows them, read once the first page with its form is
    // copied from or into the document; declared after `pdf`, which it refers to.
    std::unique_ptr<QPDFAcroFormDocumentHelper> forms;
};

// Whether the document has an interactive form with fields, which a page copied alone loses.
bool hasInteractiveForm(Document& document);

// The document's pages, each carrying what it inherits from the page tree (so that pages can
// be copied elsewhere or inspected on their own). Valid until a page is added to the document.
std::vector<QPDFPageObjectHelper>& pagesOf(Document& document);

}  // namespace kolvex::qpdf_bridge
