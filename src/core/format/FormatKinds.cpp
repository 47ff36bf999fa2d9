// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/format/FormatKinds.h"

namespace kolvex {

int costRank(ConversionCost cost) {
    switch (cost) {
    case ConversionCost::hardware: return 0;
    case ConversionCost::inProcess: return 1;
    case ConversionCost::subprocess: return 2;
    }
    return 2;
}

std::string_view toString(FormatCategory value) {
    switch (value) {
    case FormatCategory::image: return "image";
    case FormatCategory::video: return "video";
    case FormatCategory::audio: return "audio";
    case FormatCategory::document: return "document";
    case FormatCategory::pdf: return "pdf";
    case FormatCategory::archive: return "archive";
    }
    return "";
}

std::string_view toString(FormatCapability value) {
    switch (value) {
    case FormatCapability::lossy: return "lossy";
    case FormatCapability::lossless: return "lossless";
    case FormatCapability::alpha: return "alpha";
    case FormatCapability::animation: return "animation";
    case FormatCapability::metadata: return "metadata";
    case FormatCapability::layers: return "layers";
    case FormatCapability::pages: return "pages";
    case FormatCapability::multiTrack: return "multiTrack";
    }
    return "";
}

std::string_view toString(ConversionCost value) {
    switch (value) {
    case ConversionCost::inProcess: return "inProcess";
    case ConversionCost::hardware: return "hardware";
    case ConversionCost::subprocess: return "subprocess";
    }
    return "";
}

namespace {
template <typename Enum, size_t N>
std::optional<Enum> parse(const std::array<Enum, N>& all, std::string_view raw) {
    for (Enum value : all) {
        if (toString(value) == raw) return value;
    }
    return std::nullopt;
}
}  // namespace

std::optional<FormatCategory> formatCategoryFromString(std::string_view raw) {
    return parse(kAllFormatCategories, raw);
}
std::optional<FormatCapability> formatCapabilityFromString(std::string_view raw) {
    return parse(kAllFormatCapabilities, raw);
}
std::optional<ConversionCost> conversionCostFromString(std::string_view raw) {
    return parse(kAllConversionCosts, raw);
}

}  // namespace kolvex
