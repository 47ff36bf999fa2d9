// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace kolvex {

// What kind of file a format is. Raw values are the case names.
enum class FormatCategory { image, video, audio, document, pdf, archive };
inline constexpr std::array kAllFormatCategories{FormatCategory::image, FormatCategory::video,
                                                 FormatCategory::audio, FormatCategory::document,
                                                 FormatCategory::pdf,   FormatCategory::archive};

// What a format can hold.
enum class FormatCapability { lossy, lossless, alpha, animation, metadata, layers, pages, multiTrack };
inline constexpr std::array kAllFormatCapabilities{
    FormatCapability::lossy,  FormatCapability::lossless, FormatCapability::alpha,
    FormatCapability::animation, FormatCapability::metadata, FormatCapability::layers,
    FormatCapability::pages,  FormatCapability::multiTrack};

// How expensive a conversion is. Declared inProcess, hardware, subprocess, but ordered by
// rank: hardware < inProcess < subprocess. Always compare through costLess/costRank.
enum class ConversionCost { inProcess, hardware, subprocess };
inline constexpr std::array kAllConversionCosts{ConversionCost::inProcess, ConversionCost::hardware,
                                                ConversionCost::subprocess};

int costRank(ConversionCost cost);
inline bool costLess(ConversionCost a, ConversionCost b) { return costRank(a) < costRank(b); }

std::string_view toString(FormatCategory value);
std::string_view toString(FormatCapability value);
std::string_view toString(ConversionCost value);

// Exact, case-sensitive parsing of raw values; nothing for any other text.
std::optional<FormatCategory> formatCategoryFromString(std::string_view raw);
std::optional<FormatCapability> formatCapabilityFromString(std::string_view raw);
std::optional<ConversionCost> conversionCostFromString(std::string_view raw);

}  // namespace kolvex
