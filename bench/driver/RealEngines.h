// SPDX-License-Identifier: GPL-3.0-or-later
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
// them: the bundled ffmpeg (its encoders checked by the engine once a job needs one), the image
// engine decoding for ffmpeg what it cannot read, the document engine writing the PDF engine's
// text. For the driver and the hostile-input tests only.
struct RealEngines {
    FormatRegistry registry;
    ConversionCoordinator::Engines engines;
    // "<engine>: <why>" for each engine missing from this build or unable to start here.
    std::vector<std::string> unavailable;

    // What a request needs started before it runs.
    struct Needs {
        bool ffmpeg = true;  // the ffmpeg engine
        bool qt = true;      // a QGuiApplication, for the document engine's HTML reading and PDF layout
    };

    // Loads the registry (throws FormatRegistry::LoadError) and starts the engines. Scratch
    // folders of the engines that need them go under `temporary`. With `withFFmpeg`, the
    // bundled ffmpeg is located (its encoders are listed only when a job needs one). Reading
    // HTML and writing PDF documents need a
    // QGuiApplication to exist.
    static RealEngines assemble(const TemporaryFileManager& temporary = TemporaryFileManager::shared(),
                                bool withFFmpeg = true);

    // What converting `files` (to `target`, or through a tool when none) needs: ffmpeg for any
    // audio or video on either side, Qt for any document; both for a file of unknown kind.
    static Needs needs(const FormatRegistry& registry, const std::vector<std::filesystem::path>& files,
                       const std::optional<FormatID>& target);

    // A coordinator over them; `processorCount` as ConversionCoordinator takes it.
    std::unique_ptr<ConversionCoordinator> coordinator(std::optional<int> processorCount = std::nullopt) const;

    bool has(const EngineID& id) const;
};

}  // namespace kolvex
