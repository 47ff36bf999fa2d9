// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/format/ConversionOptions.h"

#include <cmath>

namespace kolvex {

const ConversionOptions& ConversionOptions::defaults() {
    static const ConversionOptions value{};
    return value;
}

const std::set<std::string>& ConversionOptions::containerOnlyTools() {
    static const std::set<std::string> tools{"trim", "split", "extract-audio", "remove-audio", "strip-metadata"};
    return tools;
}

double ConversionOptions::rotationDegrees() const {
    if (!rotation) return 0;
    double r = std::fmod(*rotation, 360.0);
    if (r < 0) r += 360.0;
    return r;
}

}  // namespace kolvex
