// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/CopiedParts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "core/ffmpeg/FFmpegArguments.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace fs = std::filesystem;

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

// Whether `next` copies on from where `part` ends.
bool continues(const CopiedParts::Part& part, const CopiedParts::Part& next) {
    const auto end = part.job.options.trimEnd;
    const auto start = next.job.options.trimStart;
    return end && start && next.cut.seek && std::abs(*end - *start) < kSame;
}

// The sound part `k` keeps, on the file's clock: as a copy of the part alone takes it, from its
// seek point up to its end as ffmpeg counts it from there (whole milliseconds) — but, when
// `handsOn`, up to the next part's seek point where that part copies on from its end: the sound
// frames between that seek point and the keyframe start that part, and are not heard at the end
// of this one too.
Span soundSpan(const std::vector<CopiedParts::Part>& parts, size_t k, bool handsOn) {
    const CopiedParts::Part& part = parts[k];
    Span sound;
    const double seek = part.cut.seek.value_or(0);
    if (part.cut.seek) sound.from = seek - kHalfTick;
    if (handsOn && k + 1 < parts.size() && continues(part, parts[k + 1]))
        sound.to = *parts[k + 1].cut.seek - kHalfTick;
    else if (const auto end = part.job.options.trimEnd)
        sound.to = seek + std::round((*end - seek) * 1000) / 1000 - kHalfTick;
    return sound;
}

// Where `cut`'s keyframe lies among the pictures in decode order; none when it is not there.
std::optional<size_t> keyframeAt(const StreamCopyCuts& cuts, double start) {
    for (size_t i = 0; i < cuts.pictures.size(); ++i)
        if (cuts.pictures[i].keyframe && std::abs(cuts.pictures[i].time - start) < kSame) return i;
    return std::nullopt;
}

