// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/CutPlan.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "core/ffmpeg/FFmpegArguments.h"
#include "core/format/SplitPoints.h"

namespace kolvex {

namespace {

constexpr double kSame = 1e-4;  // seconds: times closer than this are one time
// How far around an asked time a sheet looks for one a copy can make.
constexpr double kOfferReach = 5.0;
constexpr size_t kOfferTries = 24;

// The encoder the re-encode of `job` writes its sound with, as the argument builder has it.
std::string soundEncoderOf(const ConversionJob& job, const MediaProbe& probe,
                           const PassthroughPlanner::Decision& decision) {
    if (job.to.category != FormatCategory::audio) return {};
    const auto args = FFmpegArguments::build(job, decision, probe, std::nullopt);
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "-c:a") return args[i + 1];
    return {};
}

// Whether a cut of `job` that keeps pictures shows none: every picture read lies outside its
// span. `cuts` holds the pictures from a keyframe at or before the span on, past its end.
bool showsNoPicture(const ConversionJob& job, const StreamCopyCuts& cuts) {
    if (!job.isTrim() || job.to.category != FormatCategory::video || cuts.pictures.empty()) return false;
    const double start = std::max(0.0, job.options.trimStart.value_or(0));
    const double end = job.options.trimEnd.value_or(std::numeric_limits<double>::infinity());
    return std::none_of(cuts.pictures.begin(), cuts.pictures.end(), [&](const StreamCopyCuts::Picture& picture) {
        return picture.time >= start - kSame && picture.time < end - kSame;
    });
}

}  // namespace

std::optional<std::string> CutPlan::note(const ConversionJob& job) const {
    if (!soundAlone) return std::nullopt;
    const double start = std::max(0.0, job.options.trimStart.value_or(0));
    return job.options.trimEnd
               ? fmt::format("No picture shows from {:.2f} to {:.2f} s: the part holds its sound alone.", start,
                             *job.options.trimEnd)
               : fmt::format("No picture shows from {:.2f} s on: the part holds its sound alone.", start);
}

bool CutPlan::isLosslessSound(const std::string& codec) {
    return codec == "flac" || codec == "alac" || codec.starts_with("pcm_");
}

std::optional<double> CutPlan::seekBefore(const StreamCopyCuts& cuts, double start) {
    const StreamCopyCuts::Picture* keyframe = nullptr;
    for (const auto& picture : cuts.pictures) {
        if (picture.keyframe && picture.time <= start + kSame) keyframe = &picture;
    }
    // A seek to the start would land on the first keyframe, in a file whose sound leads its
    // pictures (Matroska seeks by its pictures' cues), and skip the sound before it.
    if (!keyframe) return cuts.pictures.empty() ? std::nullopt : std::optional(0.0);
    const double decoded = std::min(keyframe->time, keyframe->decodeTime.value_or(keyframe->time));
    // A millisecond's margin, so no rounding of a time base puts the keyframe after the seek point.
    return std::max(0.0, std::floor((decoded - 0.0005) * 1000) / 1000);
}

CutPlan CutPlan::of(const ConversionJob& job, const MediaProbe& probe, const StreamCopyCuts* cuts) {
    CutPlan plan;
    plan.decision = PassthroughPlanner::decide(job, probe);
    if (cuts && job.isTrim() && job.options.trimStart && *job.options.trimStart > 0)
        plan.reencodeSeek = seekBefore(*cuts, *job.options.trimStart);
    if (cuts && showsNoPicture(job, *cuts)) {
        plan.soundAlone = true;
        plan.cause = Cause::start;
        plan.decision = {PassthroughPlanner::Decision::Kind::reencode, true,
                         "the span shows no picture, so its sound alone is kept"};
        return plan;
    }
    if (!plan.decision.isPassthrough()) {
        plan.cause = Cause::codec;
        plan.soundEncoder = soundEncoderOf(job, probe, plan.decision);
        plan.lossless = isLosslessSound(plan.soundEncoder);
        return plan;
    }
    plan.lossless = true;
    if (plan.decision.dropsVideo || !job.isTrim()) return plan;

    // A copied cut of pictures holds exactly the pictures of its span, or the cut is re-encoded.
    const double start = std::max(0.0, job.options.trimStart.value_or(0));
    double soundFrame = CopyCut::soundFrame(probe.audioCodec, probe.audioSampleRate);
    // An AVI counts its pictures in a time base of one picture: ffmpeg's seek offset rounds to
    // the nearest, and a seek more than half a picture before the keyframe keeps the picture
    // before it. Its sound lies beside each picture, so no frame reaches back before it.
    if (const auto picture = FFmpegArguments::aviPictureTime(probe)) soundFrame = std::min(soundFrame, *picture / 4);
    // FLAC's blocks are long (up to 4608 samples): a copied block would start the sound up to
    // that much before the first picture. It is decoded and written again, losslessly, from the
    // keyframe on (FFmpegArguments, for a copied cut).
    if (FFmpegArguments::writesCutSoundAgain(job, probe)) {
        soundFrame = 0;
        plan.soundEncoder = "flac";
    }
    const auto clock = FFmpegArguments::aviClock(probe);
    if (cuts) plan.cut = CopyCut::plan(*cuts, start, job.options.trimEnd, soundFrame, clock);
    if (plan.cut) return plan;
    plan.cause = cuts && job.options.trimEnd && CopyCut::plan(*cuts, start, std::nullopt, soundFrame, clock) ? Cause::end
                                                                                                     : Cause::start;
    plan.lossless = false;
    plan.decision = PassthroughPlanner::Decision::reencode(
        fmt::format("no copy holds exactly {:.3f}\u2013{} s, so the cut is re-encoded", start,
                    job.options.trimEnd ? fmt::format("{:.3f}", *job.options.trimEnd) : std::string("the end")));
    return plan;
}

