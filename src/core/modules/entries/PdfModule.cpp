// SPDX-License-Identifier: GPL-3.0-or-later
// kolvex-engine-pdf: the PDF engine and first-page thumbnails, over poppler, qpdf and libvips.
#include "core/engines/pdf/PDFEngine.h"
#include "core/engines/pdf/PdfThumbnail.h"
#include "core/modules/EngineModule.h"
#include "core/modules/entries/ModuleEntry.h"

namespace kolvex::modules {
namespace {

const PdfModule kTable{
    [](const FileManagerService& files, PdfTextDocumentWriter textWriter) -> EnginePtr {
        return std::make_shared<PDFEngine>(files, std::move(textWriter));
    },
    &pdfThumbnail,
};

}  // namespace
}  // namespace kolvex::modules

KOLVEX_ENGINE_MODULE(kolvex::modules::kTable)
