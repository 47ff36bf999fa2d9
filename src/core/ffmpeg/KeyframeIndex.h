// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace kolvex {

// The keyframe times of a video, in seconds: sorted, never negative, always starting at 0 (a
// keyframe at the very start is assumed). Lookups are binary searches: a long video has tens of
// thousands of keyframes. A plain value; any thread.
class KeyframeIndex {
public:
    // Keeps the finite values ≥ 0, sorts them and puts 0 in front when it is not the first.
    explicit KeyframeIndex(std::vector<double> times = {});

    const std::vector<double>& times() const { return m_times; }
    size_t count() const { return m_times.size(); }

    // The stored time closest to `time`; on a tie the earlier one.
    double nearest(double time) const;
    // The last stored time ≤ `time`, or the first stored time when `time` lies before it.
    double atOrBefore(double time) const;
    // The first stored time ≥ `time`, if any.
    std::optional<double> atOrAfter(double time) const;
    // The longest stretch between consecutive keyframes; 0 with fewer than two.
    double largestGap() const;
    // Every frame is a keyframe.
    bool isAllIntra(int64_t frameCount) const;

    bool operator==(const KeyframeIndex&) const = default;

private:
    std::vector<double> m_times;
};

// Where a stream copy can cut a video. ffmpeg ends a copy by decode order, which runs ahead of
// the pictures' order by `decodeDelay` when the stream has B-frames: asked to stop at a time, a
// copy would carry the pictures up to that much later. `pictures` holds every packet of the
// stretch read, in decode order, so a cut can be planned picture by picture.
struct StreamCopyCuts {
    struct Picture {
        double time = 0;     // presentation, seconds from the file's start as ffmpeg's -ss counts
        std::optional<double> decodeTime;  // the same for decoding, when the container says
        bool keyframe = false;
        bool operator==(const Picture&) const = default;
    };
    KeyframeIndex keyframes;
    double decodeDelay = 0;  // seconds, the largest presentation-minus-decode time of a keyframe
    std::vector<Picture> pictures;

    // What the keyframe reader reads of a window (from the keyframe at or before its start to
    // some way past the first keyframe at or after its end), taken from this read of the whole
    // stream.
    StreamCopyCuts within(std::pair<double, double> window) const;
};

// Whether a trim can be cut by stream copy where the user asked, and where handles snap to.
struct TrimPlan {
    static constexpr double tolerance = 0.02;  // seconds

    // A copy starting at `start` starts there (within the tolerance of a keyframe, or at the very
    // start, or when no keyframe beyond the first is known).
    static bool copyIsExact(double start, const KeyframeIndex& keyframes);
    static bool requiresReencode(double start, const KeyframeIndex& keyframes);
    // `time` snapped to the nearest keyframe when that lies within `pullPoints` screen points,
    // one point standing for `secondsPerPoint`.
    static double magnetised(double time, const KeyframeIndex& keyframes, double secondsPerPoint, double pullPoints);
    // Where a stream copy asked to start at `time` really starts.
    static double copyWouldStart(double time, const KeyframeIndex& keyframes);
};

}  // namespace kolvex
