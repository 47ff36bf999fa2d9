// SPDX-License-Identifier: GPL-3.0-or-later
// The FFmpeg engine's merge.
#include <algorithm>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "core/ffmpeg/AudioTagArguments.h"
#include "core/ffmpeg/BareAacEnd.h"
#include "core/ffmpeg/FFmpegArguments.h"
#include "core/ffmpeg/FFmpegEncoders.h"
#include "core/ffmpeg/FFmpegEngine.h"
#include "core/ffmpeg/FFmpegJobPaths.h"
#include "core/ffmpeg/FFmpegProgressParser.h"
#include "core/ffmpeg/LeftOutStreams.h"
#include "core/ffmpeg/LibavKeyframeReader.h"
#include "core/ffmpeg/MergePlan.h"
#include "core/ffmpeg/OutputNeed.h"
#include "core/ffmpeg/OutputReadback.h"
#include "core/ffmpeg/ClipSpan.h"
#include "core/services/ErrorMapper.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"
#include "core/services/ProcessRunner.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

using ffmpeg_paths::sameFile;
using ffmpeg_paths::writingTo;

bool holdsLineBreak(const fs::path& path) { return path.string().find_first_of("\n\r") != std::string::npos; }

// Where a file's pictures and sound lie, or none when it cannot be read. Kept out of the loop
// that uses it: an optional assigned inside a try block there was read uninitialised after the
// throw (g++ 12 at -O2).
std::optional<ClipSpan> readSpan(const fs::path& source, std::stop_token stop) {
    try {
        return ClipSpan::read(source, stop);
    } catch (const ConversionError& error) {
        Log::engine().info("merge: where the pictures of an input lie is unknown: {}", error.shortDescription());
        return std::nullopt;
    }
}

// Where a bare AAC file's sound is last heard, or none when that cannot be read.
std::optional<double> heardEnd(const fs::path& source, std::stop_token stop) {
    try {
        return BareAacEnd::read(source, stop);
    } catch (const ConversionError& error) {
        Log::engine().info("merge: where the sound of an input ends is unknown: {}", error.shortDescription());
        return std::nullopt;
    }
}

}  // namespace

std::string FFmpegEngine::playlist(const std::vector<fs::path>& sources) {
    std::string text;
    for (const auto& source : sources) {
        text += "file '";
        for (const char c : paths::absolute(source).string()) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
        text += "'\n";
    }
    return text;
}

std::string FFmpegEngine::playlist(const std::vector<fs::path>& sources, const std::vector<double>& durations) {
    std::string text;
    for (size_t i = 0; i < sources.size(); ++i) {
        text += playlist({sources[i]});
        if (i < durations.size()) text += fmt::format("duration {:.6f}\n", durations[i]);
    }
    return text;
}

std::optional<std::vector<FFmpegEngine::MergedClip>> FFmpegEngine::mergedClips(const std::vector<std::optional<ClipSpan>>& spans) {
    const size_t n = spans.size();
    for (const auto& span : spans)
        if (!span || !(span->pictureEnd > span->pictureStart)) return std::nullopt;
    // The concat demuxer puts each file's pictures where the previous file's listed duration
    // ends, counted from the file's own start: listed so, each file's first picture follows the
    // previous file's last. `offset` turns a file's own times into the joined stream's.
    std::vector<MergedClip> clips(n);
    std::vector<double> offset(n);
    double listedSum = 0;
    for (size_t i = 0; i < n; ++i) {
        const ClipSpan& span = *spans[i];
        offset[i] = listedSum - span.fileStart;
        clips[i].listedDuration = span.pictureEnd - span.fileStart;
        if (i + 1 < n) clips[i].listedDuration -= spans[i + 1]->pictureStart - spans[i + 1]->fileStart;
        if (!(clips[i].listedDuration > 0)) return std::nullopt;
        listedSum += clips[i].listedDuration;
    }
    // Each file's sound runs from the previous join to the next, on its own clock: from the very
    // start for the first, to the last picture's end for the last. A join lies where the pictures
    // meet unless both files' sounds reach across it from the same side — a sound that starts
    // before its pictures after one that ends before them — then where the first ends, so that no
    // silence falls between them and each stays with its pictures.
    double join = 0;
    for (size_t i = 0; i < n; ++i) {
        const ClipSpan& span = *spans[i];
        double next = offset[i] + span.pictureEnd;
        if (i + 1 < n && span.soundEnd && spans[i + 1]->soundStart) {
            const double ends = offset[i] + *span.soundEnd;
            const double starts = offset[i + 1] + *spans[i + 1]->soundStart;
            if (starts <= ends) next = std::clamp(next, starts, ends);
        }
        clips[i].soundFrom = join - offset[i];
        clips[i].soundLength = next - join;
        if (!(clips[i].soundLength > 0)) return std::nullopt;
        join = next;
    }
    return clips;
}

