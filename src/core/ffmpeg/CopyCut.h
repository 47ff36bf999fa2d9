// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/ffmpeg/KeyframeIndex.h"

namespace kolvex {

// How a stream copy holds exactly the pictures of a trim, picture by picture, or that it cannot.
// ffmpeg seeks a little before the time it is given when a container has no seek by
// presentation time and the picture has B-frames, and from a file's own start time (which a
// WebM with Opus puts below 0): told to drop what lies before the seek point (-copypriorss 0),
// its copy starts on the first keyframe at or after it, whatever keyframe the seek landed on.
// It ends a copy in decode order, so a copy can only end where every picture before the end is
// decoded before every picture after it. Pure; any thread.
struct CopyCut {
    // The time base of a clock that counts a file's pictures (an AVI's: one tick a picture), as
    // ffmpeg reads the file: num/den seconds a tick.
    struct Clock {
        int64_t num = 0;
        int64_t den = 1;
        bool operator==(const Clock&) const = default;
    };

    // Where the inputs are sought, seconds from the file's start: about a sound frame before the
    // keyframe the copy starts on, never at or before the keyframe ahead of it. None: from the
    // very start.
    std::optional<double> seek;
    // The presentation time of the first picture kept.
    double start = 0;
    // Where ffmpeg is to stop copying pictures (in its decode-order reckoning), seconds from the
    // file's start; none to the end of the stream.
    std::optional<double> pictureEnd;
    // How many pictures the copy holds.
    int64_t pictures = 0;
    // The pictures are ended by their count, dropped past `pictures` as they are read: the read's
    // end (ffmpeg's -t), which ends the sound where asked, would let a picture past the span
    // through (pictures decoded ahead across the end, or one the read's whole milliseconds reach).
    // Only then: the drop costs on every packet it passes.
    bool countsPictures = false;
    // Where ffmpeg's clock for the read's length starts: an AVI's counts its pictures, and the
    // seek's offset rounds onto one, the keyframe; none, the pictures' own times from the seek.
    std::optional<Clock> clock;

    // ffmpeg's -t for a read of the input that ends at `until`, seconds from the file's start:
    // whole milliseconds from the seek point, or from the picture an AVI's seek rounds onto.
    int64_t readMilliseconds(double until) const;

    // None when no copy holds exactly the pictures from `start` (snapped to a keyframe within
    // TrimPlan's tolerance) up to `end`: no keyframe there, pictures decoded out of order across
    // `end`, or no picture in the span. `cuts` must hold every packet from a keyframe at or
    // before the start on, past the first keyframe at or after the end.
    // `soundFrame`: how long one coded frame of the sound lasts, seconds (0 without sound).
    // `clock`: an AVI's picture clock (its video time base), none for any other file.
    static std::optional<CopyCut> plan(const StreamCopyCuts& cuts, double start, std::optional<double> end,
                                       double soundFrame = 0, std::optional<Clock> clock = std::nullopt);
    // How long one coded frame of a sound lasts, as far as its codec and rate tell; about 25 ms
    // when they do not.
    static double soundFrame(const std::optional<std::string>& codec, std::optional<int64_t> sampleRate);
};

}  // namespace kolvex
