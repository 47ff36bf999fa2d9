// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ImageSheetPresenters.h"

#include <QPointer>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include "app/SheetRequest.h"
#include "app/ToolParameterFlow.h"
#include "core/conversion/SizeEstimator.h"
#include "core/ffmpeg/ContainerCompatibility.h"
#include "core/format/ConversionError.h"
#include "core/modules/EngineModules.h"
#include "core/services/ErrorMapper.h"
#include "core/services/Log.h"
#include "core/services/QtFilePaths.h"
#include "ui/sheets/CompressView.h"
#include "ui/sheets/CropView.h"
#include "ui/sheets/MediaPreview.h"
#include "ui/sheets/ResizeView.h"
#include "ui/sheets/RotateView.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

// Every reader here would wait for ever in open() on a FIFO: only a regular file is read, as for
// a conversion.
void refuseUnreadable(const fs::path& file) {
    if (auto unreadable = ErrorMapper::unreadableSource(file)) throw *unreadable;
}

// The picture of an image file, turned upright; libvips reads what Qt cannot (a smaller copy).
// Throws corruptedInput when neither can, unreadableInput for what is no regular file.
QImage loadPicture(const fs::path& file) {
    refuseUnreadable(file);
    QFile device;
    qtpaths::open(device, file, QIODevice::ReadOnly);  // a file Qt cannot open goes to libvips below
    QImageReader reader(&device);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (!image.isNull()) return image;
    if (auto pixels = EngineModules::thumbnail(file, 1600)) {
        QImage thumb(pixels->rgba.data(), pixels->width, pixels->height, pixels->width * 4, QImage::Format_RGBA8888);
        if (!thumb.isNull()) return thumb.copy();
    }
    throw ConversionError::corruptedInput(file);
}

// The pixel size of an image file as it is shown (upright).
std::optional<QSize> pictureSize(const fs::path& file) {
    refuseUnreadable(file);
    QFile device;
    if (!qtpaths::open(device, file, QIODevice::ReadOnly)) return std::nullopt;
    QImageReader reader(&device);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) return std::nullopt;
    if (reader.transformation() & QImageIOHandler::TransformationRotate90) size.transpose();
    return size;
}

// The first page of a PDF, drawn by the PDF renderer. Throws corruptedInput when it cannot be.
QImage pagePicture(const fs::path& file) {
    refuseUnreadable(file);
    if (auto pixels = EngineModules::pdfThumbnail(file, 1200)) {
        QImage page(pixels->rgba.data(), pixels->width, pixels->height, pixels->width * 4, QImage::Format_RGBA8888);
        if (!page.isNull()) return page.copy();
    }
    throw ConversionError::corruptedInput(file);
}

// The first frame of a video as a picture. Throws corruptedInput when there is none.
QImage videoPicture(const fs::path& file, std::stop_token stop) {
    refuseUnreadable(file);
    if (auto frame = EngineModules::videoFrame(file, stop)) {
        QImage image = toImage(*frame);
        if (!image.isNull()) return image;
    }
    throw ConversionError::corruptedInput(file);
}

const ConversionEngine& imageEngine() {
    static const auto engine = EngineModules::imageEngine();
    return *engine;
}

}  // namespace

void CropPresenter::present(const std::shared_ptr<SheetRequest>& request) const {
    const fs::path file = request->file();
    const bool isVideo = request->isVideo();
    request->prepare<QImage>(
        [file, isVideo](std::stop_token stop) { return isVideo ? videoPicture(file, stop) : loadPicture(file); },
        [request](QImage picture) {
            auto* view = new CropView(
                std::move(picture), request->prompt("Crop"),
                [request](UnitRect rect, BatchChoice choice) {
                    auto options = ToolParameterFlow::baseOptions();
                    options.cropRect = rect;
                    request->apply(options, choice);
                },
                [request] { request->cancel(); });
            request->show("Crop " + request->fileName(), view);
        });
}

void RotatePresenter::present(const std::shared_ptr<SheetRequest>& request) const {
    const fs::path file = request->file();
    const bool flip = request->tool() == "flip";
    const auto format = request->format();
    // PDF pages turn by quarters only, and are shown as the PDF renderer draws them.
    const bool pages = format && format->id.rawValue == "pdf";
    request->prepare<QImage>([file, pages](std::stop_token) { return pages ? pagePicture(file) : loadPicture(file); },
                             [request, flip, pages](QImage picture) {
                                 auto* view = new RotateView(
                                     std::move(picture), flip && !pages,
                                     [request](double angle, bool horizontal, bool vertical) {
                                         auto options = ToolParameterFlow::baseOptions();
                                         options.rotation = angle;
                                         options.flipHorizontal = horizontal;
                                         options.flipVertical = vertical;
                                         request->apply(options);
                                     },
                                     [request] { request->cancel(true); }, nullptr,
                                     pages ? RotateView::Choices::quarterTurns : RotateView::Choices::any);
                                 request->show(request->target().label + " " + request->fileName(), view);
                             });
}

namespace {

struct ResizeFacts {
    QSizeF size;
    std::optional<QImage> preview;
    std::optional<MediaProbe> probe;
};

}  // namespace

