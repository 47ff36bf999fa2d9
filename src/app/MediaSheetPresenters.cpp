// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MediaSheetPresenters.h"

#include <algorithm>

#include <QPointer>

#include "app/SheetRequest.h"
#include "app/ToolParameterFlow.h"
#include "core/ffmpeg/ContainerCompatibility.h"
#include "core/ffmpeg/CutPlan.h"
#include "core/format/ConversionError.h"
#include "core/format/FormatRegistry.h"
#include "core/modules/EngineModules.h"
#include "core/services/Log.h"
#include "ui/sheets/ExtractAudioView.h"
#include "ui/sheets/MediaPreview.h"
#include "ui/sheets/MergeOrderView.h"
#include "ui/sheets/SplitView.h"
#include "ui/sheets/TrimView.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

// The job the sheet's answer would start, as the coordinator plans a tool's job: what the
// engine's plan is asked about. None when the registry does not know the file.
std::optional<ConversionJob> sheetJob(const SheetRequest& request, ConversionOptions options) {
    const auto registry = request.sources().registry;
    const auto from = request.format();
    if (!registry || !from) return std::nullopt;
    Format to = *from;
    const auto tool = registry->tool(request.tool());
    if (options.outputFormat) {
        if (auto format = registry->format(*options.outputFormat)) to = *format;
    } else if (tool && tool->outputFormat) {
        if (auto format = registry->format(*tool->outputFormat)) to = *format;
    }
    options.tool = request.tool();
    options.allowPassthrough =
        ConversionOptions::containerOnlyTools().contains(request.tool()) && options.allowPassthrough;
    const ConversionCapability capability{from->id, to.id, engine_ids::ffmpeg, ConversionCost::subprocess, true};
    return ConversionJob(request.file(), {}, request.file(), *from, to, capability, std::move(options));
}

// Where a copy can cut (videos) and the waveform (audio) are read after the sheet is up; each
// lands in the view that is still showing when it arrives. The sheet's promise is the engine's
// plan, asked with what was read.
template <typename View>
void fillIn(const std::shared_ptr<SheetRequest>& request, View* view, bool isVideo, const MediaProbe& probe) {
    const fs::path file = request->file();
    auto media = request->sources().media;
    QPointer<View> guard(view);
    const auto job = sheetJob(*request, ToolParameterFlow::baseOptions());
    if (isVideo) {
        request->template prepare<StreamCopyCuts>(
            [media, file](std::stop_token stop) { return media->copyCuts(file, stop); },
            [guard, job, probe](StreamCopyCuts cuts) {
                if (!guard) return;
                if (!job) return guard->setKeyframes(std::move(cuts.keyframes));
                guard->setQuestion(std::make_shared<const CutQuestion>(
                    *job, probe, std::make_shared<const StreamCopyCuts>(std::move(cuts))));
            },
            [guard, request, job, probe](const std::string& reason) {
                Log::app().info("No keyframes for {}: {}", request->fileName(), reason);
                if (!guard) return;
                guard->setKeyframes(KeyframeIndex{});
                if (job) guard->setQuestion(std::make_shared<const CutQuestion>(*job, probe, nullptr));
            });
        return;
    }
    if (job) view->setQuestion(std::make_shared<const CutQuestion>(*job, probe, nullptr));
    request->template prepare<std::optional<std::vector<float>>>(
        [media, file](std::stop_token stop) { return media->waveform(file, stop); },
        [guard](std::optional<std::vector<float>> waveform) {
            if (guard) guard->setWaveform(std::move(waveform));
        },
        [request](const std::string& reason) {
            Log::app().info("No waveform for {}: {}", request->fileName(), reason);
        });
}

const struct {
    const char* id;
    const char* detail;
    bool lossy;
} kReencodeRows[] = {
    {"mp3", "Works everywhere", true},
    {"m4a", "Smaller than MP3 at the same quality", true},
    {"wav", "Uncompressed \u2014 large, and lossless", false},
    {"flac", "Compressed, and still lossless", false},
};

}  // namespace

