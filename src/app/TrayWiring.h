// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <set>
#include <string>

#include "core/conversion/ConversionCoordinator.h"
#include "core/ffmpeg/BundledFFmpeg.h"
#include "core/ffmpeg/preview/MediaFacts.h"
#include "core/format/FormatRegistry.h"

namespace kolvex {

// The tray's conversion wiring, built in one place for the program and its tests: the engines
// behind their module proxies (each loaded on its first job), the coordinator over them, and the
// media facts the trim and split sheets read. Builds nothing a display is needed for.
struct TrayWiring {
    // What a drop runs on: the formats offered and the coordinator that carries them out.
    struct Conversions {
        std::shared_ptr<const FormatRegistry> registry;
        std::shared_ptr<ConversionCoordinator> coordinator;
    };

    // Before FFmpeg is found: the in-process engines over the whole registry.
    static Conversions inProcess(const FormatRegistry& registry);
    // With FFmpeg: the registry without what this build of it cannot encode, and a coordinator
    // over the in-process engines and the FFmpeg engine. Throws what the registry's filter throws.
    static Conversions withFFmpeg(const FormatRegistry& registry, const BundledFFmpeg& tools,
                                  const std::set<std::string>& encoders);
    // What the tool sheets read of a media file, through the media module.
    static std::shared_ptr<const MediaFacts> mediaFacts();
};

}  // namespace kolvex