std::vector<double> CutPlan::splitPoints(const std::vector<double>& given, double duration) {
    return SplitPoints::within(given, duration);
}

std::vector<ConversionOptions> CutPlan::splitParts(const ConversionJob& job, std::vector<double> points,
                                                   const StreamCopyCuts* cuts) {
    if (cuts) {
        for (double& point : points) {
            const double nearest = cuts->keyframes.nearest(point);
            if (std::abs(nearest - point) <= TrimPlan::tolerance && nearest > 0) point = nearest;
        }
    }
    const auto onKeyframe = [&](size_t index) { return !cuts || cuts->keyframes.nearest(points[index]) == points[index]; };
    const size_t count = points.size() + 1;
    std::vector<ConversionOptions> parts;
    for (size_t i = 0; i < count; ++i) {
        ConversionOptions options = job.options;
        options.splitPoints.clear();
        options.tool = "trim";
        options.allowPassthrough = (i == 0 || onKeyframe(i - 1)) && (i + 1 == count || onKeyframe(i));
        options.trimStart = i == 0 ? std::nullopt : std::optional(points[i - 1]);
        options.trimEnd = i + 1 == count ? std::nullopt : std::optional(points[i]);
        parts.push_back(std::move(options));
    }
    return parts;
}

// ---- the sheets' questions ----------------------------------------------------------------

CutQuestion::CutQuestion(ConversionJob job, MediaProbe probe, std::shared_ptr<const StreamCopyCuts> cuts)
    : m_job(std::move(job)), m_probe(std::move(probe)), m_cuts(std::move(cuts)) {
    // A video whose cuts could not be read is cut as the engine cuts it then: by re-encoding.
    if (!m_cuts && m_probe.videoCodec && m_job.to.category != FormatCategory::audio)
        m_cuts = std::make_shared<const StreamCopyCuts>();
    if (!m_cuts) return;
    for (size_t i = 0; i < m_cuts->pictures.size(); ++i)
        if (m_cuts->pictures[i].keyframe) m_keyPositions.push_back(i);
}

ConversionJob CutQuestion::trimJob(double start, double end) const {
    ConversionJob job = m_job;
    job.options.splitPoints.clear();
    job.options.tool = "trim";
    job.options.trimStart = start;
    job.options.trimEnd = end;
    return job;
}

StreamCopyCuts CutQuestion::window(double start, std::optional<double> end) const {
    if (!m_cuts) return StreamCopyCuts();
    // The reader's seek lands on the keyframe at or before a second before the start.
    return m_cuts->within({start - 1.0, end.value_or(std::numeric_limits<double>::infinity())});
}

CutPlan CutQuestion::trim(double start, double end) const {
    const ConversionJob job = trimJob(start, end);
    if (!m_cuts) return CutPlan::of(job, m_probe, nullptr);
    const StreamCopyCuts read = window(start, end);
    return CutPlan::of(job, m_probe, &read);
}

std::vector<CutPlan> CutQuestion::split(const std::vector<double>& points) const {
    std::vector<CutPlan> plans;
    if (!m_probe.durationSeconds) return plans;
    const auto accepted = CutPlan::splitPoints(points, *m_probe.durationSeconds);
    if (accepted.empty()) return plans;
    for (const auto& options : CutPlan::splitParts(m_job, accepted, m_cuts.get())) {
        ConversionJob part = m_job;
        part.options = options;
        plans.push_back(CutPlan::of(part, m_probe, m_cuts.get()));
    }
    return plans;
}

std::optional<double> CutQuestion::nearestCopyStart(double start, double end) const {
    if (!m_cuts) return std::nullopt;
    std::vector<double> candidates;
    const KeyframeIndex starts = copyStarts();
    for (const double time : starts.times())
        if (std::abs(time - start) <= kOfferReach && time < end - kSame) candidates.push_back(time);
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&](double a, double b) { return std::abs(a - start) < std::abs(b - start); });
    if (candidates.size() > kOfferTries) candidates.resize(kOfferTries);
    for (const double candidate : candidates)
        if (trim(candidate, end).isCopy()) return candidate;
    return std::nullopt;
}

std::optional<double> CutQuestion::nearestCopyEnd(double start, double end) const {
    if (!m_cuts) return std::nullopt;
    // A copy ends just before a picture: each picture's time is a place one may end.
    std::vector<double> candidates;
    for (const auto& picture : m_cuts->pictures)
        if (std::abs(picture.time - end) <= kOfferReach && picture.time > start + kSame) candidates.push_back(picture.time);
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&](double a, double b) { return std::abs(a - end) < std::abs(b - end); });
    if (candidates.size() > kOfferTries) candidates.resize(kOfferTries);
    for (const double candidate : candidates)
        if (trim(start, candidate).isCopy()) return candidate;
    return std::nullopt;
}

KeyframeIndex CutQuestion::copyStarts() const {
    if (!m_cuts) return KeyframeIndex{};
    const auto& pictures = m_cuts->pictures;
    // A keyframe starts a closed group when no picture decoded after it shows before it.
    std::vector<double> earliestAfter(pictures.size() + 1, std::numeric_limits<double>::infinity());
    for (size_t i = pictures.size(); i-- > 0;) earliestAfter[i] = std::min(earliestAfter[i + 1], pictures[i].time);
    std::vector<double> starts;
    for (const size_t position : m_keyPositions)
        if (earliestAfter[position + 1] >= pictures[position].time - kSame) starts.push_back(pictures[position].time);
    return KeyframeIndex(std::move(starts));
}

}  // namespace kolvex
