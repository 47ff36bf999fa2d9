// SPDX-License-Identifier: GPL-3.0-or-later
// kolvex-engine-image: the image engine, thumbnails and the example image, over libvips.
#include "core/engines/image/ImageEngine.h"
#include "core/engines/sample/SampleFile.h"
#include "core/modules/EngineModule.h"
#include "core/modules/entries/ModuleEntry.h"

namespace kolvex::modules {
namespace {

const ImageModule kTable{
    [] () -> EnginePtr { return std::make_shared<ImageEngine>(); },
    &image::makeThumbnail,
    [](const std::string& name) { return SampleFile::create(name, std::nullopt); },
};

}  // namespace
}  // namespace kolvex::modules

KOLVEX_ENGINE_MODULE(kolvex::modules::kTable)
