// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/AnimationWork.h"

#include <charconv>
#include <cmath>
#include <string>

#include <fmt/format.h>

namespace kolvex {

std::optional<int64_t> AnimationWork::frames(const MediaProbe& probe) {
    if (!probe.durationSeconds || !probe.frameRate || !(*probe.durationSeconds > 0)) return std::nullopt;
    // "50/1", or a plain number.
    const std::string& rate = *probe.frameRate;
    const auto slash = rate.find('/');
    double numerator = 0;
    double denominator = 1;
    const char* end = rate.data() + (slash == std::string::npos ? rate.size() : slash);
    if (std::from_chars(rate.data(), end, numerator).ec != std::errc()) return std::nullopt;
    if (slash != std::string::npos &&
        std::from_chars(rate.data() + slash + 1, rate.data() + rate.size(), denominator).ec != std::errc())
        return std::nullopt;
    if (!(numerator > 0) || !(denominator > 0)) return std::nullopt;
    const double count = std::ceil(*probe.durationSeconds * numerator / denominator);
    if (!std::isfinite(count) || count > 1e15) return std::nullopt;
    return static_cast<int64_t>(count);
}

std::optional<ConversionError> AnimationWork::refusal(const ConversionJob& job, const MediaProbe& probe) {
    if (job.from.category != FormatCategory::image || !probe.width || !probe.height) return std::nullopt;
    const auto count = frames(probe);
    if (!count) return std::nullopt;
    const double pixels = static_cast<double>(*probe.width) * static_cast<double>(*probe.height) * static_cast<double>(*count);
    if (pixels <= static_cast<double>(kMostPixels)) return std::nullopt;
    return ConversionError::beyondLimit(
        job.source, fmt::format("asks for {} frames of {} × {} pixels, more than Kolvex draws from one animation "
                                "({} billion pixels)",
                                *count, *probe.width, *probe.height, kMostPixels / 1'000'000'000));
}

}  // namespace kolvex
