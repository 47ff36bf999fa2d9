// SPDX-License-Identifier: GPL-3.0-or-later
// kolvex-engine-pdf-pages: the PDF page tools that need qpdf alone.
#include "core/engines/pdf/PdfPageToolEngine.h"
#include "core/modules/EngineModule.h"
#include "core/modules/entries/ModuleEntry.h"

namespace kolvex::modules {
namespace {

const PdfPagesModule kTable{
    []() -> EnginePtr { return std::make_shared<PdfPageToolEngine>(); },
};

}  // namespace
}  // namespace kolvex::modules

KOLVEX_ENGINE_MODULE(kolvex::modules::kTable)
