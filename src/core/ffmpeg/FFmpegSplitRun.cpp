// SPDX-License-Identifier: GPL-3.0-or-later
// The copied parts of a split, written together by one run of ffmpeg; what a split needs when
// the disk is full.
#include <fstream>
#include <iterator>

#include "core/ffmpeg/CopiedParts.h"
#include "core/ffmpeg/CutPlan.h"
#include "core/ffmpeg/FFmpegEngine.h"
#include "core/ffmpeg/FFmpegJobPaths.h"
#include "core/ffmpeg/FFmpegProgressParser.h"
#include "core/ffmpeg/LeftOutStreams.h"
#include "core/ffmpeg/LibavKeyframeReader.h"
#include "core/ffmpeg/OutputNeed.h"
#include "core/ffmpeg/OutputReadback.h"
#include "core/ffmpeg/PassthroughProgressWatcher.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

// Whether the run `ran` cut `parts` where `segments` planned them, by what ffmpeg reported and
// listed.
bool segmentedAsPlanned(const CopiedParts::Segments& segments, const std::vector<CopiedParts::Part>& parts,
                        const ProcessResult& ran) {
    // Every picture written, and each part begun at its keyframe: then each holds the pictures
    // from its keyframe up to the next part's, as planned.
    if (FFmpegProgressParser::picturesWritten(ran.standardOutputData) != segments.pictures) return false;
    std::ifstream list(segments.list, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(list)), std::istreambuf_iterator<char>());
    return CopiedParts::listedAsPlanned(text, parts);
}

}  // namespace

std::vector<std::optional<FFmpegEngine::Staged>> FFmpegEngine::stageCopiedParts(const std::vector<ConversionJob>& jobs,
                                                                               const MediaProbe& probe,
                                                                               const StreamCopyCuts& cuts,
                                                                               const ProgressCallback& progress,
                                                                               std::stop_token stop) const {
    std::vector<std::optional<Staged>> done(jobs.size());
    // The parts each planned as a copy that holds exactly its span, as stage() would plan them.
    std::vector<size_t> copied;
    std::vector<CopyCut> planned;
    for (size_t i = 0; i < jobs.size(); ++i) {
        const CutPlan plan = CutPlan::of(jobs[i], probe, &cuts);
        if (!plan.isCopy() || !plan.cut || plan.decision.dropsVideo) continue;
        copied.push_back(i);
        planned.push_back(*plan.cut);
    }
    if (copied.size() < 2) return done;

    std::vector<StagedOutput> outputs;
    outputs.reserve(copied.size());
    std::vector<CopiedParts::Part> parts;
    for (size_t k = 0; k < copied.size(); ++k) {
        outputs.emplace_back(jobs[copied[k]].destination, StagedOutput::Kind::file, *m_files);
        parts.push_back({ffmpeg_paths::writingTo(jobs[copied[k]], outputs.back().path()), planned[k]});
    }
    // Parts that make up the whole file are cut where they meet, each packet passed on whole;
    // others are each filtered out of the file as it passes.
    // Their muxer writes them into a folder of their own beside the parts, made only for it.
    std::optional<StagedOutput> folder;
    std::optional<CopiedParts::Segments> segments;
    if (copied.size() == jobs.size()) segments = CopiedParts::segments(parts, probe, cuts);
    if (segments) {
        folder.emplace(jobs.front().destination, StagedOutput::Kind::folder, *m_files);
        segments->into(folder->path());
    }
    const auto arguments = segments ? std::optional(segments->arguments) : CopiedParts::arguments(parts, probe, cuts);
    if (!arguments) return done;
    const ConversionJob& first = jobs[copied.front()];
    Log::engine().info("{}\u2192{}: {} parts copied in one run", first.from.label, first.to.label, copied.size());

    // ffmpeg's own progress follows only the first output (or part): the files' growth tells it.
    std::vector<fs::path> paths;
    int64_t expected = 0;
    for (size_t k = 0; k < copied.size(); ++k) {
        paths.push_back(segments ? segments->files[k] : outputs[k].path());
        expected += expectedPassthroughBytes(jobs[copied[k]], probe, *m_files).value_or(0);
    }
    // Before any part is written, the room for every part: those made on their own after this
    // run as well, at the copy's rate.
    int64_t whole = 0;
    for (const auto& part : jobs) whole += expectedPassthroughBytes(part, probe, *m_files).value_or(0);
    requireRoom(first, whole > 0 ? std::optional(whole) : std::nullopt);
    // Reported as the share of the whole split these parts make.
    const double share = static_cast<double>(copied.size()) / static_cast<double>(jobs.size());
    const ProgressCallback report = [&](double fraction) {
        if (progress) progress(fraction * share);
    };
    report(0.02);
    auto watcher = PassthroughProgressWatcher::watch(paths, expected, PassthroughProgressWatcher::interval, report, *m_files);
    ProcessResult ran;
    try {
        ran = runFFmpeg(first, *arguments, std::nullopt, report, std::nullopt, stop);
    } catch (const ConversionError& failure) {
        watcher.cancel();
        // What a copy's muxer refuses is left to each part's own run, which re-encodes when its
        // copy fails too; a full disk or a damaged source ends here.
        if (failure.kind() != ConversionError::Kind::backendFailure &&
            failure.kind() != ConversionError::Kind::unsupportedCodec)
            throw;
        Log::engine().warn("the parts of {} copied together failed ({}); copying each on its own",
                           paths::lastComponent(first.source), failure.shortDescription());
        return done;
    }
    watcher.cancel();
    if (segments && !segmentedAsPlanned(*segments, parts, ran)) {
        Log::engine().warn("the parts of {} were not cut where planned; making each on its own",
                           paths::lastComponent(first.source));
        return done;
    }

    // Each part must hold the pictures planned; one that does not is made again on its own.
    for (size_t k = 0; k < copied.size(); ++k) {
        const ConversionJob& job = jobs[copied[k]];
        // ffmpeg counts the first part's as it writes them; the others are read back. Parts cut
        // where planned hold them already.
        int64_t pictures = -1;
        if (segments) {
            outputs[k].adopt(segments->files[k]);
            pictures = planned[k].pictures;
        } else if (k == 0) {
            pictures = FFmpegProgressParser::picturesWritten(ran.standardOutputData).value_or(-1);
        }
        try {
            if (pictures != planned[k].pictures) pictures = LibavKeyframeReader::pictureCount(outputs[k].path(), stop);
        } catch (const ConversionError&) {
            pictures = -1;
        }
        const auto size = m_files->size(outputs[k].path());
        if (pictures != planned[k].pictures || !size || *size < 1) {
            Log::engine().warn("part {} of {} held {} pictures for {} planned; making it on its own", copied[k] + 1,
                               paths::lastComponent(job.source), pictures, planned[k].pictures);
            continue;
        }
        OutputReadback::check(outputs[k].path(), job.source, job.to, outputDuration(job, probe), stop);
        done[copied[k]].emplace(Staged{std::move(outputs[k]), true, LeftOutStreams::of(job, probe).note()});
    }
    return done;
}