std::vector<std::string> FFmpegEngine::pictureCopyArguments(const ConversionJob& job, const std::vector<fs::path>& sources,
                                                            const MergePlan& plan, const std::vector<MergedClip>& clips,
                                                            const std::vector<std::optional<std::string>>& demuxers) {
    std::vector<std::string> args = FFmpegArguments::common();
    // Every file's own clock, so the pictures' times and the sound's cuts count alike.
    const auto timed = FFmpegArguments::joinedPictureTimes(job.to, demuxers);
    args.insert(args.end(), timed.begin(), timed.end());
    args.insert(args.end(), {"-copyts", "-f", "concat", "-safe", "0", "-i", kPlaylistPlaceholder});
    std::string graph;
    std::string inputs;
    for (size_t i = 0; i < sources.size(); ++i) {
        const auto format = FFmpegArguments::inputFormat(i < demuxers.size() ? demuxers[i] : std::nullopt);
        args.insert(args.end(), format.begin(), format.end());
        args.insert(args.end(), {"-i", paths::absolute(sources[i]).string()});
        // Silence stands in where the sound starts late or ends early; what lies outside the
        // pictures (the encoder's delay and padding) is cut.
        const MergedClip& clip = clips.at(i);
        graph += fmt::format("[{0}:a:0]asetpts=PTS-({1:.6f})/TB,aresample=first_pts=0,apad=whole_dur={2:.6f},"
                             "atrim=end={2:.6f},asetpts=PTS-STARTPTS[a{3}];",
                             i + 1, clip.soundFrom, clip.soundLength, i);
        inputs += fmt::format("[a{}]", i);
    }
    graph += inputs + fmt::format("concat=n={}:v=0:a=1[outa]", sources.size());
    // Lossless sound (ALAC) stays lossless; coded sound keeps its rate of data, at least that of a
    // re-encoded merge's.
    const auto kept = FFmpegEncoders::keepingEncoder(job.to, plan.soundCodec);
    args.insert(args.end(), {"-filter_complex", graph, "-map", "0:V:0", "-map", "[outa]", "-sn", "-dn", "-c:v", "copy",
                             "-c:a", kept.value_or(FFmpegArguments::audioEncoder(job.to))});
    if (!kept) {
        const int64_t bitrate = std::clamp<int64_t>(plan.audioBitrate.value_or(0), 192000, 320000);
        args.insert(args.end(), {"-b:a", fmt::format("{}k", bitrate / 1000)});
    }
    const auto flags = FFmpegArguments::containerFlags(job.to);
    args.insert(args.end(), flags.begin(), flags.end());
    args.push_back(paths::absolute(job.destination).string());
    return args;
}

