// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/RingLayout.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

namespace kolvex {

namespace {

constexpr double kPi = std::numbers::pi;

// Number of user-perceived characters. Falls back to code points if ICU cannot make a
// break iterator (it always can with its built-in data).
int graphemeCount(const std::string& text) {
    const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) return unicode.countChar32();
    it->setText(unicode);
    int count = 0;
    it->first();
    while (it->next() != icu::BreakIterator::DONE) ++count;
    return count;
}

std::vector<double> widthsOf(const std::vector<std::string>& labels) {
    std::vector<double> widths;
    widths.reserve(labels.size());
    for (const auto& label : labels) widths.push_back(RingLayout::estimatedChipWidth(label));
    return widths;
}

}  // namespace

const RingMetrics RingMetrics::defaultMetrics{};

RingLayout::RingLayout(const std::vector<std::string>& labels, const RingMetrics& m)
    : count(static_cast<int>(labels.size())), metrics(m), chipWidths(widthsOf(labels)) {
    radius = fittingRadius(chipWidths, metrics);
}

RingLayout::RingLayout(int n, const RingMetrics& m)
    : RingLayout(std::vector<std::string>(static_cast<std::size_t>(std::max(n, 0)), "XXXX"), m) {}

double RingLayout::estimatedChipWidth(const std::string& label) {
    return graphemeCount(label) * 6.6 + 22 + 8;
}

double RingLayout::fittingRadius(const std::vector<double>& widths, const RingMetrics& m) {
    double r = m.baseRadius;
    const std::size_t n = widths.size();
    if (n < 2) return r;
    const double s = std::sin(kPi / static_cast<double>(n));
    if (!(2 * s > 0)) return r;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t j = (i + 1) % n;
        const double need = (m.chipGap + (widths[i] + widths[j]) / 2) / (2 * s);
        r = std::max(r, need);
    }
    return r;
}

double RingLayout::angularDelta(double a, double b) {
    double r = std::fmod(a - b, 2 * kPi);
    if (r > kPi) r -= 2 * kPi;
    if (r <= -kPi) r += 2 * kPi;
    return r;
}

double RingLayout::sectorAngle() const { return count < 1 ? 0 : 2 * kPi / count; }

double RingLayout::angle(int index) const {
    if (count < 1) return 0;
    return kPi / 2 - index * 2 * kPi / count;
}

Point RingLayout::offset(int index) const {
    const double a = angle(index);
    return {radius * std::cos(a), radius * std::sin(a)};
}

bool RingLayout::overlaps(int index) const {
    if (count < 2 || index < 0 || index >= count) return false;
    const double chord = 2 * radius * std::sin(kPi / count);
    const std::size_t i = static_cast<std::size_t>(index);
    const std::size_t j = (i + 1) % static_cast<std::size_t>(count);
    // Widths may be missing when the fields were set by hand; a missing one counts as 0.
    const double wi = i < chipWidths.size() ? chipWidths[i] : 0;
    const double wj = j < chipWidths.size() ? chipWidths[j] : 0;
    return chord < (wi + wj) / 2;
}

double RingLayout::hysteresis(double distance) const {
    if (count < 2) return 0;
    return std::min(sectorAngle() * metrics.sectorCapFraction,
                    std::max(metrics.hysteresisFloor, metrics.tangentialTolerance / std::max(distance, metrics.deadZone)));
}

}  // namespace kolvex