ConversionError FFmpegEngine::splitNeed(const ConversionError& error, const std::vector<ConversionJob>& parts,
                                        const std::vector<StagedOutput>& before,
                                        const std::vector<std::optional<Staged>>& made, size_t failed,
                                        double duration) const {
    // The whole split's need: every part, not the one that found no room. What the parts
    // written so far hold is free again once they are gone.
    std::vector<double> spans;
    std::vector<int64_t> written;
    int64_t held = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        const auto& options = parts[i].options;
        spans.push_back(std::max(0.0, options.trimEnd.value_or(duration) - options.trimStart.value_or(0)));
        int64_t bytes = 0;
        if (i < failed && i < before.size())
            bytes = m_files->allocatedSize(before[i].path()).value_or(0);
        else if (i > failed && made[i])
            bytes = m_files->allocatedSize(made[i]->output.path()).value_or(0);
        written.push_back(bytes);
        held += bytes;
    }
    // The parts made are moved to the front: the rate they show stands for the rest.
    std::vector<double> orderedSpans;
    std::vector<int64_t> orderedWritten;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i == failed || (i > failed && !made[i])) continue;
        orderedSpans.push_back(spans[i]);
        orderedWritten.push_back(written[i]);
    }
    const size_t done = orderedSpans.size();
    orderedSpans.push_back(spans[failed]);
    for (size_t i = failed + 1; i < parts.size(); ++i)
        if (!made[i]) orderedSpans.push_back(spans[i]);
    const int64_t need = OutputNeed::ofSplit(orderedSpans, orderedWritten, done, error.required());
    return ConversionError::insufficientDiskSpace(std::max(need, error.required()), error.available() + held);
}

}  // namespace kolvex
