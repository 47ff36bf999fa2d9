#include "app/ToolSheets.h"

#include <QImage>
#include <QImageReader>

#include "core/conversion/SizeEstimator.h"
#include "core/engines/image/ImageEngine.h"
#include "core/engines/image/Thumbnailer.h"
#include "core/ffmpeg/ContainerCompatibility.h"
#include "core/ffmpeg/KeyframeIndex.h"
#include "core/ffmpeg/MediaProbe.h"
#include "core/ffmpeg/preview/FrameScrubber.h"
#include "core/ffmpeg/preview/WaveformSampler.h"
#include "core/format/FormatRegistry.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"
#include "ui/sheets/CompressView.h"
#include "ui/sheets/CropView.h"
#include "ui/sheets/ExtractAudioView.h"
#include "ui/sheets/MediaPreview.h"
#include "ui/sheets/MergeOrderView.h"
#include "ui/sheets/ResizeView.h"
#include "ui/sheets/RotateView.h"
#include "ui/sheets/SheetKit.h"
#include "ui/sheets/SplitView.h"
#include "ui/sheets/TrimView.h"
#include "ui/windows/SettingsStore.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

std::string nameOf(const fs::path& file) {
    return paths::lastComponent(file);
}

// The picture of an image file, turned upright; libvips reads what Qt cannot (a smaller copy).
std::optional<QImage> loadPicture(const fs::path& file) {
    QImageReader reader(QString::fromStdString(file.string()));
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (!image.isNull()) return image;
    if (auto pixels = image::makeThumbnail(file, 1600)) {
        QImage thumb(pixels->rgba.data(), pixels->width, pixels->height, pixels->width * 4, QImage::Format_RGBA8888);
        if (!thumb.isNull()) return thumb.copy();
    }
    return std::nullopt;
}

// The pixel size of an image file as it is shown (upright).
std::optional<QSize> pictureSize(const fs::path& file) {
    QImageReader reader(QString::fromStdString(file.string()));
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (!size.isValid()) return std::nullopt;
    if (reader.transformation() & QImageIOHandler::TransformationRotate90) size.transpose();
    return size;
}

struct MediaFacts {
    std::optional<MediaProbe> probe;
    KeyframeIndex keyframes;
    std::optional<std::vector<float>> waveform;
};

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

ToolSheets::ToolSheets(Sources sources) : m_sources(std::move(sources)) {}

