// SPDX-License-Identifier: GPL-3.0-or-later
// kolvex-engine-archive: the archive engine, over libarchive.
#include "core/engines/archive/ArchiveEngine.h"
#include "core/modules/EngineModule.h"
#include "core/modules/entries/ModuleEntry.h"

namespace kolvex::modules {
namespace {

const ArchiveModule kTable{
    [](const FileManagerService& files, const TemporaryFileManager& temporary) -> EnginePtr {
        return std::make_shared<ArchiveEngine>(files, temporary);
    },
};

}  // namespace
}  // namespace kolvex::modules

KOLVEX_ENGINE_MODULE(kolvex::modules::kTable)
