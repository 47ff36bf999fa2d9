// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/format/RingTarget.h"

namespace kolvex {

std::string_view toString(PortalMode mode) {
    switch (mode) {
    case PortalMode::convert: return "convert";
    case PortalMode::tools: return "tools";
    case PortalMode::advanced: return "advanced";
    }
    return "";
}

std::optional<PortalMode> portalModeFromString(std::string_view raw) {
    for (PortalMode mode : kAllPortalModes) {
        if (toString(mode) == raw) return mode;
    }
    return std::nullopt;
}

RingTarget RingTarget::forFormat(const Format& format) {
    return RingTarget{
        .id = "format." + format.id.rawValue,
        .label = format.label,
        .kind = Kind::format,
        .fileExtension = format.canonicalExtension(),
        .formatID = format.id,
        .toolID = std::nullopt,
    };
}

RingTarget RingTarget::forTool(const ToolDefinition& tool) {
    return RingTarget{
        .id = "tool." + tool.id,
        .label = tool.label,
        .kind = Kind::tool,
        .fileExtension = std::nullopt,
        .formatID = std::nullopt,
        .toolID = tool.id,
    };
}

}  // namespace kolvex
