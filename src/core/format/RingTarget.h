// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/FormatKinds.h"
#include "core/format/FormatManifest.h"
#include "core/format/Identifiers.h"

namespace kolvex {

// Which set of chips the Portal's ring offers. Raw values are the case names.
enum class PortalMode { convert, tools, advanced };
inline constexpr std::array kAllPortalModes{PortalMode::convert, PortalMode::tools, PortalMode::advanced};

std::string_view toString(PortalMode mode);
// Exact, case-sensitive; nothing for any other text.
std::optional<PortalMode> portalModeFromString(std::string_view raw);

// One chip of the ring: a format the files can become, or a tool that applies to them.
struct RingTarget {
    enum class Kind { format, tool };

    std::string id;                              // "format.<format id>" or "tool.<tool id>"
    std::string label;
    Kind kind = Kind::format;
    std::optional<std::string> fileExtension;    // a format's canonical extension; none for a tool
    std::optional<FormatID> formatID;            // set for a format target
    std::optional<std::string> toolID;           // set for a tool target

    static RingTarget forFormat(const Format& format);
    static RingTarget forTool(const ToolDefinition& tool);

    bool operator==(const RingTarget&) const = default;
};

// What the Portal asks to fill its ring. Implementations answer synchronously, never fail,
// and must be safe to call from the GUI thread while other threads hold copies.
class RingTargetProviding {
public:
    virtual ~RingTargetProviding() = default;

    // The ring's targets for the files in the mode, in ring order; empty when nothing applies.
    virtual std::vector<RingTarget> targets(const std::vector<std::filesystem::path>& urls,
                                            PortalMode mode) const = 0;
    // The files' one category; none when no file is recognised or they span several.
    virtual std::optional<FormatCategory> category(const std::vector<std::filesystem::path>& urls) const = 0;
    // How many categories the recognised files span (0 when none is recognised).
    virtual int categoryCount(const std::vector<std::filesystem::path>& urls) const = 0;

protected:
    RingTargetProviding() = default;
    RingTargetProviding(const RingTargetProviding&) = default;
    RingTargetProviding& operator=(const RingTargetProviding&) = default;
    RingTargetProviding(RingTargetProviding&&) = default;
    RingTargetProviding& operator=(RingTargetProviding&&) = default;
};

}  // namespace kolvex
