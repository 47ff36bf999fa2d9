// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TrayWiring.h"

#include "core/ffmpeg/FFmpegEncoders.h"
#include "core/modules/EngineModules.h"

namespace kolvex {

TrayWiring::Conversions TrayWiring::inProcess(const FormatRegistry& registry) {
    return {std::make_shared<const FormatRegistry>(registry),
            std::make_shared<ConversionCoordinator>(registry, EngineModules::inProcessEngines())};
}

TrayWiring::Conversions TrayWiring::withFFmpeg(const FormatRegistry& registry, const BundledFFmpeg& tools,
                                               const std::set<std::string>& encoders) {
    auto filtered = registry.excludingUnavailable(engine_ids::ffmpeg, encoders, &FFmpegEncoders::requiredEncoder);
    auto engines = EngineModules::inProcessEngines();
    // Images ffmpeg cannot read are decoded by the image engine.
    engines.push_back(EngineModules::ffmpegEngine(tools, encoders, engines.front()));
    auto coordinator = std::make_shared<ConversionCoordinator>(filtered, engines);
    return {std::make_shared<const FormatRegistry>(std::move(filtered)), std::move(coordinator)};
}

std::shared_ptr<const MediaFacts> TrayWiring::mediaFacts() { return EngineModules::mediaFacts(); }

}  // namespace kolvex
