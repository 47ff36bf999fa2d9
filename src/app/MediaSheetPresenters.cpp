// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MediaSheetPresenters.h"

#include <algorithm>

#include <QPointer>

#include "app/SheetRequest.h"
#include "app/ToolParameterFlow.h"
#include "core/ffmpeg/ContainerCompatibility.h"
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

// Keyframes (videos) and the waveform (audio) are read after the sheet is up; each lands in
// the view that is still showing when it arrives.
template <typename View>
void fillIn(const std::shared_ptr<SheetRequest>& request, View* view, bool isVideo) {
    const fs::path file = request->file();
    auto media = request->sources().media;
    QPointer<View> guard(view);
    if (isVideo) {
        request->template prepare<KeyframeIndex>(
            [media, file](std::stop_token stop) { return media->keyframes(file, stop); },
            [guard](KeyframeIndex keyframes) {
                if (guard) guard->setKeyframes(std::move(keyframes));
            },
            [guard, request](const std::string& reason) {
                Log::app().info("No keyframes for {}: {}", request->fileName(), reason);
                if (guard) guard->setKeyframes(KeyframeIndex{});
            });
        return;
    }
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
                fillIn(request, view, isVideo);
                return;
            }
            auto shown = std::make_shared<QPointer<TrimView>>();
            auto* view = new TrimView(
                duration, KeyframeIndex{}, request->fileName(), frames, std::nullopt, request->prompt("Trim"),
                [request, shown](double start, double end, BatchChoice choice) {
                    const TrimView* trim = *shown;
                    auto options = ToolParameterFlow::baseOptions();
                    // A stream copy only where it starts where the user asked, as far as is known.
                    options.allowPassthrough = trim && trim->keyframesKnown() && trim->model().isStreamCopy();
                    options.trimStart = start;
                    options.trimEnd = end;
                    request->apply(options, choice);
                },
                [request] { request->cancel(); });
            *shown = view;
            if (isVideo) view->awaitKeyframes();
            request->show("Trim " + request->fileName(), view);
            fillIn(request, view, isVideo);
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
                if (auto format = registry->format(*container))
                    rows.push_back({*container, format->label + " \u2014 keep the original track",
                                    ExtractAudioModel::describe(*probe.audioCodec, probe), true, false});
            }
            for (const auto& entry : kReencodeRows) {
                const FormatID id(entry.id);
                if (!registry || std::any_of(rows.begin(), rows.end(), [&](const auto& r) { return r.format == id; }))
                    continue;
                if (auto format = registry->format(id)) rows.push_back({id, format->label, entry.detail, false, entry.lossy});
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
