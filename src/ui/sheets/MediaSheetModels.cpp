// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/MediaSheetModels.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

#include <fmt/format.h>

#include "ui/sheets/MediaTime.h"

namespace kolvex {

namespace {

// A length that a sheet can work with: finite and at least `floor`.
double atLeast(double value, double floor) {
    return std::isfinite(value) && value > floor ? value : floor;
}

double clamp01(double value) {
    return std::min(std::max(value, 0.0), 1.0);
}

// Rounding in binary floating point can leave a span a hair below its minimum (5.0 − 4.9);
// such a span still counts as the minimum.
constexpr double kSlack = 1e-9;

}  // namespace

// ---- timeline ----------------------------------------------------------------------------

double TimelineGeometry::trackWidth() const {
    return std::max(width - 2 * kInset, 1.0);
}

double TimelineGeometry::x(double time) const {
    return kInset + trackWidth() * clamp01(duration > 0 ? time / duration : 0);
}

double TimelineGeometry::fraction(double pointerX) const {
    return (pointerX - kInset) / trackWidth();
}

// ---- trim --------------------------------------------------------------------------------

TrimModel::TrimModel(double duration, KeyframeIndex keyframes)
    : duration(atLeast(duration, kMinimumSpan)), keyframes(std::move(keyframes)), end(this->duration) {}

void TrimModel::commitStart(double value) {
    start = std::max(std::min(value, end - kMinimumSpan), 0.0);
}

void TrimModel::commitEnd(double value) {
    end = std::min(std::max(value, start + kMinimumSpan), duration);
}

double TrimModel::dragTo(Edge edge, double pointerX, const TimelineGeometry& timeline) {
    double t = duration * clamp01(timeline.fraction(pointerX));
    t = TrimPlan::magnetised(t, keyframes, duration / std::max(timeline.trackWidth(), 1.0), kPullPoints);
    if (edge == Edge::start) {
        commitStart(t);
        return start;
    }
    commitEnd(t);
    return end;
}

void TrimModel::wholeFile() {
    start = 0;
    end = duration;
}

bool TrimModel::canApply() const {
    return end - start >= kMinimumSpan - kSlack;
}

const TrimModel::Asked& TrimModel::asked() const {
    if (!m_asked || m_asked->question != question.get() || m_asked->start != start || m_asked->end != end) {
        m_asked = Asked{question.get(), start, end, std::nullopt, std::nullopt};
        if (question) m_asked->plan = question->trim(start, end);
    }
    return *m_asked;
}

std::optional<CutPlan> TrimModel::plan() const {
    return asked().plan;
}

bool TrimModel::isStreamCopy() const {
    const auto planned = plan();
    return planned && planned->isCopy();
}

std::optional<TrimModel::Offer> TrimModel::offer() const {
    const Asked& now = asked();
    if (now.offer) return *now.offer;
    const auto& planned = now.plan;
    m_asked->offer = std::optional<Offer>();
    if (!planned || planned->isCopy()) return std::nullopt;
    std::optional<double> time;
    if (planned->cause == CutPlan::Cause::start) {
        time = question->nearestCopyStart(start, end);
        if (time && !(*time <= end - kMinimumSpan + kSlack)) time.reset();
        if (time) m_asked->offer = Offer{Edge::start, *time};
    }
    if (planned->cause == CutPlan::Cause::end) {
        time = question->nearestCopyEnd(start, end);
        if (time && !(*time <= duration && *time >= start + kMinimumSpan - kSlack)) time.reset();
        if (time) m_asked->offer = Offer{Edge::end, *time};
    }
    return *m_asked->offer;
}

void TrimModel::take(const Offer& offer) {
    if (offer.edge == Edge::start)
        commitStart(offer.time);
    else
        commitEnd(offer.time);
}

std::string TrimModel::explanation() const {
    const auto planned = plan();
    if (!planned) return video ? "Reading the keyframes\u2026" : "Reading the file\u2026";
    if (planned->isCopy()) {
        if (video) return "Starts on a keyframe, so this is a stream copy \u2014 instant, and the video is not re-encoded.";
        return "The sound is copied as it is, so this is instant and nothing is re-encoded.";
    }
    if (!video) {
        if (planned->lossless) return "Trimmed to the exact times below, losslessly: the sound is decoded and written again.";
        return "Trimmed to the exact times below by re-encoding the sound, which loses a little quality.";
    }
    const auto offered = offer();
    const std::string instead =
        offered ? " " + std::string(offered->edge == Edge::start ? "Start" : "End") + " at " +
                      MediaTime::format(offered->time) + " for an instant, lossless trim instead."
                : std::string();
    switch (planned->cause) {
    case CutPlan::Cause::end:
        return "The end falls among pictures that are decoded out of order, so this one is re-encoded to end "
               "exactly there." + instead;
    case CutPlan::Cause::start:
        if (offered) return "Cuts exactly where you put it, which means re-encoding this one." + instead;
        if (keyframes.count() < 2)
            return "Cuts exactly where you put it, which means re-encoding this one: its only keyframe is at the start.";
        return "Cuts exactly where you put it, which means re-encoding this one. Snap to a nearby keyframe mark for an "
               "instant, lossless trim instead.";
    case CutPlan::Cause::codec:
    case CutPlan::Cause::none: break;
    }
    return "This trim is re-encoded: " + planned->decision.reason + ".";
}

// ---- split -------------------------------------------------------------------------------

const char* SplitModel::label(Method method) {
    return method == Method::atPoint ? "At a point" : "Equal parts";
}

SplitModel::SplitModel(double duration, KeyframeIndex keyframes)
    : duration(atLeast(duration, kMinimumDuration)), keyframes(std::move(keyframes)), point(this->duration / 2) {}

double SplitModel::snapped(double time) const {
    return keyframes.count() >= 2 ? keyframes.nearest(time) : time;
}

std::vector<double> SplitModel::points() const {
    std::vector<double> cuts;
    if (method == Method::atPoint) {
        if (point > kMargin && point < duration - kMargin) cuts.push_back(point);
        return cuts;
    }
    if (parts < 2) return cuts;
    // Cuts pulled onto the same keyframe, or to an end, would make parts of no length that
    // are never written: each cut keeps the margin from the one before and from the end.
    double previous = 0;
    for (int i = 1; i < parts; ++i) {
        const double cut = snapped(duration * i / parts);
        if (cut > previous + kMargin && cut < duration - kMargin) {
            cuts.push_back(cut);
            previous = cut;
        }
    }
    return cuts;
}

std::vector<CutPlan> SplitModel::plans() const {
    if (!question) return {};
    return question->split(points());
}

std::string SplitModel::explanation() const {
    const auto parts = plans();
    if (parts.empty()) return video ? "Reading the keyframes\u2026" : "Reading the file\u2026";
    std::vector<size_t> reencoded;
    for (size_t i = 0; i < parts.size(); ++i)
        if (!parts[i].isCopy()) reencoded.push_back(i + 1);
    if (reencoded.empty()) {
        if (video) return "Every cut is on a keyframe, so every part is a stream copy \u2014 instant and lossless.";
        return "Every part is a copy of the original sound \u2014 instant and lossless.";
    }
    const bool lossless = std::all_of(parts.begin(), parts.end(), [](const CutPlan& p) { return p.lossless; });
    if (reencoded.size() == parts.size()) {
        if (!video)
            return lossless ? "Every part is decoded and written again without loss, so each starts and ends exactly "
                              "at its cuts."
                            : "Every part is re-encoded so that each starts and ends exactly at its cuts, which loses a "
                              "little quality.";
        if (parts.front().cause == CutPlan::Cause::codec)
            return "Every part is re-encoded: " + parts.front().decision.reason + ".";
    }
    std::string which;
    for (size_t i = 0; i < reencoded.size(); ++i) {
        if (i > 0) which += i + 1 == reencoded.size() ? " and " : ", ";
        which += std::to_string(reencoded[i]);
    }
    const bool one = reencoded.size() == 1;
    return std::string(one ? "Part " : "Parts ") + which + (one ? " is" : " are") +
           " re-encoded, so that " + (one ? "it starts" : "each starts") + " and ends exactly at its cuts" +
           (reencoded.size() < parts.size() ? "; the others are stream copies \u2014 instant and lossless." : ".");
}

std::vector<std::pair<double, double>> SplitModel::outcome() const {
    std::vector<std::pair<double, double>> list;
    double from = 0;
    for (double cut : points()) {
        list.emplace_back(from, cut);
        from = cut;
    }
    list.emplace_back(from, duration);
    return list;
}

double SplitModel::dragTo(double pointerX, const TimelineGeometry& timeline) {
    double t = std::max(duration * timeline.fraction(pointerX), kMargin);
    t = std::min(t, duration - kMargin);
    point = snapped(t);
    return point;
}

double SplitModel::commitTyped(double value) {
    point = snapped(std::min(std::max(value, kMargin), duration - kMargin));
    return point;
}

void SplitModel::setParts(int value) {
    parts = std::min(std::max(value, kMinimumParts), kMaximumParts);
}

// ---- extract audio -----------------------------------------------------------------------

std::string ExtractAudioOption::id() const {
    return format.rawValue + (isCopy ? "-copy" : "");
}

const std::vector<int>& ExtractAudioModel::bitrates() {
    static const std::vector<int> list{96, 128, 192, 256, 320};
    return list;
}

ExtractAudioModel::ExtractAudioModel(std::vector<ExtractAudioOption> options) : options(std::move(options)) {
    if (!this->options.empty()) selection = this->options.front().id();
}

const ExtractAudioOption* ExtractAudioModel::chosen() const {
    for (const auto& option : options)
        if (option.id() == selection) return &option;
    return options.empty() ? nullptr : &options.front();
}

int64_t ExtractAudioModel::bitrateBitsPerSecond() const {
    return static_cast<int64_t>(std::trunc(bitrate)) * 1000;
}

std::optional<int64_t> ExtractAudioModel::bitrateFor(const ExtractAudioOption& option) const {
    if (!option.isLossy) return std::nullopt;
    return bitrateBitsPerSecond();
}

ExtractAudioNote ExtractAudioOption::noteOf(const CutPlan& plan, const std::optional<std::string>& sourceCodec) {
    if (plan.isCopy()) return ExtractAudioNote::copy;
    if (!plan.lossless) return ExtractAudioNote::lossy;
    const std::string codec = sourceCodec.value_or("");
    if (plan.soundEncoder == codec) return ExtractAudioNote::rewritten;
    // Lossless from lossless: larger only when compressed sound is written out as PCM.
    const bool pcm = plan.soundEncoder.starts_with("pcm_");
    if (CutPlan::isLosslessSound(codec) && (!pcm || codec.starts_with("pcm_"))) return ExtractAudioNote::kept;
    return ExtractAudioNote::lossless;
}

ExtractAudioModel::Note ExtractAudioModel::note() const {
    const auto* row = chosen();
    if (row && row->note) return *row->note;
    if (row && row->isCopy) return Note::copy;
    if (row && row->isLossy) return Note::lossy;
    return Note::lossless;
}

std::string ExtractAudioModel::describe(const std::string& codec, const MediaProbe& probe) {
    std::string name = codec;
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::vector<std::string> parts{name};
    if (probe.audioSampleRate) parts.push_back(fmt::format("{:.1f} kHz", static_cast<double>(*probe.audioSampleRate) / 1000));
    if (probe.audioChannels) {
        const auto n = *probe.audioChannels;
        parts.push_back(n == 1 ? "mono" : n == 2 ? "stereo" : fmt::format("{} channels", n));
    }
    if (probe.audioBitrate) parts.push_back(fmt::format("{} kbps", *probe.audioBitrate / 1000));
    return fmt::format("{}", fmt::join(parts, " \u00B7 "));
}

std::optional<int64_t> ExtractAudioModel::estimateAudioSize(const ExtractAudioOption& option,
                                                            std::optional<int64_t> bitrate, const MediaProbe& probe) {
    if (!probe.durationSeconds || !(*probe.durationSeconds > 0) || !std::isfinite(*probe.durationSeconds))
        return std::nullopt;
    const double duration = *probe.durationSeconds;
    auto bytes = [](double value) -> std::optional<int64_t> {
        if (!(value >= 0) || value > 9.0e18) return std::nullopt;
        return static_cast<int64_t>(value);
    };
    if (option.isCopy) {
        if (!probe.audioBitrate) return std::nullopt;
        return bytes(duration * static_cast<double>(*probe.audioBitrate) * 0.125 * 1.02);
    }
    if (option.isLossy) {
        if (!bitrate) return std::nullopt;
        return bytes(duration * static_cast<double>(*bitrate) * 0.125 * 1.02);
    }
    const double rate = probe.audioSampleRate ? static_cast<double>(*probe.audioSampleRate) : 44100.0;
    const double channels = probe.audioChannels ? static_cast<double>(*probe.audioChannels) : 2.0;
    auto uncompressed = bytes(duration * (rate * channels * 2));
    if (!uncompressed) return std::nullopt;
    if (option.format == FormatID("flac")) return bytes(static_cast<double>(*uncompressed) * 0.6);
    return uncompressed;
}

// ---- merge order -------------------------------------------------------------------------

std::optional<size_t> MergeOrder::index(const std::optional<std::filesystem::path>& url) const {
    if (!url) return std::nullopt;
    const auto it = std::find(files.begin(), files.end(), *url);
    if (it == files.end()) return std::nullopt;
    return static_cast<size_t>(it - files.begin());
}

bool MergeOrder::canMove(int offset) const {
    const auto position = index(selection);
    if (!position) return false;
    const auto target = static_cast<int64_t>(*position) + offset;
    return target >= 0 && target < static_cast<int64_t>(files.size());
}

void MergeOrder::move(int offset) {
    if (!canMove(offset)) return;
    const size_t from = *index(selection);
    const auto to = static_cast<size_t>(static_cast<int64_t>(from) + offset);
    auto file = files[from];
    files.erase(files.begin() + static_cast<std::ptrdiff_t>(from));
    files.insert(files.begin() + static_cast<std::ptrdiff_t>(to), file);
}

void MergeOrder::moveRows(const std::vector<size_t>& from, size_t to) {
    std::set<size_t> chosen;
    for (size_t i : from)
        if (i < files.size()) chosen.insert(i);
    if (chosen.empty()) return;
    to = std::min(to, files.size());
    std::vector<std::filesystem::path> moved, rest;
    size_t insertAt = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        if (chosen.contains(i)) {
            moved.push_back(files[i]);
        } else {
            if (i < to) ++insertAt;
            rest.push_back(files[i]);
        }
    }
    rest.insert(rest.begin() + static_cast<std::ptrdiff_t>(insertAt), moved.begin(), moved.end());
    files = std::move(rest);
}

std::string MergeOrder::applyTitle() const {
    return fmt::format("Merge {} files", files.size());
}

}  // namespace kolvex