// The presentation times that keep exactly the pictures a copy of `cut` holds: from its keyframe
// on, `cut.pictures` of them in decode order. None when some picture outside them shows between
// two of them.
std::optional<Span> pictureSpan(const StreamCopyCuts& cuts, const CopyCut& cut) {
    const auto& pictures = cuts.pictures;
    const size_t first = keyframeAt(cuts, cut.start).value_or(pictures.size());
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
    for (const Part& part : parts) {
        const auto pictures = pictureSpan(cuts, part.cut);
        if (!pictures) return std::nullopt;
        // An AVI's span stops its pictures too: it ends at the part's end, where the sound frame
        // a cut falls in stays with the part before it.
        const Span sound = soundSpan(parts, static_cast<size_t>(&part - parts.data()), !avi);
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

std::optional<CopiedParts::Segments> CopiedParts::segments(const std::vector<Part>& parts, const MediaProbe& probe,
                                                          const StreamCopyCuts& cuts) {
    if (parts.size() < 2 || !probe.videoCodec || probe.demuxer == "ogg" || probe.demuxer == "avi") return std::nullopt;
    const ConversionJob& job = parts.front().job;
    const std::string& target = job.to.id.rawValue;
    if ((target != "mkv" && target != "webm") || FFmpegArguments::writesCutSoundAgain(job, probe)) return std::nullopt;
    // The segmenting muxer hands its parts no chapters.
    if (probe.chapterCount > 0) return std::nullopt;
    // From the file's first packet to its last, each part beginning where the one before ends.
    if (parts.front().cut.seek || job.options.trimStart || parts.back().job.options.trimEnd) return std::nullopt;
    for (size_t k = 1; k < parts.size(); ++k)
        if (!continues(parts[k - 1], parts[k])) return std::nullopt;

    Segments segments;
    std::vector<std::string> times;
    // The sound frames are handed to a part in the order the muxer interleaves them, by decoding
    // time: moved ahead by as much as each part's seek point lies after its keyframe's decoding
    // time, a frame from that point on comes after the keyframe (the picture stream goes first
    // where the times are equal).
    std::optional<double> shift;
    size_t first = 0;
    for (size_t k = 0; k < parts.size(); ++k) {
        const CopyCut& cut = parts[k].cut;
        const auto at = keyframeAt(cuts, cut.start);
        // The muxer cuts before a keyframe, in decode order: each part must be the pictures from
        // its keyframe up to the next part's.
        if (!at || *at != first || cut.pictures <= 0) return std::nullopt;
        first += static_cast<size_t>(cut.pictures);
        segments.pictures += cut.pictures;
        if (k == 0) continue;
        // A part begins at the first keyframe shown at or after its time: none between the last
        // part's keyframe and its own may show as late.
        const size_t previous = *keyframeAt(cuts, parts[k - 1].cut.start);
        for (size_t i = previous; i < *at; ++i)
            if (cuts.pictures[i].keyframe && cuts.pictures[i].time > cut.start - 0.001) return std::nullopt;
        times.push_back(fmt::format("{:.6f}", cut.start - 0.0005));
        const auto decoded = cuts.pictures[*at].decodeTime;
        if (!decoded) return std::nullopt;
        const double ahead = *cut.seek - *decoded;
        if (shift && std::abs(*shift - ahead) > 1e-6) return std::nullopt;
        shift = ahead;
    }
    if (first != cuts.pictures.size()) return std::nullopt;

    std::vector<std::string>& args = segments.arguments;
    args = FFmpegArguments::common();
    const auto format = FFmpegArguments::inputFormat(probe.demuxer);
    args.insert(args.end(), format.begin(), format.end());
    args.insert(args.end(), {"-i", paths::absolute(job.source).string()});
    const auto mapping = FFmpegArguments::copyMapping(job, probe);
    args.insert(args.end(), mapping.begin(), mapping.end());
    if (probe.audioCodec && shift && std::abs(*shift) > 1e-6) {
        // The muxer interleaves in microseconds: the shift must be whole ones to be exact.
        const double micro = *shift * 1e6;
        if (std::abs(micro - std::round(micro)) > 1e-3) return std::nullopt;
        if (*shift > 0) {
            args.insert(args.end(), {"-audio_preload", fmt::format("{}", std::llround(micro))});
        } else {
            // The pictures' decoding times move back instead (never past a presentation time),
            // in the sound's ticks so that equal times stay equal.
            if (!probe.audioTimeBase || probe.audioTimeBase != probe.videoTimeBase) return std::nullopt;
            args.insert(args.end(), {"-bsf:v", fmt::format("setts=dts=DTS-round({:.6f}/TB)", -*shift)});
        }
    }
    // The outer muxer is no file: its parts' own muxers decide where their times start. Each
    // part's time line starts at its keyframe, the first keeps the file's own.
    args.insert(args.end(), {"-avoid_negative_ts", "disabled", "-f", "segment", "-segment_format",
                             target == "webm" ? "webm" : "matroska", "-segment_times", fmt::format("{}", fmt::join(times, ",")),
                             "-reset_timestamps", "1"});
    segments.parts = parts.size();
    segments.extension = target;
    return segments;
}

void CopiedParts::Segments::into(const fs::path& folder) {
    std::string pattern;
    for (const char c : paths::absolute(folder).string()) pattern += c == '%' ? std::string("%%") : std::string(1, c);
    list = folder / "parts.csv";
    arguments.insert(arguments.end(), {"-segment_list", paths::absolute(list).string(), "-segment_list_type", "csv",
                                       pattern + "/%d." + extension});
    files.clear();
    for (size_t k = 0; k < parts; ++k) files.push_back(folder / fmt::format("{}.{}", k, extension));
}

bool CopiedParts::listedAsPlanned(std::string_view list, const std::vector<Part>& parts) {
    // One line a part: its file's name, the time it starts and the time it ends (a name may hold
    // commas; the times do not). Read whatever the locale.
    std::vector<double> starts;
    while (!list.empty()) {
        const size_t end = std::min(list.find('\n'), list.size());
        const std::string_view line = list.substr(0, end);
        list.remove_prefix(std::min(end + 1, list.size()));
        if (line.empty()) continue;
        const size_t last = line.rfind(',');
        const size_t middle = last == std::string_view::npos || last == 0 ? last : line.rfind(',', last - 1);
        if (middle == std::string_view::npos) return false;
        double start = 0;
        const auto [at, error] = std::from_chars(line.data() + middle + 1, line.data() + last, start);
        if (error != std::errc() || at != line.data() + last) return false;
        starts.push_back(start);
    }
    if (starts.size() != parts.size()) return false;
    for (size_t k = 1; k < parts.size(); ++k)
        if (std::abs(starts[k] - parts[k].cut.start) > 0.001) return false;
    return true;
}

}  // namespace kolvex
