// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/format/Identifiers.h"

namespace kolvex {

// A rectangle in unit coordinates with its origin at the bottom-left corner.
struct UnitRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return x; }
    double minY() const { return y; }
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    bool operator==(const UnitRect&) const = default;
};

// The options of one job. Field order is significant.
struct ConversionOptions {
    std::vector<double> splitPoints;            // seconds at which split cuts
    std::optional<FormatID> outputFormat;       // a tool's chosen output format
    std::optional<double> quality;              // 0…1
    bool preserveMetadata = true;               // must be given when built field by field
    std::optional<int64_t> dpi;
    std::optional<int64_t> maxDimension;        // pixels
    bool allowPassthrough = true;               // must be given when built field by field
    std::optional<std::string> tool;            // tool id; none for a format conversion
    std::optional<int64_t> audioBitrate;        // bits per second
    std::optional<double> sampleRate;           // hertz
    std::optional<double> trimStart;            // seconds
    std::optional<double> trimEnd;              // seconds
    std::optional<double> rotation;             // degrees, any real value
    bool flipHorizontal = false;
    bool flipVertical = false;
    std::optional<UnitRect> cropRect;           // unit rectangle, origin bottom-left
    std::optional<std::vector<int64_t>> pageRange;  // zero-based pages; none = every page
    bool invertPageSelection = false;
    // `quality` and `audioBitrate` are the preferences' settings for when the streams must be
    // re-encoded, not a request to re-encode: a media conversion whose streams fit the target
    // is still copied. A request that sets them itself leaves this false.
    bool encodeSettingsFromPreferences = false;
    // The resize tool's size as a share of each file's own longest side, in percent (0 < p ≤ 100);
    // when set it stands instead of `maxDimension`, so every file of a batch keeps its proportion.
    std::optional<double> scalePercent;

    // Metadata kept and stream copy allowed; everything else at its default.
    static const ConversionOptions& defaults();
    // Tools that can keep the streams as they are.
    static const std::set<std::string>& containerOnlyTools();

    // The rotation folded into 0 ≤ r < 360 (−90 → 270, 450 → 90); 0 when none.
    double rotationDegrees() const;

    bool operator==(const ConversionOptions&) const = default;
};

}  // namespace kolvex
