// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/CopyCut.h"

#include <cmath>

namespace kolvex {

namespace {

constexpr double kSame = 1e-4;  // seconds: times closer than this are one time
constexpr int64_t kSameMicroseconds = 100;
constexpr int64_t kMicroseconds = 1'000'000;

// Whole milliseconds, as the command line writes a time.
double milliseconds(double seconds) { return std::round(seconds * 1000) / 1000; }

// A time the keyframe reader gives (or the command line reads), in whole microseconds: it
// states them so.
int64_t microseconds(double seconds) { return std::llround(seconds * 1e6); }

__extension__ typedef __int128 Wide;

// a·b/c to the nearest whole, halves away from 0, as FFmpeg moves a time between time bases.
int64_t rescaled(Wide a, Wide b, Wide c) {
    const Wide product = a * b;
    const Wide magnitude = ((product < 0 ? -product : product) + c / 2) / c;
    return static_cast<int64_t>(product < 0 ? -magnitude : magnitude);
}

// Ticks of `clock` since the file's start at `us` microseconds.
int64_t ticks(const CopyCut::Clock& clock, int64_t us) { return rescaled(us, clock.den, Wide(clock.num) * kMicroseconds); }
// Microseconds of `count` ticks of `clock`.
int64_t ticksToMicroseconds(const CopyCut::Clock& clock, int64_t count) {
    return rescaled(count, Wide(clock.num) * kMicroseconds, clock.den);
}

// Whether a picture at `us` lies on `clock`'s ticks, within a microsecond's printing.
bool onClock(const CopyCut::Clock& clock, int64_t us) { return std::abs(ticksToMicroseconds(clock, ticks(clock, us)) - us) <= 1; }

// How the read's end (ffmpeg's -t) meets the pictures at a copy's end.
enum class ReadEnd {
    exact,     // it passes every picture kept and stops the first left out
    tooLate,   // it lets the first picture left out through: the pictures are ended by count
    tooEarly,  // it stops a picture kept: no copy holds the span
};

// ffmpeg stops a stream at its first packet (in decode order) whose decode time, counted as
// the read's length is, reaches the length. `lastKept`, `firstLeft`: the decode times, seconds
// from the file's start, of the last picture kept and the first left out.
ReadEnd readEnd(const CopyCut& cut, double lastKept, double firstLeft, int64_t length) {
    if (cut.clock) {
        // An AVI's picture clock: the seek's offset rounds onto a tick, and every time after
        // it is whole ticks from there, known exactly.
        const CopyCut::Clock& clock = *cut.clock;
        const int64_t kept = microseconds(lastKept), left = microseconds(firstLeft);
        if (onClock(clock, kept) && onClock(clock, left)) {
            const int64_t origin = cut.seek ? ticks(clock, microseconds(*cut.seek)) : 0;
            const int64_t limit = length * 1000;
            if (ticksToMicroseconds(clock, ticks(clock, kept) - origin) >= limit) return ReadEnd::tooEarly;
            return ticksToMicroseconds(clock, ticks(clock, left) - origin) >= limit ? ReadEnd::exact : ReadEnd::tooLate;
        }
    }
    // The pictures' own times, from the seek point: its rounding into the stream's time base is
    // not known here, so a picture kept must lie clear of the end.
    const int64_t asked = microseconds(cut.seek.value_or(0)) + length * 1000;
    if (microseconds(lastKept) >= asked) return ReadEnd::tooEarly;
    return microseconds(lastKept) < asked - kSameMicroseconds && asked <= microseconds(firstLeft) ? ReadEnd::exact
                                                                                                 : ReadEnd::tooLate;
}

}  // namespace

int64_t CopyCut::readMilliseconds(double until) const {
    const int64_t end = microseconds(until);
    if (!clock) return rescaled(end - microseconds(seek.value_or(0)), 1, 1000);
    // From the tick the seek rounds onto, exactly.
    const int64_t origin = seek ? ticks(*clock, microseconds(*seek)) : 0;
    return rescaled(Wide(end) * clock->den - Wide(origin) * clock->num * kMicroseconds, 1, Wide(clock->den) * 1000);
}

std::optional<CopyCut> CopyCut::plan(const StreamCopyCuts& cuts, double start, std::optional<double> end,
                                     double soundFrame, std::optional<Clock> clock) {
    const auto& pictures = cuts.pictures;
    if (pictures.empty()) return std::nullopt;
    if (clock && !(clock->num > 0 && clock->den > 0)) clock.reset();
    CopyCut cut;
    cut.clock = clock;
    size_t first = 0;  // decode-order index of the keyframe the copy starts on
    if (start > TrimPlan::tolerance) {
        const double keyframe = cuts.keyframes.nearest(start);
        if (!(std::abs(keyframe - start) <= TrimPlan::tolerance)) return std::nullopt;
        while (first < pictures.size() && !(pictures[first].keyframe && std::abs(pictures[first].time - keyframe) < kSame))
            ++first;
        if (first == pictures.size()) return std::nullopt;
        cut.start = pictures[first].time;
        // A sound frame before it, so the frame the keyframe falls in is kept (a container with
        // edit lists hides its head), but after the keyframe before it; at least half a
        // millisecond before it, so no rounding of a time base puts it ahead of the seek point.
        // Whole milliseconds, as the command line has them.
        double seek = std::floor((cut.start - 0.0005 - std::max(0.0, soundFrame)) * 1000) / 1000;
        std::optional<double> before;
        for (const double time : cuts.keyframes.times())
            if (time < cut.start - kSame && time > 0) before = time;
        for (size_t i = 0; i < first; ++i)
            if (pictures[i].keyframe && pictures[i].time < cut.start - kSame) before = std::max(before.value_or(0), pictures[i].time);
        if (before && seek < *before + 0.0005) seek = std::ceil((*before + 0.0005) * 1000) / 1000;
        if (!(seek <= cut.start - 0.0005)) return std::nullopt;
        if (seek > 0) cut.seek = seek;
    } else {
        cut.start = pictures.front().time;
        for (const auto& picture : pictures) cut.start = std::min(cut.start, picture.time);
    }

    // Every picture after the start keyframe in decode order must show at or after it (a closed
    // group of pictures), and those before the end must all be decoded before those after it.
    std::optional<size_t> past;  // decode-order index of the first picture at or after the end
    for (size_t i = first; i < pictures.size(); ++i) {
        const double time = pictures[i].time;
        if (time < cut.start - kSame) return std::nullopt;
        const bool after = end && time >= *end - kSame;
        if (after && !past) past = i;
        if (!after) {
            if (past) return std::nullopt;
            ++cut.pictures;
        }
    }
    if (cut.pictures == 0) return std::nullopt;
    if (!past) return cut;

    // Stop between the last picture kept and the first left out, in decode order.
    const auto decoded = [&](size_t i) { return pictures[i].decodeTime.value_or(pictures[i].time); };
    const double lastKept = decoded(*past - 1);
    const double firstLeft = decoded(*past);
    const double base = cut.seek.value_or(0);
    // Where the end itself stops the pictures too (every picture kept is decoded before it and
    // every one left out at or after it: no B-frames across it), one reading of the file serves
    // sound and pictures alike. ffmpeg leaves out a picture decoded exactly at its end.
    switch (readEnd(cut, lastKept, firstLeft, cut.readMilliseconds(*end))) {
    case ReadEnd::exact: cut.pictureEnd = *end; return cut;
    case ReadEnd::tooEarly: return std::nullopt;
    case ReadEnd::tooLate: break;
    }
    cut.countsPictures = true;
    const double stop = base + milliseconds((lastKept + firstLeft) / 2 - base);
    if (!(stop > lastKept + kSame && stop <= firstLeft - kSame)) return std::nullopt;
    // ffmpeg counts the stop from the seek point: a stop at or before it (a picture or two from
    // a keyframe of a stream decoded well ahead) cannot be asked, and a copy would run on to the
    // end of the file.
    if (!(stop - base >= 0.001)) return std::nullopt;
    cut.pictureEnd = stop;
    return cut;
}

double CopyCut::soundFrame(const std::optional<std::string>& codec, std::optional<int64_t> sampleRate) {
    if (!codec) return 0;
    if (*codec == "opus") return 0.02;
    if (!sampleRate || *sampleRate <= 0) return 0.025;
    double samples = 1024;  // AAC, and a guess for the rest
    if (*codec == "mp3" || *codec == "mp2") samples = 1152;
    if (*codec == "ac3" || *codec == "eac3") samples = 1536;
    if (*codec == "vorbis") samples = 2048;
    // FLAC's and ALAC's encoders write blocks of 4608 and 4096 samples: a seek a shorter way
    // before the keyframe would drop the block the keyframe falls in, and the part would start
    // in silence.
    if (*codec == "flac") samples = 4608;
    if (*codec == "alac") samples = 4096;
    return samples / static_cast<double>(*sampleRate);
}

}  // namespace kolvex
