// SPDX-License-Identifier: GPL-3.0-or-later
// Sources whose MPEG-4 pictures are packed (DivX, Xvid), copied into another container: every
// path — a conversion, a trim, a split, a merge — works from a stand-in, the source's streams
// copied into an AVI of their own with the pictures unpacked, which is planned and cut as any
// AVI with B-frames is. The stand-in is staged hidden beside the output, on the volume the
// output needs room on (its need counts it), and goes whatever way the job ends.
#include <algorithm>

#include "core/ffmpeg/FFmpegArguments.h"
#include "core/ffmpeg/FFmpegEngine.h"
#include "core/ffmpeg/LeftOutStreams.h"
#include "core/ffmpeg/LibavProber.h"
#include "core/ffmpeg/OutputNeed.h"
#include "core/services/FileManagerService.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

// An error met while working from a stand-in, told of the job: the damaged file is the user's,
// and the room a full disk lacked includes the stand-in's, which is free again once it is gone.
ConversionError toldOfJob(const ConversionError& error, const std::vector<std::pair<fs::path, fs::path>>& standIns,
                          int64_t held) {
    if (error.kind() == ConversionError::Kind::corruptedInput)
        for (const auto& [source, standIn] : standIns)
            if (error.url() == standIn) return ConversionError::corruptedInput(source);
    if (error.kind() == ConversionError::Kind::insufficientDiskSpace)
        return ConversionError::insufficientDiskSpace(error.required() + held, error.available() + held);
    return error;
}

// The share of a job's progress from `from` on that half of it takes: the stand-in's run is the
// first half, the job's from it the second.
ProgressCallback half(const ProgressCallback& progress, double from) {
    return [progress, from](double f) {
        if (progress) progress(from + f / 2);
    };
}

// What the stand-in of a source probed as `probe` holds of it, as a probe of the stand-in finds:
// every picture and sound stream, and the subtitles an AVI takes.
MediaProbe heldByStandIn(MediaProbe probe) {
    std::erase_if(probe.subtitleCodecs, [](const std::string& codec) { return !FFmpegArguments::standInHolds(codec); });
    probe.subtitleTrackCount = static_cast<int64_t>(probe.subtitleCodecs.size());
    probe.dataTrackCount = 0;
    probe.attachmentCount = 0;
    return probe;
}

// The note of a job made from stand-ins, which names what it left out of them (`ofStandIns`),
// told of its sources: what a stand-in could not hold was left out as well.
std::optional<std::string> toldOfSources(std::optional<std::string> note, const LeftOutStreams& ofStandIns,
                                         const LeftOutStreams& ofSources) {
    if (ofStandIns == ofSources) return note;
    const auto said = ofStandIns.note();
    const auto truth = ofSources.note();
    if (!truth) return note;
    if (!said) return note ? *note + " " + *truth : truth;
    // The sentence of what was left out ends the note.
    if (note && note->ends_with(*said)) return note->substr(0, note->size() - said->size()) + *truth;
    return note;
}

// What `run` makes of `job` read from the stand-in of its source probed as `probe`, reporting the
// second half of `progress`; what goes wrong, and what was left out, is told of the job.
template <typename Run>
auto fromStandIn(const ConversionJob& job, const MediaProbe& probe, const StagedOutput& standIn,
                 const FileManagerService& files, const ProgressCallback& progress, Run run) {
    ConversionJob from = job;
    from.source = standIn.path();
    try {
        auto made = run(from, half(progress, 0.5));
        made.note = toldOfSources(std::move(made.note), LeftOutStreams::of(job, heldByStandIn(probe)),
                                  LeftOutStreams::of(job, probe));
        return made;
    } catch (const ConversionError& error) {
        throw toldOfJob(error, {{job.source, standIn.path()}}, files.allocatedSize(standIn.path()).value_or(0));
    }
}

}  // namespace

StagedOutput FFmpegEngine::unpacked(const ConversionJob& job, const fs::path& source, const MediaProbe& probe,
                                    int64_t writtenAfter, const ProgressCallback& report, std::stop_token stop) const {
    fs::path beside = job.destination;
    beside.replace_extension(".avi");
    StagedOutput standIn(beside, StagedOutput::Kind::file, *m_files);
    ConversionJob from = job;
    from.source = source;
    const auto arguments = FFmpegArguments::unpackedCopy(from, probe, standIn.path());
    Log::engine().info("{}: unpacking its pictures before they are copied", paths::lastComponent(source));
    const auto planned = probe.durationSeconds
                             ? OutputNeed::planned(arguments, probe, *probe.durationSeconds, m_files->size(source))
                             : std::nullopt;
    // Before the stand-in is written: room for it and for what is made from it.
    requireRoom(job, planned ? std::optional(OutputNeed::inBlocks(*planned) + OutputNeed::inBlocks(writtenAfter))
                             : std::nullopt);
    try {
        runFFmpeg(from, arguments, probe.durationSeconds, report, std::nullopt, stop, planned);
    } catch (const ConversionError& error) {
        // The job's need is the stand-in's and then what is made from it.
        if (error.kind() != ConversionError::Kind::insufficientDiskSpace) throw;
        throw ConversionError::insufficientDiskSpace(error.required() + OutputNeed::inBlocks(writtenAfter), error.available());
    }
    return standIn;
}