ToolSheets::Sources ToolSheets::desktop() {
    Sources sources;
    sources.ffmpeg = []() -> std::optional<BundledFFmpeg> {
        const auto overridePath = SettingsStore::shared().preferences().ffmpegOverridePath;
        try {
            return BundledFFmpeg::locate(overridePath ? std::optional<fs::path>(*overridePath) : std::nullopt);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    };
    sources.preferences = [] { return SettingsStore::shared().preferences(); };
    return sources;
}

BatchPrompt ToolSheets::prompt(const std::optional<BatchParameterRun>& walk, const DragPayload& payload,
                               const std::string& finish, bool offersIndividual, bool alwaysPerFile) {
    BatchPrompt p;
    p.count = walk ? static_cast<int>(walk->urls().size()) : static_cast<int>(payload.count());
    if (walk) {
        p.position = walk->position();
        p.advanceLabel = walk->advanceLabel(finish);
        p.offersIndividual = false;
        return p;
    }
    if (alwaysPerFile && p.count >= 2) p.position = "File 1 of " + std::to_string(p.count);
    p.offersIndividual = offersIndividual;
    p.advanceLabel = p.position ? "Next" : finish;
    return p;
}

bool ToolSheets::present(ToolParameterFlow& flow, const RingTarget& target, const DragPayload& payload,
                         const fs::path& file) {
    m_flow = &flow;
    m_walk.reset();
    m_walkTarget.reset();
    return show(target, payload, file);
}

bool ToolSheets::show(const RingTarget& target, const DragPayload& payload, const fs::path& file) {
    ++m_generation;
    const std::string tool = target.toolID.value_or("");
    if (tool == "crop") presentCrop(target, payload, file);
    else if (tool == "rotate" || tool == "flip") presentRotate(target, file);
    else if (tool == "resize") presentResize(target, payload, file);
    else if (tool == "compress") presentCompress(target, payload, file);
    else if (tool == "trim") presentMedia(target, payload, file, false);
    else if (tool == "split") presentMedia(target, payload, file, true);
    else if (tool == "extract-audio") presentExtractAudio(file);
    else if (tool == "merge") presentMerge(target, payload);
    else return false;
    return true;
}

void ToolSheets::handBack(const ConversionOptions& options, const BatchChoice& choice, const RingTarget& target,
                          const DragPayload& payload, bool walksFileByFile) {
    if (!m_flow) return;
    if (m_walk) {
        advance(options);
        return;
    }
    if (walksFileByFile && payload.count() >= 2) {
        m_walkTarget = target;
        m_walk.emplace(payload.urls, choice.startsImmediately);
        advance(options);
        return;
    }
    m_flow->handBack(options);
}

void ToolSheets::advance(const ConversionOptions& options) {
    if (!m_walk || !m_walkTarget || !m_flow) return;
    PortalConnection* portal = m_flow->portal();
    if (auto started = m_walk->accept(options); started && portal)
        portal->applyParametersToOne(started->second, started->first);
    if (auto next = m_walk->current()) {
        // The previous sheet stays up until the next one replaces it.
        show(*m_walkTarget, DragPayload({*next}), *next);
        return;
    }
    const auto pending = m_walk->pending();
    m_walk.reset();
    m_walkTarget.reset();
    m_flow->closeSheet();
    if (!portal) return;
    portal->setPortalVisible(true);
    portal->finishParameterRun(pending);
}

void ToolSheets::cancel() {
    ++m_generation;
    m_walk.reset();
    m_walkTarget.reset();
    if (m_flow) m_flow->cancelSheet();
}

void ToolSheets::cancelShowingPortal() {
    if (m_flow) {
        m_flow->closeSheet();
        if (auto* portal = m_flow->portal()) portal->setPortalVisible(true);
    }
    cancel();
}

void ToolSheets::discard(const std::string& message, const fs::path& file) {
    if (!message.empty()) Log::app().error(fmt::runtime(message), nameOf(file));
    m_walk.reset();
    m_walkTarget.reset();
    if (m_flow) m_flow->cancelSheet();
}

// ---- image sheets ------------------------------------------------------------------------

void ToolSheets::presentCrop(const RingTarget& target, const DragPayload& payload, const fs::path& file) {
    const auto generation = m_generation;
    const auto format = m_flow && m_flow->registry() ? m_flow->registry()->formatFor(file) : std::nullopt;
    const bool isVideo = format && format->category == FormatCategory::video;
    sheetkit::runInBackground<std::optional<QImage>>(
        this,
        [file, isVideo](std::stop_token stop) -> std::optional<QImage> {
            if (isVideo) {
                auto frame = FrameScrubber::videoFrame(file, stop);
                if (!frame) return std::nullopt;
                QImage image = toImage(*frame);
                return image.isNull() ? std::nullopt : std::optional(image);
            }
            return loadPicture(file);
        },
        [this, generation, target, payload, file](std::optional<QImage> preview) {
            if (!current(generation)) return;
            if (!preview) return discard("Could not build a crop preview for {}", file);
            auto* view = new CropView(
                *preview, prompt(m_walk, payload, "Crop", false, true),
                [this, target, payload](UnitRect rect, BatchChoice choice) {
                    auto options = ToolParameterFlow::baseOptions();
                    options.cropRect = rect;
                    handBack(options, choice, target, payload, true);
                },
                [this] { cancel(); });
            m_flow->presentParameters("Crop " + nameOf(file), view);
        });
}

void ToolSheets::presentRotate(const RingTarget& target, const fs::path& file) {
    const auto generation = m_generation;
    const bool flip = target.toolID == std::optional<std::string>("flip");
    sheetkit::runInBackground<std::optional<QImage>>(
        this, [file](std::stop_token) { return loadPicture(file); },
        [this, generation, target, file, flip](std::optional<QImage> image) {
            if (!current(generation)) return;
            if (!image) {
                Log::app().error("Could not load an image to rotate");
                return discard("", file);
            }
            auto* view = new RotateView(
                *image, flip,
                [this](double angle, bool horizontal, bool vertical) {
                    auto options = ToolParameterFlow::baseOptions();
                    options.rotation = angle;
                    options.flipHorizontal = horizontal;
                    options.flipVertical = vertical;
                    if (m_flow) m_flow->handBack(options);
                },
                [this] { cancelShowingPortal(); });
            m_flow->presentParameters(target.label + " " + nameOf(file), view);
        });
}

void ToolSheets::presentResize(const RingTarget& target, const DragPayload& payload, const fs::path& file) {
    const auto generation = m_generation;
    const auto registry = m_flow ? m_flow->registry() : nullptr;
    const auto format = registry ? registry->formatFor(file) : std::nullopt;
    const auto ffmpeg = m_sources.ffmpeg ? m_sources.ffmpeg() : std::nullopt;
    const bool videoPath = format && format->category == FormatCategory::video && ffmpeg;
    const auto preferences = m_sources.preferences ? m_sources.preferences() : Preferences{};
    struct Facts {
        std::optional<QSizeF> size;
        std::optional<QImage> preview;
        std::optional<MediaProbe> probe;
    };
    sheetkit::runInBackground<Facts>(
        this,
        [file, videoPath, ffmpeg](std::stop_token stop) {
            Facts facts;
            if (videoPath) {
                try {
                    auto probe = FFprobeProber(*ffmpeg).probe(file, stop);
                    if (probe.width && probe.height && *probe.width > 0 && *probe.height > 0)
                        facts.size = QSizeF(static_cast<double>(*probe.width), static_cast<double>(*probe.height));
                    facts.probe = probe;
                } catch (const std::exception&) {
                }
                return facts;
            }
            if (auto size = pictureSize(file); size && size->width() > 0 && size->height() > 0) {
                facts.size = QSizeF(*size);
                facts.preview = loadPicture(file);
            }
            return facts;
        },
        [this, generation, target, payload, file, videoPath, format, preferences](Facts facts) {
            if (!current(generation)) return;
            if (!facts.size) return discard("Could not determine the size of {}", file);
            const auto bytes = FileManagerService::shared().size(file).value_or(0);
            ResizeView::Measure measure;
            bool exact = false;
            if (videoPath && facts.probe && facts.probe->durationSeconds && *facts.probe->durationSeconds > 0) {
                const double d = *facts.probe->durationSeconds;
                const double quality = preferences.videoQuality;
                const auto source = SizeEstimator::videoBitrate(file, *facts.probe);
                const int64_t audio = facts.probe->audioBitrate.value_or(0);
                const auto w = static_cast<int64_t>(facts.size->width()), h = static_cast<int64_t>(facts.size->height());
                measure = [=](int64_t side, std::stop_token) -> std::optional<int64_t> {
                    const auto pixels = SizeEstimator::pixels(side, w, h);
                    const auto video = SizeEstimator::resizedVideoBitrate(quality, pixels, source);
                    return static_cast<int64_t>(d * static_cast<double>(video + audio) * 0.125 * 1.02);
                };
            } else if (!videoPath && format) {
                const auto quality = preferences.imageQuality;
                const Format known = *format;
                measure = [=](int64_t side, std::stop_token stop) {
                    static const ImageEngine engine;
                    return SizeEstimator::measuredImageSize(engine, file, known, quality, side, true, stop);
                };
                exact = true;
            }
            auto* view = new ResizeView(
                *facts.size, facts.preview, videoPath, bytes, exact, measure,
                prompt(m_walk, payload, "Resize", true, false),
                [this, target, payload](int64_t side, BatchChoice choice) {
                    auto options = ToolParameterFlow::baseOptions();
                    options.maxDimension = side;
                    handBack(options, choice, target, payload, choice.setEachIndividually);
                },
                [this] { cancel(); });
            m_flow->presentParameters("Resize " + nameOf(file), view);
        });
}

void ToolSheets::presentCompress(const RingTarget& target, const DragPayload& payload, const fs::path& file) {
    const auto registry = m_flow ? m_flow->registry() : nullptr;
    const auto format = registry ? registry->formatFor(file) : std::nullopt;
    const auto bytes = FileManagerService::shared().size(file);
    if (!bytes || *bytes < 1) return discard("", file);
    const auto generation = m_generation;
    const bool media = format && (format->category == FormatCategory::video || format->category == FormatCategory::audio);
    const auto ffmpeg = media && m_sources.ffmpeg ? m_sources.ffmpeg() : std::nullopt;
    sheetkit::runInBackground<std::optional<MediaProbe>>(
        this,
        [file, ffmpeg](std::stop_token stop) -> std::optional<MediaProbe> {
            if (!ffmpeg) return std::nullopt;
            try {
                return FFprobeProber(*ffmpeg).probe(file, stop);
            } catch (const std::exception&) {
                return std::nullopt;
            }
        },
        [this, generation, target, payload, file, format, media, bytes](std::optional<MediaProbe> probe) {
            if (!current(generation)) return;
            CompressView::Measure measure = [](double, std::stop_token) { return std::optional<int64_t>{}; };
            bool exact = false;
            if (media && probe && format) {
                const Format known = *format;
                measure = [file, known, probe](double q, std::stop_token) {
                    return SizeEstimator::estimatedCompressedSize(file, *probe, q, known, &ContainerCompatibility::accepts);
                };
            } else if (format && format->category == FormatCategory::image) {
                const Format known = *format;
                measure = [file, known](double q, std::stop_token stop) {
                    static const ImageEngine engine;
                    return SizeEstimator::measuredImageSize(engine, file, known, q, std::nullopt, true, stop);
                };
                exact = true;
            }
            auto* view = new CompressView(
                nameOf(file), *bytes, exact, measure, prompt(m_walk, payload, "Compress", true, false),
                [this, target, payload](double quality, BatchChoice choice) {
                    auto options = ToolParameterFlow::baseOptions();
                    options.quality = quality;
                    handBack(options, choice, target, payload, choice.setEachIndividually);
                },
                [this] { cancel(); });
            m_flow->presentParameters("Compress " + nameOf(file), view);
        });
}

// ---- media sheets ------------------------------------------------------------------------

void ToolSheets::presentMedia(const RingTarget& target, const DragPayload& payload, const fs::path& file, bool split) {
    const auto registry = m_flow ? m_flow->registry() : nullptr;
    const auto format = registry ? registry->formatFor(file) : std::nullopt;
    const bool isVideo = format && format->category == FormatCategory::video;
    const bool isAudio = format && format->category == FormatCategory::audio;
    if (split && !isVideo && !isAudio) {
        // Nothing to cut by time: the tool runs at once.
        if (m_flow) m_flow->handBack(ToolParameterFlow::baseOptions());
        return;
    }
    const auto ffmpeg = m_sources.ffmpeg ? m_sources.ffmpeg() : std::nullopt;
    const std::string failure = split ? "Could not read a duration to split {}" : "Could not read the duration of {}";
    if (!ffmpeg) {
        if (split) return discard(failure, file);
        Log::app().error("Trim needs FFmpeg, which is not available");
        return discard("", file);
    }
    const auto generation = m_generation;
    sheetkit::runInBackground<MediaFacts>(
        this,
        [file, ffmpeg, isVideo](std::stop_token stop) {
            MediaFacts facts;
            try {
                facts.probe = FFprobeProber(*ffmpeg).probe(file, stop);
            } catch (const std::exception&) {
                return facts;
            }
            try {
                facts.keyframes = FFprobeKeyframeReader(*ffmpeg).index(file, stop);
            } catch (const std::exception&) {
                facts.keyframes = KeyframeIndex{};
            }
            if (!isVideo) facts.waveform = WaveformSampler::peaks(file, 500, stop);
            return facts;
        },
        [this, generation, target, payload, file, split, isVideo, failure](MediaFacts facts) {
            if (!current(generation)) return;
            const double minimum = split ? 0.4 : 0.0;
            if (!facts.probe || !facts.probe->durationSeconds || !(*facts.probe->durationSeconds > minimum))
                return discard(failure, file);
            const double duration = *facts.probe->durationSeconds;
            FrameProvider frames = framePreview(FrameScrubber::provider(file, isVideo));
            if (split) {
                auto* view = new SplitView(
                    duration, facts.keyframes, nameOf(file), frames, facts.waveform,
                    prompt(m_walk, payload, "Split", false, true),
                    [this, target, payload](std::vector<double> cuts, BatchChoice choice) {
                        auto options = ToolParameterFlow::baseOptions();
                        options.splitPoints = std::move(cuts);
                        handBack(options, choice, target, payload, true);
                    },
                    [this] { cancel(); });
                m_flow->presentParameters("Split " + nameOf(file), view);
                return;
            }
            const KeyframeIndex keyframes = facts.keyframes;
            auto* view = new TrimView(
                duration, facts.keyframes, nameOf(file), frames, facts.waveform,
                prompt(m_walk, payload, "Trim", false, true),
                [this, target, payload, keyframes](double start, double end, BatchChoice choice) {
                    auto options = ToolParameterFlow::baseOptions();
                    options.allowPassthrough = TrimPlan::copyIsExact(start, keyframes);
                    options.trimStart = start;
                    options.trimEnd = end;
                    handBack(options, choice, target, payload, true);
                },
                [this] { cancel(); });
            m_flow->presentParameters("Trim " + nameOf(file), view);
        });
}

void ToolSheets::presentExtractAudio(const fs::path& file) {
    const auto ffmpeg = m_sources.ffmpeg ? m_sources.ffmpeg() : std::nullopt;
    auto runWithDefaults = [this] {
        if (m_flow) m_flow->handBack(ToolParameterFlow::baseOptions());
    };
    if (!ffmpeg) return runWithDefaults();
    const auto generation = m_generation;
    sheetkit::runInBackground<std::optional<MediaProbe>>(
        this,
        [file, ffmpeg](std::stop_token stop) -> std::optional<MediaProbe> {
            try {
                return FFprobeProber(*ffmpeg).probe(file, stop);
            } catch (const std::exception&) {
                return std::nullopt;
            }
        },
        [this, generation, file, runWithDefaults](std::optional<MediaProbe> probe) {
            if (!current(generation)) return;
            if (!probe || !probe->audioCodec) return runWithDefaults();
            const auto registry = m_flow->registry();
            std::vector<ExtractAudioOption> rows;
            if (auto container = ContainerCompatibility::audioContainer(*probe->audioCodec); container && registry) {
                if (auto format = registry->format(*container))
                    rows.push_back({*container, format->label + " \u2014 keep the original track",
                                    ExtractAudioModel::describe(*probe->audioCodec, *probe), true, false});
            }
            for (const auto& entry : kReencodeRows) {
                const FormatID id(entry.id);
                if (std::any_of(rows.begin(), rows.end(), [&](const auto& r) { return r.format == id; })) continue;
                if (!registry) continue;
                auto format = registry->format(id);
                if (!format) continue;
                rows.push_back({id, format->label, entry.detail, false, entry.lossy});
            }
            if (rows.empty()) return runWithDefaults();
            const MediaProbe facts = *probe;
            auto* view = new ExtractAudioView(
                nameOf(file), rows, probe->durationSeconds,
                [facts](const ExtractAudioOption& option, std::optional<int64_t> bitrate) {
                    return ExtractAudioModel::estimateAudioSize(option, bitrate, facts);
                },
                [this](FormatID format, std::optional<int64_t> bitrate) {
                    auto options = ToolParameterFlow::baseOptions();
                    options.outputFormat = format;
                    options.audioBitrate = bitrate;
                    if (m_flow) m_flow->handBack(options);
                },
                [this] { cancel(); });
            m_flow->presentParameters("Extract audio from " + nameOf(file), view);
        });
}

void ToolSheets::presentMerge(const RingTarget& target, const DragPayload& payload) {
    if (!m_flow) return;
    auto* view = new MergeOrderView(
        payload.urls, target.label,
        [this](std::vector<fs::path> ordered) {
            if (!m_flow) return;
            m_flow->closeSheet();
            if (auto* portal = m_flow->portal()) {
                portal->setPortalVisible(true);
                portal->applyParameters(ToolParameterFlow::baseOptions(), ordered);
            }
        },
        [this] { cancelShowingPortal(); });
    m_flow->presentParameters("Merge " + std::to_string(payload.count()) + " files", view);
}

}  // namespace kolvex
