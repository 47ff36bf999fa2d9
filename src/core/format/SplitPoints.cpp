// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/format/SplitPoints.h"

#include <algorithm>
#include <cmath>

namespace kolvex {

std::vector<double> SplitPoints::within(const std::vector<double>& given, double duration) {
    std::vector<double> candidates = given.empty() ? std::vector<double>{duration * 0.5} : given;
    std::sort(candidates.begin(), candidates.end());
    std::vector<double> accepted;
    for (const double point : candidates) {
        if (!(point > 0.1) || !(point < duration - 0.1)) continue;
        if (!accepted.empty() && !(point - accepted.back() >= 0.1)) continue;
        accepted.push_back(point);
    }
    return accepted;
}

std::size_t SplitPoints::partCount(const std::vector<double>& given) {
    double longEnough = 1.0;
    for (const double point : given)
        if (std::isfinite(point)) longEnough = std::max(longEnough, point + 1.0);
    return within(given, longEnough).size() + 1;
}

}  // namespace kolvex