bool FFmpegEngine::needsStandIn(const ConversionJob& job, MediaProbe& probe, std::stop_token stop) const {
    if (probe.demuxer != "avi" || probe.videoCodec != "mpeg4") return false;
    const bool cut = job.isTrim() || job.options.tool == "split";
    if (job.to.id.rawValue == "avi" && !cut) return false;
    // A probe that has not looked at the first pictures (the facts of an opening read for
    // something else) looks now.
    if (!probe.packedBFrames) probe.packedBFrames = LibavProber::picturesPacked(job.source, probe, stop);
    return FFmpegArguments::unpacksFirst(job, PassthroughPlanner::decide(job, probe), probe);
}

FFmpegEngine::Staged FFmpegEngine::stageUnpacked(const ConversionJob& job, const MediaProbe& probe,
                                                 const ProgressCallback& progress, std::stop_token stop) const {
    const int64_t after = expectedPassthroughBytes(job, probe, *m_files).value_or(0);
    const StagedOutput standIn = unpacked(job, job.source, probe, after, half(progress, 0), stop);
    return fromStandIn(job, probe, standIn, *m_files, progress,
                       [&](const ConversionJob& from, const ProgressCallback& report) { return stage(from, report, stop, nullptr); });
}

std::optional<ConversionOutcome> FFmpegEngine::splitUnpacked(const ConversionJob& job, MediaProbe probe,
                                                             const ProgressCallback& progress, std::stop_token stop) const {
    if (!needsStandIn(job, probe, stop)) return std::nullopt;
    const int64_t after = m_files->size(job.source).value_or(0);
    const StagedOutput standIn = unpacked(job, job.source, probe, after, half(progress, 0), stop);
    return fromStandIn(job, probe, standIn, *m_files, progress,
                       [&](const ConversionJob& from, const ProgressCallback& report) { return split(from, report, stop); });
}

std::optional<ConversionOutcome> FFmpegEngine::mergeUnpacked(const ConversionJob& job, std::vector<MediaProbe>& probes,
                                                             const ProgressCallback& progress, std::stop_token stop) const {
    const auto sources = job.allSources();
    std::vector<size_t> packed;
    for (size_t i = 0; i < sources.size() && i < probes.size(); ++i) {
        ConversionJob each = job;
        each.source = sources[i];
        each.additionalSources.clear();
        each.options.tool.reset();
        if (needsStandIn(each, probes[i], stop)) packed.push_back(i);
    }
    if (packed.empty()) return std::nullopt;
    int64_t after = 0;
    for (const auto& source : sources) after += m_files->size(source).value_or(0);
    std::vector<StagedOutput> standIns;
    std::vector<std::pair<fs::path, fs::path>> named;
    std::vector<fs::path> joined = sources;
    int64_t held = 0;
    const double share = 0.5 / static_cast<double>(packed.size());
    try {
        for (size_t k = 0; k < packed.size(); ++k) {
            const size_t i = packed[k];
            standIns.push_back(unpacked(job, sources[i], probes[i], after, [&](double f) {
                if (progress) progress(share * (static_cast<double>(k) + f));
            }, stop));
            joined[i] = standIns.back().path();
            named.emplace_back(sources[i], joined[i]);
            held += m_files->allocatedSize(joined[i]).value_or(0);
        }
    } catch (const ConversionError& error) {
        throw toldOfJob(error, named, held);
    }
    ConversionJob fromStandIns = job;
    fromStandIns.source = joined.front();
    fromStandIns.additionalSources.assign(joined.begin() + 1, joined.end());
    try {
        ConversionOutcome made = merge(fromStandIns, half(progress, 0.5), stop);
        // What the merge read: each packed file's stand-in, every other file itself.
        std::vector<MediaProbe> read = probes;
        for (const size_t i : packed) read[i] = heldByStandIn(probes[i]);
        made.note = toldOfSources(std::move(made.note), LeftOutStreams::ofAll(job, read),
                                  LeftOutStreams::ofAll(job, probes));
        return made;
    } catch (const ConversionError& error) {
        throw toldOfJob(error, named, held);
    }
}

}  // namespace kolvex
