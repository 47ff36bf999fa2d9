// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/CopiedParts.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "core/ffmpeg/FFmpegArguments.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace {

constexpr double kSame = 1e-4;  // seconds: times closer than this are one time, as CopyCut has it
// Half a microsecond: ffmpeg's own stop compares whole microseconds, a packet's time in its time
// base may fall a rounding below one.
constexpr double kHalfTick = 5e-7;

// The times a part keeps, seconds on the run's clock: from ≤ t < to, unbounded where none.
struct Span {
    std::optional<double> from;
    std::optional<double> to;
};

// The presentation times that keep exactly the pictures a copy of `cut` holds: from its keyframe
// on, `cut.pictures` of them in decode order. None when some picture outside them shows between
// two of them.
std::optional<Span> pictureSpan(const StreamCopyCuts& cuts, const CopyCut& cut) {
    const auto& pictures = cuts.pictures;
    size_t first = 0;
    while (first < pictures.size() && !(pictures[first].keyframe && std::abs(pictures[first].time - cut.start) < kSame))
        ++first;
    // A copy with no seek point starts with the file's first packet.
    if (!cut.seek && first != 0) return std::nullopt;
    if (cut.pictures <= 0 || first + static_cast<size_t>(cut.pictures) > pictures.size()) return std::nullopt;
    const size_t end = first + static_cast<size_t>(cut.pictures);
    double earliest = std::numeric_limits<double>::infinity();
    double latest = -earliest;
    for (size_t i = first; i < end; ++i) {
        earliest = std::min(earliest, pictures[i].time);
        latest = std::max(latest, pictures[i].time);
    }
    std::optional<double> before;
    std::optional<double> after;
    for (size_t i = 0; i < pictures.size(); ++i) {
        if (i == first) i = end;
        if (i == pictures.size()) break;
        const double time = pictures[i].time;
        if (time > earliest - kSame && time < latest + kSame) return std::nullopt;
        if (time < earliest)
            before = std::max(before.value_or(time), time);
        else
            after = std::min(after.value_or(time), time);
    }
    Span span;
    if (before) span.from = (*before + earliest) / 2;
    if (after) span.to = (latest + *after) / 2;
    return span;
}

// The drop expression of the noise filter that passes `span` of a stream's packets by `clock`
// ("pts"), counted from `base`; none when the span is unbounded.
std::optional<std::string> dropOutside(const Span& span, double base) {
    std::string expression;
    if (span.from) expression = fmt::format("lt(pts*tb\\,{:.7f})", *span.from - base);
    if (span.to) expression += fmt::format("{}gte(pts*tb\\,{:.7f})", expression.empty() ? "" : "+", *span.to - base);
    if (expression.empty()) return std::nullopt;
    return "noise=drop=" + expression;
}

// The output options that keep `span` of every stream's packets by `clock`, counted from `base`:
// what reaches the output from its start on, up to its stop. Exact for streams whose packets are
// read in the order they show.
std::vector<std::string> outputSpan(const Span& span, double base) {
    std::vector<std::string> options;
    if (span.from) options.insert(options.end(), {"-ss", fmt::format("{:.7f}", *span.from - base), "-copypriorss", "0"});
    if (span.to) options.insert(options.end(), {"-to", fmt::format("{:.7f}", *span.to - base)});
    return options;
}

}  // namespace

std::optional<std::vector<std::string>> CopiedParts::arguments(const std::vector<Part>& parts, const MediaProbe& probe,
                                                               const StreamCopyCuts& cuts) {
    if (parts.size() < 2 || !probe.videoCodec || probe.demuxer == "ogg") return std::nullopt;
    // Sound written again from each part's keyframe (FLAC) is cut by each part's own run.
    if (FFmpegArguments::writesCutSoundAgain(parts.front().job, probe)) return std::nullopt;
    // An AVI states no presentation times: ffmpeg makes them up as it reads, from each picture's
    // place in the file. They are the times the parts were planned by only when no picture is
    // decoded out of order (no packed B-frames).
    const bool avi = probe.demuxer == "avi";
    if (avi && probe.videoDecodeDelay != 0) return std::nullopt;
    // The file is read from the earliest seek point on (from its start when a part starts there).
    std::optional<double> base;
    for (const auto& part : parts) {
        if (!part.cut.seek) {
            base.reset();
            break;
        }
        base = std::min(base.value_or(*part.cut.seek), *part.cut.seek);
    }
    // An AVI's seek lands on its grid of whole pictures, and its clock then counts from there:
    // it is read from its start, on the times its index gives.
    if (avi) base.reset();
    std::vector<std::string> args = FFmpegArguments::common();
    if (avi) args.insert(args.end(), {"-fflags", "+genpts"});
    if (base) args.insert(args.end(), {"-ss", FFmpegArguments::timestamp(*base)});
    const auto format = FFmpegArguments::inputFormat(probe.demuxer);
    args.insert(args.end(), format.begin(), format.end());
    args.insert(args.end(), {"-i", paths::absolute(parts.front().job.source).string()});
    const double origin = base.value_or(0);
    for (const auto& part : parts) {
        const auto pictures = pictureSpan(cuts, part.cut);
        if (!pictures) return std::nullopt;
        // The sound as a copy of the part alone takes it: from its seek point, up to its end as
        // ffmpeg counts it from there (whole milliseconds).
        Span sound;
        const double seek = part.cut.seek.value_or(0);
        if (part.cut.seek) sound.from = seek - kHalfTick;
        if (const auto end = part.job.options.trimEnd)
            sound.to = seek + std::round((*end - seek) * 1000) / 1000 - kHalfTick;
        const auto mapping = FFmpegArguments::copyMapping(part.job, probe);
        args.insert(args.end(), mapping.begin(), mapping.end());
        if (avi) {
            // Shown as decoded, pictures and sound alike pass from the sound's start to its end
            // in the order they are read: the output's own start and stop keep the same packets
            // as the filters below, without the filter's pass over every byte kept.
            const auto keeps = outputSpan(sound, origin);
            args.insert(args.end(), keeps.begin(), keeps.end());
        } else {
            if (const auto filter = dropOutside(*pictures, origin)) args.insert(args.end(), {"-bsf:v", *filter});
            if (const auto filter = dropOutside(sound, origin); filter && probe.audioCodec)
                args.insert(args.end(), {"-bsf:a", *filter});
        }
        // The keyframe starts the part's time line (a sound frame it falls in starts just before).
        // (An output's own start has moved it back by that much already.)
        const double moved = avi && sound.from ? *sound.from - origin : 0;
        if (part.cut.seek)
            args.insert(args.end(),
                        {"-output_ts_offset", fmt::format("-{:.6f}", std::max(0.0, part.cut.start - origin - moved))});
        const auto flags = FFmpegArguments::containerFlags(part.job.to);
        args.insert(args.end(), flags.begin(), flags.end());
        args.push_back(paths::absolute(part.job.destination).string());
    }
    return args;
}

}  // namespace kolvex