void ResizePresenter::present(const std::shared_ptr<SheetRequest>& request) const {
    const fs::path file = request->file();
    const bool isVideo = request->isVideo();
    auto media = request->sources().media;
    if (isVideo && !media) return request->fail("FFmpeg is not available");
    request->prepare<ResizeFacts>(
        [file, isVideo, media](std::stop_token stop) {
            ResizeFacts facts;
            if (isVideo) {
                facts.probe = media->probe(file, stop);
                if (!facts.probe->width || !facts.probe->height || *facts.probe->width <= 0 || *facts.probe->height <= 0)
                    throw ConversionError::corruptedInput(file);
                facts.size = QSizeF(static_cast<double>(*facts.probe->width), static_cast<double>(*facts.probe->height));
                return facts;
            }
            const auto size = pictureSize(file);
            if (!size) throw ConversionError::corruptedInput(file);
            facts.size = QSizeF(*size);
            facts.preview = loadPicture(file);
            return facts;
        },
        [request, isVideo](ResizeFacts facts) {
            const fs::path file = request->file();
            const auto preferences = request->preferences();
            const auto bytes = FileManagerService::shared().size(file).value_or(0);
            ResizeView::Measure measure;
            bool exact = false;
            const auto format = request->format();
            if (isVideo && facts.probe && facts.probe->durationSeconds && *facts.probe->durationSeconds > 0) {
                const MediaProbe probe = *facts.probe;
                const double quality = preferences.videoQuality;
                const auto source = SizeEstimator::videoBitrate(file, probe);
                const auto w = static_cast<int64_t>(facts.size.width()), h = static_cast<int64_t>(facts.size.height());
                measure = [=](int64_t side, std::stop_token) -> std::optional<int64_t> {
                    const auto video = SizeEstimator::resizedVideoBitrate(quality, SizeEstimator::pixels(side, w, h), source);
                    return SizeEstimator::estimatedMediaSize(*probe.durationSeconds, video, probe.audioBitrate.value_or(0));
                };
            } else if (!isVideo && format) {
                // Measured as the resize itself will run, at the quality the engine picks for it.
                const Format known = *format;
                measure = [=](int64_t side, std::stop_token stop) {
                    return SizeEstimator::measuredResizedImageSize(imageEngine(), file, known, side, stop);
                };
                exact = true;
            }
            // The sheet is built before its apply can read it.
            auto shown = std::make_shared<QPointer<ResizeView>>();
            auto* view = new ResizeView(
                facts.size, facts.preview, isVideo, bytes, exact, measure, request->prompt("Resize"),
                [request, shown](int64_t side, BatchChoice choice) {
                    auto options = ToolParameterFlow::baseOptions();
                    // A percentage is each file's own: the side this file would get is not
                    // handed to the others.
                    const ResizeView* sheet = *shown;
                    if (sheet && sheet->model().mode == ResizeModel::Mode::percentage)
                        options.scalePercent = sheet->model().percentage;
                    else options.maxDimension = side;
                    request->apply(options, choice);
                },
                [request] { request->cancel(); });
            *shown = view;
            request->show("Resize " + request->fileName(), view);
        });
}

void CompressPresenter::present(const std::shared_ptr<SheetRequest>& request) const {
    const fs::path file = request->file();
    if (auto unreadable = ErrorMapper::unreadableSource(file)) return request->fail(unreadable->shortDescription());
    const auto bytes = FileManagerService::shared().size(file);
    if (!bytes || *bytes < 1) return request->fail(request->fileName() + " is empty or unreadable");
    auto media = request->isMedia() ? request->sources().media : nullptr;
    auto open = [request, bytes](std::optional<MediaProbe> probe) {
        const fs::path file = request->file();
        const auto format = request->format();
        CompressView::Measure measure = [](double, std::stop_token) { return std::optional<int64_t>{}; };
        bool exact = false;
        if (probe && format) {
            const Format known = *format;
            measure = [file, known, probe](double q, std::stop_token) {
                return SizeEstimator::estimatedCompressedSize(file, *probe, q, known, &ContainerCompatibility::accepts);
            };
        } else if (format && format->category == FormatCategory::image) {
            const Format known = *format;
            measure = [file, known](double q, std::stop_token stop) {
                return SizeEstimator::measuredImageSize(imageEngine(), file, known, q, std::nullopt, true, stop);
            };
            exact = true;
        }
        auto* view = new CompressView(
            request->fileName(), *bytes, exact, measure, request->prompt("Compress"),
            [request](double quality, BatchChoice choice) {
                auto options = ToolParameterFlow::baseOptions();
                options.quality = quality;
                request->apply(options, choice);
            },
            [request] { request->cancel(); });
        request->show("Compress " + request->fileName(), view);
    };
    request->prepare<std::optional<MediaProbe>>(
        [file, media](std::stop_token stop) -> std::optional<MediaProbe> {
            if (!media) return std::nullopt;
            return media->probe(file, stop);
        },
        open,
        [request, open](const std::string& reason) {
            // The sheet still works without an estimate; the conversion reports the real fault.
            Log::app().info("No size estimate for {}: {}", request->fileName(), reason);
            open(std::nullopt);
        });
}

}  // namespace kolvex
