// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/KeyframeIndex.h"

#include <algorithm>
#include <cmath>

namespace kolvex {

KeyframeIndex::KeyframeIndex(std::vector<double> times) {
    std::erase_if(times, [](double t) { return !(t >= 0) || !std::isfinite(t); });
    std::sort(times.begin(), times.end());
    if (times.empty() || times.front() != 0) times.insert(times.begin(), 0.0);
    m_times = std::move(times);
}

double KeyframeIndex::nearest(double time) const {
    if (m_times.empty()) return 0;
    // The first time not below `time`, and the one before it: the closer wins, the earlier on a tie.
    const auto after = std::lower_bound(m_times.begin(), m_times.end(), time);
    if (after == m_times.begin()) return *after;
    if (after == m_times.end()) return m_times.back();
    const double before = *std::prev(after);
    return std::abs(time - *after) < std::abs(time - before) ? *after : before;
}

double KeyframeIndex::atOrBefore(double time) const {
    if (m_times.empty()) return 0;
    if (time < m_times.front()) return m_times.front();
    return *std::prev(std::upper_bound(m_times.begin(), m_times.end(), time));
}

std::optional<double> KeyframeIndex::atOrAfter(double time) const {
    const auto found = std::lower_bound(m_times.begin(), m_times.end(), time);
    if (found == m_times.end()) return std::nullopt;
    return *found;
}

double KeyframeIndex::largestGap() const {
    double gap = 0;
    for (size_t i = 1; i < m_times.size(); ++i) gap = std::max(gap, m_times[i] - m_times[i - 1]);
    return gap;
}

bool KeyframeIndex::isAllIntra(int64_t frameCount) const {
    return frameCount >= 1 && static_cast<int64_t>(m_times.size()) >= frameCount;
}

bool TrimPlan::copyIsExact(double start, const KeyframeIndex& keyframes) {
    if (start <= tolerance) return true;
    if (keyframes.count() < 2) return true;
    return std::abs(start - keyframes.nearest(start)) <= tolerance;
}

bool TrimPlan::requiresReencode(double start, const KeyframeIndex& keyframes) { return !copyIsExact(start, keyframes); }

double TrimPlan::magnetised(double time, const KeyframeIndex& keyframes, double secondsPerPoint, double pullPoints) {
    if (keyframes.count() < 2 || !(secondsPerPoint > 0)) return time;
    const double keyframe = keyframes.nearest(time);
    return std::abs(time - keyframe) <= secondsPerPoint * pullPoints ? keyframe : time;
}

double TrimPlan::copyWouldStart(double time, const KeyframeIndex& keyframes) {
    if (keyframes.count() <= 1) return time;
    return keyframes.atOrBefore(time);
}

StreamCopyCuts StreamCopyCuts::within(std::pair<double, double> window) const {
    constexpr double kSame = 1e-4;  // seconds: times closer than this are one time
    constexpr int kReorderDepth = 16;  // as the keyframe reader reads past the end
    // The seek lands on the last keyframe at or before the window's start.
    const double seek = std::max(0.0, window.first);
    size_t from = 0;
    for (size_t i = 0; i < pictures.size(); ++i) {
        if (!pictures[i].keyframe) continue;
        if (pictures[i].time > seek + kSame) break;
        from = i;
    }
    StreamCopyCuts read;
    std::vector<double> keptKeyframes;
    std::optional<int> afterEnd;
    for (size_t i = from; i < pictures.size(); ++i) {
        const auto& picture = pictures[i];
        if (afterEnd && (*afterEnd)-- <= 0) break;
        if (!afterEnd && picture.keyframe && picture.time >= window.second) afterEnd = kReorderDepth;
        if (picture.keyframe && !afterEnd) {
            keptKeyframes.push_back(picture.time);
            if (picture.decodeTime) read.decodeDelay = std::max(read.decodeDelay, picture.time - *picture.decodeTime);
        }
        read.pictures.push_back(picture);
    }
    read.keyframes = KeyframeIndex(std::move(keptKeyframes));
    return read;
}

}  // namespace kolvex
