#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/conversion/ConversionCoordinator.h"
#include "core/format/FormatRegistry.h"
#include "core/services/TemporaryFileManager.h"

namespace kolvex {

// The shipped registry and every engine this build has, wired the way the application wires
// them: the bundled ffmpeg (its encoder list filters the registry), the image engine decoding
// for ffmpeg what it cannot read, the document engine writing the PDF engine's text. For the
// driver and the hostile-input tests only.
struct RealEngines {
    FormatRegistry registry;
    ConversionCoordinator::Engines engines;
    // "<engine>: <why>" for each engine missing from this build or unable to start here.
    std::vector<std::string> unavailable;

    // Loads the registry (throws FormatRegistry::LoadError) and starts the engines. Scratch
    // folders of the engines that need them go under `temporary`. Blocks while ffmpeg lists its
    // encoders. Reading HTML and writing PDF documents need a QGuiApplication to exist.
    static RealEngines assemble(const TemporaryFileManager& temporary = TemporaryFileManager::shared());

    // A coordinator over them; `processorCount` as ConversionCoordinator takes it.
    std::unique_ptr<ConversionCoordinator> coordinator(std::optional<int> processorCount = std::nullopt) const;

    bool has(const EngineID& id) const;
};

}  // namespace kolvex
