// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/format/ConversionJob.h"

namespace kolvex {

ConversionJob::ConversionJob(std::filesystem::path source_, std::vector<std::filesystem::path> additionalSources_,
                             std::filesystem::path destination_, Format from_, Format to_,
                             ConversionCapability capability_, ConversionOptions options_)
    : id(Uuid::random()),
      source(std::move(source_)),
      additionalSources(std::move(additionalSources_)),
      destination(std::move(destination_)),
      from(std::move(from_)),
      to(std::move(to_)),
      capability(std::move(capability_)),
      options(std::move(options_)) {}

std::vector<std::filesystem::path> ConversionJob::allSources() const {
    std::vector<std::filesystem::path> all;
    all.reserve(1 + additionalSources.size());
    all.push_back(source);
    all.insert(all.end(), additionalSources.begin(), additionalSources.end());
    return all;
}

bool ConversionJob::canPassthrough() const {
    if (!capability.passthroughPossible || !options.allowPassthrough) return false;
    return !changesContent();
}

bool ConversionJob::changesContent() const {
    if (options.tool && !ConversionOptions::containerOnlyTools().contains(*options.tool)) return true;
    // The preferences' quality and bit rate say how to re-encode if one is needed, not that one is.
    const bool encodeSettingsAsked = !options.encodeSettingsFromPreferences && (options.quality || options.audioBitrate);
    return options.maxDimension || options.scalePercent || options.sampleRate || encodeSettingsAsked;
}

bool ConversionJob::isTrim() const { return options.trimStart.has_value() || options.trimEnd.has_value(); }

std::optional<std::filesystem::path> ConversionResult::output() const {
    if (outputs.empty()) return std::nullopt;
    return outputs.front();
}

}  // namespace kolvex
