// SPDX-License-Identifier: GPL-3.0-or-later
// The FFmpeg engine's split.
#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <fmt/format.h>

#include "core/ffmpeg/CutPlan.h"
#include "core/ffmpeg/FFmpegEngine.h"
#include "core/ffmpeg/FFmpegJobPaths.h"
#include "core/ffmpeg/KeptInput.h"
#include "core/ffmpeg/LibavKeyframeReader.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

using ffmpeg_paths::partNames;

}  // namespace

std::vector<double> FFmpegEngine::splitPoints(const std::vector<double>& given, double duration) {
    return CutPlan::splitPoints(given, duration);
}

ConversionOutcome FFmpegEngine::split(const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop) const {
    // The split sheet's read of every keyframe kept the file open with what it holds, and where
    // its pictures can be cut; the file's index is not left in memory. Without it, the facts and
    // the cuts come from one opening where the prober can.
    auto kept = KeptInput::take(job.source);
    const bool pictureParts = job.to.category != FormatCategory::audio;
    MediaProbe probe;
    std::optional<StreamCopyCuts> read;
    if (kept)
        probe = std::move(kept->probe);
    else if (pictureParts)
        std::tie(probe, read) = m_prober->probeWithEveryCut(job.source, stop);
    else
        probe = m_prober->probe(job.source, stop);
    const std::shared_ptr<const StreamCopyCuts> keptCuts = kept ? kept->cuts : nullptr;
    kept.reset();
    if (!probe.durationSeconds || !(*probe.durationSeconds > 0.2))
        throw ConversionError::unsupportedCombination(job.from.label + " this short", "several parts");
    auto points = splitPoints(job.options.splitPoints, *probe.durationSeconds);
    if (points.empty())
        throw ConversionError::unsupportedCombination(job.from.label, "parts \u2014 no split point is inside the file");
    if (auto fromUnpacked = splitUnpacked(job, probe, progress, stop)) return std::move(*fromUnpacked);

    // Each part is a trim, planned as the split sheet asked it (CutPlan).
    std::optional<StreamCopyCuts> cuts;
    if (probe.videoCodec && pictureParts) {
        if (keptCuts) {
            cuts = *keptCuts;
        } else if (read) {
            cuts = std::move(read);
        } else {
            try {
                cuts = LibavKeyframeReader().cuts(job.source, stop);
            } catch (const ConversionError&) {
                cuts = StreamCopyCuts();
            }
        }
    }
    const std::vector<ConversionOptions> parts = CutPlan::splitParts(job, points, cuts ? &*cuts : nullptr);

    const size_t count = parts.size();
    const std::vector<fs::path> names = partNames(job.destination, static_cast<int>(count), *m_files);
    std::vector<ConversionJob> partJobs;
    for (size_t i = 0; i < count; ++i)
        partJobs.emplace_back(job.source, std::vector<fs::path>{}, names[i], job.from, job.to, job.capability, parts[i]);
    // The copied parts first, in one run; then each other part in order.
    const double share = 1.0 / static_cast<double>(count);
    double reached = 0;
    std::vector<std::optional<Staged>> made(count);
    if (cuts && !cuts->pictures.empty()) {
        made = stageCopiedParts(partJobs, probe, *cuts, progress, stop);
        for (const auto& part : made) reached += part ? share : 0;
    }
    ConversionOutcome outcome{{}, true, std::nullopt};
    std::vector<StagedOutput> staged;
    // The seconds each part takes: before the first of them is written, the room for all those
    // still to be made is asked.
    std::vector<double> spans;
    for (const auto& part : parts)
        spans.push_back(std::max(0.0, part.trimEnd.value_or(*probe.durationSeconds) - part.trimStart.value_or(0)));
    for (size_t i = 0; i < count; ++i) {
        if (!made[i]) {
            double later = 0;
            for (size_t j = i + 1; j < count; ++j) later += made[j] ? 0 : spans[j];
            try {
                made[i].emplace(stage(partJobs[i], [&](double fraction) {
                    if (progress) progress(reached + fraction * share);
                }, stop, cuts ? &*cuts : nullptr, cuts ? &probe : nullptr, later));
            } catch (const ConversionError& error) {
                if (error.kind() != ConversionError::Kind::insufficientDiskSpace) throw;
                throw splitNeed(error, partJobs, staged, made, i, *probe.durationSeconds);
            }
            reached += share;
        }
        outcome.usedPassthrough = outcome.usedPassthrough && made[i]->usedPassthrough;
        outcome.note = made[i]->note;
        staged.push_back(std::move(made[i]->output));
    }
    StagedOutput::commitAll(staged);
    // A part whose name was taken meanwhile went under the next free one.
    outcome.outputs.clear();
    for (const auto& part : staged) outcome.outputs.push_back(part.destination());
    if (progress) progress(1.0);
    return outcome;
}

}  // namespace kolvex
