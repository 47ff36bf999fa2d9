// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "core/format/FormatKinds.h"
#include "core/format/Identifiers.h"

namespace kolvex {

// One format of the manifest.
struct Format {
    FormatID id;
    FormatCategory category = FormatCategory::image;
    std::vector<std::string> extensions;      // without the dot, first preferred; may be compound ("tar.gz")
    std::vector<std::string> contentTypes;    // MIME type names
    std::set<FormatCapability> capabilities;
    std::string label;

    // The first extension exactly as written; the id when there is none.
    std::string canonicalExtension() const;
    // The extension a file of this format made from `source` takes: the source's own where this
    // format lists it (a trim of "x.oga" stays ".oga"), as the format spells it; else the
    // canonical one.
    std::string extensionFor(const std::filesystem::path& source) const;
    bool has(FormatCapability capability) const { return capabilities.contains(capability); }

    bool operator==(const Format&) const = default;
};

// One offered conversion between two formats.
struct ConversionCapability {
    FormatID from;
    FormatID to;
    EngineID engine;
    ConversionCost cost = ConversionCost::inProcess;
    bool passthroughPossible = false;

    bool operator==(const ConversionCapability&) const = default;
};

// One tool offered on the tools ring.
struct ToolDefinition {
    std::string id;
    std::string label;
    std::set<FormatCategory> categories;
    EngineID engine;
    bool foldsInputs = false;
    std::optional<FormatID> outputFormat;

    bool operator==(const ToolDefinition&) const = default;
};

// The decoded manifest. List order is the order outputs and tools are offered in.
struct FormatManifest {
    std::vector<Format> formats;
    std::vector<ConversionCapability> conversions;
    std::vector<ToolDefinition> tools;

    // All-or-nothing decoding; throws json::JsonError naming what is wrong.
    static FormatManifest decode(std::string_view jsonText);
    static FormatManifest decodeDocument(const nlohmann::json& document);
    nlohmann::json encode() const;
};

}  // namespace kolvex
