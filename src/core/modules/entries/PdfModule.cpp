// kolvex-engine-pdf: the PDF engine, over poppler, qpdf and libvips.
#include "core/engines/pdf/PDFEngine.h"
#include "core/modules/EngineModule.h"
#include "core/modules/entries/ModuleEntry.h"

namespace kolvex::modules {
namespace {

const PdfModule kTable{
    [](const FileManagerService& files, PdfTextDocumentWriter textWriter) -> EnginePtr {
        return std::make_shared<PDFEngine>(files, std::move(textWriter));
    },
};

}  // namespace
}  // namespace kolvex::modules

KOLVEX_ENGINE_MODULE(kolvex::modules::kTable)