std::vector<std::string> FFmpegEngine::streamCopyArguments(const ConversionJob& job,
                                                           const std::vector<std::optional<std::string>>& demuxers) {
    std::vector<std::string> args = FFmpegArguments::common();
    const auto timed = FFmpegArguments::joinedPictureTimes(job.to, demuxers);
    args.insert(args.end(), timed.begin(), timed.end());
    // The same streams as any other conversion keeps: the first video and the first audio.
    args.insert(args.end(), {"-f", "concat", "-safe", "0", "-i", kPlaylistPlaceholder, "-map", "0:V:0?", "-map", "0:a:0?",
                             "-sn", "-dn", "-c", "copy"});
    const auto flags = FFmpegArguments::containerFlags(job.to);
    args.insert(args.end(), flags.begin(), flags.end());
    args.push_back(paths::absolute(job.destination).string());
    return args;
}

std::vector<std::string> FFmpegEngine::normalisingArguments(const ConversionJob& job, const std::vector<fs::path>& sources,
                                                            const MergePlan& plan,
                                                            const std::vector<std::optional<std::string>>& demuxers,
                                                            const std::vector<std::optional<ClipSpan>>& spans) {
    std::vector<std::string> args = FFmpegArguments::common();
    for (size_t i = 0; i < sources.size(); ++i) {
        const auto format = FFmpegArguments::inputFormat(i < demuxers.size() ? demuxers[i] : std::nullopt);
        args.insert(args.end(), format.begin(), format.end());
        args.insert(args.end(), {"-i", paths::absolute(sources[i]).string()});
    }
    std::string graph;
    std::string inputs;
    // 4:2:0 pictures have even sides.
    const int64_t width = (plan.width + 1) / 2 * 2;
    const int64_t height = (plan.height + 1) / 2 * 2;
    // A lossless target keeps the deepest input's samples whole; a lossy encoder takes floats.
    MediaProbe deepest;
    deepest.audioBitsPerSample = plan.audioBitsPerSample;
    // Files that share a codec the target's encoder would change keep it: ALAC, FLAC and PCM (in
    // AVI, which takes any) stay lossless.
    auto kept = FFmpegEncoders::keepingEncoder(job.to, plan.soundCodec);
    if (!kept && (plan.soundCodec == "pcm_s16le" || plan.soundCodec == "pcm_s24le") && job.to.id.rawValue == "avi")
        kept = plan.soundCodec;
    const std::string audioEncoder =
        AudioTagArguments::pcmEncoder(job.to, deepest).value_or(kept.value_or(FFmpegArguments::audioEncoder(job.to)));
    const bool deep = plan.audioBitsPerSample.value_or(16) > 16;
    std::string sampleFormat = "fltp";
    if (audioEncoder == "flac" || audioEncoder.rfind("pcm_", 0) == 0) sampleFormat = deep ? "s32" : "s16";
    if (audioEncoder == "alac") sampleFormat = deep ? "s32p" : "s16p";
    const bool lossless = audioEncoder == "alac" || audioEncoder == "flac" || audioEncoder.rfind("pcm_", 0) == 0;
    for (size_t i = 0; i < sources.size(); ++i) {
        // Every input's streams start from 0, so each adds its own length and no gap (a Matroska
        // copy of an MP4 starts its pictures late).
        // AVI states no presentation times (a decoder gives pictures behind B-frames late ones,
        // the last none): its pictures follow each other at its frame rate, each on a whole tick
        // (the quotient computed lands a hair below one now and then, and would be cut down onto
        // the picture before).
        const bool untimed = i < demuxers.size() && demuxers[i] == "avi";
        if (plan.wantsVideo) {
            graph += fmt::format("[{0}:V:0]{3},scale={1}:{2}:force_original_aspect_ratio=decrease,"
                                 "pad={1}:{2}:-1:-1,setsar=1[v{0}];",
                                 i, width, height, untimed ? "setpts=round(N/FRAME_RATE/TB)" : "setpts=PTS-STARTPTS");
            inputs += fmt::format("[v{}]", i);
        }
        if (plan.wantsAudio) {
            const ClipSpan* span = plan.wantsVideo && i < spans.size() && spans[i] ? &*spans[i] : nullptr;
            // A coded sound ends on a whole frame, past the file's stated end: each input adds
            // only its own length — its pictures' where they are known.
            auto length = i < plan.durations.size() ? plan.durations[i] : std::nullopt;
            if (span) length = span->pictureEnd - span->pictureStart;
            // An AVI's sound is timed by its bytes alone: it starts with its pictures.
            if (untimed) span = nullptr;
            const std::string end = length && *length > 0 ? fmt::format("atrim=end={:.6f},", *length) : "";
            const bool silent = i < plan.sounded.size() && !plan.sounded[i];
            // An encoder's delay the file plays as silence is left out, so none falls at the join.
            const double priming = i < plan.primings.size() ? plan.primings[i] : 0;
            std::string from;
            if (silent) {
                // A file without sound lasts as long in silence (when its length is unknown, the
                // joining pads it to its pictures' end).
                from = fmt::format("anullsrc=r={}:cl=stereo,{}", plan.sampleRate,
                                   end.empty() ? std::string("atrim=end_sample=1,") : end);
            } else if (span && length && *length > 0) {
                // The sound from where the pictures start, on the same clock as they are (the
                // file's start is ffmpeg's 0): a sound that starts earlier is cut there, one that
                // starts later waits in silence. A sound that both starts and ends before its
                // pictures (Opus in WebM) is taken that much earlier, rather than leave silence at
                // the join.
                double early = 0;
                if (span->soundStart && span->soundEnd)
                    early = std::clamp(span->pictureEnd - *span->soundEnd, 0.0,
                                       std::max(0.0, span->pictureStart - *span->soundStart));
                from = fmt::format("[{0}:a:0]asetpts=PTS-({1:.6f})/TB,aresample=first_pts=0,apad=whole_dur={2:.6f},"
                                   "atrim=end={2:.6f},asetpts=PTS-STARTPTS,",
                                   i, span->pictureStart - early - span->fileStart + priming, *length);
            } else if (priming > 0) {
                from = fmt::format("[{}:a:0]asetpts=PTS-STARTPTS,atrim=start={:.6f},asetpts=PTS-STARTPTS,{}", i, priming, end);
            } else {
                from = fmt::format("[{}:a:0]asetpts=PTS-STARTPTS,{}", i, end);
            }
            graph += fmt::format("{1}aresample={2},aformat=sample_fmts={3}:channel_layouts=stereo[a{0}];", i, from,
                                 plan.sampleRate, sampleFormat);
            inputs += fmt::format("[a{}]", i);
        }
    }
    graph += inputs + fmt::format("concat=n={}:v={}:a={}", sources.size(), plan.wantsVideo ? 1 : 0, plan.wantsAudio ? 1 : 0);
    if (plan.wantsVideo) graph += "[joined]";
    std::vector<std::string> joinedSound;
    if (const auto priming = plan.wantsVideo ? FFmpegArguments::primingCut(job.to, audioEncoder) : std::nullopt)
        joinedSound.push_back(*priming);
    if (const auto shift = FFmpegArguments::preSkipShift(job.to, audioEncoder)) joinedSound.push_back(*shift);
    if (plan.wantsAudio) graph += joinedSound.empty() ? "[outa]" : "[joineda]";
    if (plan.wantsAudio && !joinedSound.empty()) graph += fmt::format(";[joineda]{}[outa]", fmt::join(joinedSound, ","));
    // One frame rate for the joined pictures: each file keeps its own length, where a rate set
    // per file would round each to whole frames and move every later join.
    if (plan.wantsVideo) graph += fmt::format(";[joined]fps={}[outv]", plan.frameRate);
    args.insert(args.end(), {"-filter_complex", graph});
    if (plan.wantsVideo) {
        args.insert(args.end(), {"-map", "[outv]", "-c:v", FFmpegArguments::videoEncoder(job.to)});
        const auto picture = FFmpegArguments::playablePicture(job.to);
        args.insert(args.end(), picture.begin(), picture.end());
        const auto threading = FFmpegArguments::encoderThreading(job.to, width);
        args.insert(args.end(), threading.begin(), threading.end());
    }
    if (plan.wantsAudio) {
        args.insert(args.end(), {"-map", "[outa]", "-c:a", audioEncoder});
        if (!lossless) args.insert(args.end(), {"-b:a", "192k"});
    }
    const auto flags = FFmpegArguments::containerFlags(job.to);
    args.insert(args.end(), flags.begin(), flags.end());
    args.push_back(paths::absolute(job.destination).string());
    return args;
}

