// SPDX-License-Identifier: GPL-3.0-or-later
// kolvex-engine-document: the text document engine and the writer of a PDF's text.
#include "core/engines/document/DocumentEngine.h"
#include "core/engines/document/PdfTextDocument.h"
#include "core/modules/EngineModule.h"
#include "core/modules/entries/ModuleEntry.h"

namespace kolvex::modules {
namespace {

const DocumentModule kTable{
    []() -> EnginePtr { return std::make_shared<DocumentEngine>(); },
    []() -> PdfTextDocumentWriter { return &PdfTextDocument::write; },
};

}  // namespace
}  // namespace kolvex::modules

KOLVEX_ENGINE_MODULE(kolvex::modules::kTable)