void TimelinePresenter::present(const std::shared_ptr<SheetRequest>& request) const {
    const bool split = m_split;
    if (split && !request->isMedia()) return request->runWithDefaults();  // nothing to cut by time
    auto media = request->sources().media;
    if (!media) return request->fail("FFmpeg is not available");
    const fs::path file = request->file();
    const bool isVideo = request->isVideo();
    request->prepare<MediaProbe>(
        [media, file](std::stop_token stop) { return media->probe(file, stop); },
        [request, split, isVideo](MediaProbe probe) {
            // A split needs room for two parts of more than the sheet's margin each.
            const double minimum = split ? 4 * SplitModel::kMargin : 0.0;
            if (!probe.durationSeconds || !(*probe.durationSeconds > minimum))
                return request->fail(request->fileName() + (split ? " is too short to split" : " has no duration"));
            const double duration = *probe.durationSeconds;
            FrameProvider frames = framePreview(EngineModules::frameProvider(request->file(), isVideo));
            if (split) {
                auto* view = new SplitView(
                    duration, KeyframeIndex{}, request->fileName(), frames, std::nullopt, request->prompt("Split"),
                    [request](std::vector<double> cuts, BatchChoice choice) {
                        auto options = ToolParameterFlow::baseOptions();
                        options.splitPoints = std::move(cuts);
                        request->apply(options, choice);
                    },
                    [request] { request->cancel(); });
                if (isVideo) view->awaitKeyframes();
                request->show("Split " + request->fileName(), view);
                fillIn(request, view, isVideo, probe);
                return;
            }
            auto* view = new TrimView(
                duration, KeyframeIndex{}, request->fileName(), frames, std::nullopt, request->prompt("Trim"),
                [request](double start, double end, BatchChoice choice) {
                    auto options = ToolParameterFlow::baseOptions();
                    // The engine copies exactly when its plan says so, as the sheet said.
                    options.trimStart = start;
                    options.trimEnd = end;
                    request->apply(options, choice);
                },
                [request] { request->cancel(); });
            if (isVideo) view->awaitKeyframes();
            request->show("Trim " + request->fileName(), view);
            fillIn(request, view, isVideo, probe);
        });
}

void ExtractAudioPresenter::present(const std::shared_ptr<SheetRequest>& request) const {
    auto media = request->sources().media;
    if (!media) return request->runWithDefaults();
    const fs::path file = request->file();
    request->prepare<MediaProbe>(
        [media, file](std::stop_token stop) { return media->probe(file, stop); },
        [request](MediaProbe probe) {
            if (!probe.audioCodec) return request->runWithDefaults();
            const auto registry = request->sources().registry;
            std::vector<ExtractAudioOption> rows;
            if (auto container = ContainerCompatibility::audioContainer(*probe.audioCodec); container && registry) {
                // Whether the track is kept as it is: what the engine's plan says for that file.
                auto options = ToolParameterFlow::baseOptions();
                options.outputFormat = *container;
                const auto job = sheetJob(*request, options);
                const auto plan = job ? std::optional(CutPlan::of(*job, probe, nullptr)) : std::nullopt;
                const auto format = registry->format(*container);
                if (format && plan && plan->isCopy())
                    rows.push_back({*container, format->label + " \u2014 keep the original track",
                                    ExtractAudioModel::describe(*probe.audioCodec, probe), true, false,
                                    ExtractAudioOption::noteOf(*plan, probe.audioCodec)});
                else if (format && plan && plan->lossless)
                    rows.push_back({*container, format->label + " \u2014 the original sound, written again",
                                    ExtractAudioModel::describe(*probe.audioCodec, probe), false, false,
                                    ExtractAudioOption::noteOf(*plan, probe.audioCodec)});
            }
            for (const auto& entry : kReencodeRows) {
                const FormatID id(entry.id);
                if (!registry || std::any_of(rows.begin(), rows.end(), [&](const auto& r) { return r.format == id; }))
                    continue;
                auto format = registry->format(id);
                if (!format) continue;
                // What the row promises is what the engine's plan for it does.
                auto options = ToolParameterFlow::baseOptions();
                options.outputFormat = id;
                const auto job = sheetJob(*request, options);
                std::optional<ExtractAudioNote> note;
                if (job) note = ExtractAudioOption::noteOf(CutPlan::of(*job, probe, nullptr), probe.audioCodec);
                rows.push_back({id, format->label, entry.detail, false, entry.lossy, note});
            }
            if (rows.empty()) return request->runWithDefaults();
            auto* view = new ExtractAudioView(
                request->fileName(), rows, probe.durationSeconds,
                [probe](const ExtractAudioOption& option, std::optional<int64_t> bitrate) {
                    return ExtractAudioModel::estimateAudioSize(option, bitrate, probe);
                },
                [request](FormatID format, std::optional<int64_t> bitrate) {
                    auto options = ToolParameterFlow::baseOptions();
                    options.outputFormat = format;
                    options.audioBitrate = bitrate;
                    request->apply(options);
                },
                [request] { request->cancel(); });
            request->show("Extract audio from " + request->fileName(), view);
        },
        [request](const std::string&) {
            // The conversion itself says why the file cannot give up its audio.
            request->runWithDefaults();
        });
}

void MergeOrderPresenter::present(const std::shared_ptr<SheetRequest>& request) const {
    auto* view = new MergeOrderView(
        request->payload().urls, request->target().label,
        [request](std::vector<fs::path> ordered) { request->applyOrdered(ordered); },
        [request] { request->cancel(true); });
    request->show("Merge " + std::to_string(request->payload().count()) + " files", view);
}

}  // namespace kolvex
