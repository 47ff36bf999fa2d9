#pragma once

// The qpdf object behind qpdf_bridge::Document. Included only by the files built as C++17 that
// talk to qpdf directly (see QpdfBridge.h).

#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include "core/engines/pdf/QpdfBridge.h"

namespace kolvex::qpdf_bridge {

struct Document {
    QPDF pdf;
    bool pushedInherited = false;
};

// The document's pages, each carrying what it inherits from the page tree (so that pages can
// be copied elsewhere or inspected on their own).
std::vector<QPDFPageObjectHelper> pagesOf(Document& document);

}  // namespace kolvex::qpdf_bridge