ConversionOutcome FFmpegEngine::merge(const ConversionJob& job, const ProgressCallback& progress,
                                      std::stop_token stop) const {
    const auto sources = job.allSources();
    if (sources.size() < 2)
        throw ConversionError::unsupportedCombination("a single file", "a merged file \u2014 select several");
    for (const auto& source : sources)
        if (sameFile(source, job.destination)) throw ConversionError::outputNameUnavailable(job.destination);
    std::vector<MediaProbe> probes;
    for (const auto& source : sources) probes.push_back(m_prober->probe(source, stop));

    MergePlan plan(probes, job.to);
    std::vector<std::optional<std::string>> demuxers;
    for (const auto& probe : probes) demuxers.push_back(probe.demuxer);
    bool streamCopy = plan.canStreamCopy;
    std::string reason = plan.reason;
    // A line break in a name would end its playlist line early and let the rest read as an entry.
    if (streamCopy && std::any_of(sources.begin(), sources.end(), holdsLineBreak)) {
        streamCopy = false;
        reason = "re-encoding: a file name holds a line break";
    }
    if (streamCopy && plan.wantsVideo)
        if (auto fromUnpacked = mergeUnpacked(job, probes, progress, stop)) return std::move(*fromUnpacked);
    // Where each file's pictures and sound lie on its own clock, for the sound to meet the
    // pictures at every join: copied pictures with re-encoded sound, or both re-encoded.
    std::vector<std::optional<ClipSpan>> spans;
    if ((streamCopy && plan.reencodesSound) || (!streamCopy && plan.wantsVideo && plan.wantsAudio)) {
        for (size_t i = 0; i < sources.size(); ++i) {
            std::optional<ClipSpan> span = readSpan(sources[i], stop);
            // Unread, the probe's stated length stands for its pictures'.
            if (!span && probes[i].durationSeconds) span = ClipSpan{0, 0, *probes[i].durationSeconds, {}, {}};
            // An AVI's pictures last as many pictures as it holds (its stated length is its
            // longest stream's, often the sound's).
            if (const auto picture = FFmpegArguments::aviPictureTime(probes[i]); picture && probes[i].videoCodec) {
                try {
                    const auto count = LibavKeyframeReader::pictureCount(sources[i], stop);
                    if (count > 0) span = ClipSpan{0, 0, static_cast<double>(count) * *picture, {}, {}};
                } catch (const ConversionError&) {
                }
            }
            spans.push_back(span);
        }
    }
    std::optional<std::vector<MergedClip>> clips;
    if (streamCopy && plan.reencodesSound) {
        clips = mergedClips(spans);
        if (!clips) {
            streamCopy = false;
            reason = "re-encoding: where some file's pictures begin and end is unknown";
        }
    }
    if (!streamCopy && !plan.wantsVideo && !plan.wantsAudio)
        throw ConversionError::unsupportedCombination("files with no stream in common", job.to.label);
    if (!streamCopy) requireEncodersFor(job);
    if (clips) {
        const auto& encoders = m_encoders->names();
        if (!encoders.empty() && !encoders.contains(FFmpegEncoders::keepingEncoder(job.to, plan.soundCodec)
                                                               .value_or(FFmpegEncoders::audioEncoder(job.to))))
            throw ConversionError::unsupportedCombination(job.from.label, job.to.label);
    }
    Log::engine().info("merge {} file(s): {}", sources.size(), reason);
    // Bare AAC states no length (its stated one is a guess from its bit rate): each file's sound
    // lasts to where it is last heard, so the encoder's padding at its end falls at no join as
    // silence; when that cannot be read, all of its sound is kept.
    if (!streamCopy && plan.wantsAudio) {
        for (size_t i = 0; i < sources.size() && i < plan.durations.size(); ++i) {
            if (demuxers[i] != "aac") continue;
            const auto end = heardEnd(sources[i], stop);
            const double priming = i < plan.primings.size() ? plan.primings[i] : 0;
            plan.durations[i] = end && *end > priming ? std::optional(*end - priming) : std::nullopt;
        }
    }

    std::mutex trackerLock;
    FFmpegProgressParser parser(plan.totalDuration, 0);
    const ProcessRunner::LineCallback onLine = [&](const std::string& line) {
        std::lock_guard lock(trackerLock);
        if (const auto fraction = parser.consume(line); fraction && progress) progress(*fraction);
    };
    StagedOutput output(job.destination, StagedOutput::Kind::file, *m_files);
    const ConversionJob staged = writingTo(job, output.path());
    auto arguments = clips        ? pictureCopyArguments(staged, sources, plan, *clips, demuxers)
                     : streamCopy ? streamCopyArguments(staged, demuxers)
                                  : normalisingArguments(staged, sources, plan, demuxers, spans);
    // Before it is written, the room for it: a copy takes what the files hold, a re-encode what
    // its plan writes over their joined length.
    int64_t sourceBytes = 0;
    for (const auto& source : sources) sourceBytes += m_files->size(source).value_or(0);
    std::optional<int64_t> need;
    if (streamCopy && sourceBytes > 0) {
        need = sourceBytes;
    } else if (!streamCopy && plan.totalDuration) {
        MediaProbe joined = probes.front();
        joined.durationSeconds = plan.totalDuration;
        need = OutputNeed::planned(arguments, joined, *plan.totalDuration, sourceBytes);
    }
    requireRoom(job, need);

    return m_temporary.withScratchDirectory([&](const fs::path& scratch) {
        if (streamCopy) {
            const fs::path list = scratch / "inputs.txt";
            {
                std::ofstream out(list, std::ios::binary | std::ios::trunc);
                std::vector<double> durations;
                if (clips)
                    for (const auto& clip : *clips) durations.push_back(clip.listedDuration);
                out << playlist(sources, durations);
                out.close();
                if (!out) throw fs::filesystem_error("Cannot write the merge list", list, std::make_error_code(std::errc::io_error));
            }
            std::replace(arguments.begin(), arguments.end(), std::string(kPlaylistPlaceholder), list.string());
        }
        const ProcessResult result = ProcessRunner().run(m_tools.ffmpeg, arguments, std::nullopt, onLine, nullptr, stop);
        const auto size = m_files->size(output.path());
        if (result.exitCode != 0 || !size || *size < 1) {
            throw ErrorMapper::map(ErrorMapper::Program::ffmpeg, result.exitCode, result.standardError(), job, *m_files);
        }
        OutputReadback::check(output.path(), job.source, job.to, plan.totalDuration, stop);
        output.commit();
        if (progress) progress(1.0);
        // What any input held beyond the streams kept.
        const LeftOutStreams left = LeftOutStreams::ofAll(job, probes);
        // Copied pictures beside re-encoded sound are no whole copy: the note says which was which.
        std::optional<std::string> note = left.note();
        if (clips) {
            const std::string sound = "The pictures are copied; the sound is re-encoded to meet them at every join.";
            note = note ? sound + " " + *note : sound;
        }
        return ConversionOutcome{{output.destination()}, streamCopy, std::move(note)};
    });
}

}  // namespace kolvex
