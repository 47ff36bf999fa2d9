// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "core/conversion/ConversionCoordinator.h"
#include "core/engines/image/Thumbnailer.h"
#include "core/ffmpeg/BundledFFmpeg.h"
#include "core/ffmpeg/FFmpegEncoderList.h"
#include "core/ffmpeg/preview/FrameScrubber.h"
#include "core/ffmpeg/preview/MediaFacts.h"
#include "core/services/FileManagerService.h"
#include "core/services/TemporaryFileManager.h"

namespace kolvex {

// The engines and the media and image readers as the program uses them: each backed by its
// engine module, which is loaded on first use (ModuleLoader), so that nothing here maps libvips,
// poppler, qpdf, FFmpeg's libraries or libarchive until a job or a preview needs them. The
// functions themselves load nothing; what they return loads its module when first called.
// Any thread.
struct EngineModules {
    // The in-process engines: image, pdf, audio, document and archive.
    static ConversionCoordinator::Engines inProcessEngines(
        const FileManagerService& files = FileManagerService::shared(),
        const TemporaryFileManager& temporary = TemporaryFileManager::shared());
    // The FFmpeg engine over located programs and their encoders, probing in process; images
    // ffmpeg cannot read are decoded by `imageEngine`.
    static std::shared_ptr<const ConversionEngine> ffmpegEngine(
        BundledFFmpeg tools, std::set<std::string> encoders, std::shared_ptr<const ConversionEngine> imageEngine,
        const FileManagerService& files = FileManagerService::shared(),
        const TemporaryFileManager& temporary = TemporaryFileManager::shared());
    // The same over a list read when a job first needs an encoder.
    static std::shared_ptr<const ConversionEngine> ffmpegEngine(
        BundledFFmpeg tools, std::shared_ptr<const FFmpegEncoderList> encoders,
        std::shared_ptr<const ConversionEngine> imageEngine, const FileManagerService& files = FileManagerService::shared(),
        const TemporaryFileManager& temporary = TemporaryFileManager::shared());
    // The image engine alone (for trial encodes of the size estimates).
    static std::shared_ptr<const ConversionEngine> imageEngine();

    // What the tool sheets read of a media file. Its reads throw ConversionError when the module
    // does not load.
    static std::shared_ptr<const MediaFacts> mediaFacts();
    // FrameScrubber::provider: none when `isVideo` is false; the provider gives no frames when the
    // module does not load.
    static FrameScrubber::Provider frameProvider(const std::filesystem::path& file, bool isVideo);
    // FrameScrubber::videoFrame. Blocks.
    static std::optional<VideoFrame> videoFrame(const std::filesystem::path& file, std::stop_token stop = {});
    // A video's first frame within `maxSide` on each side. Blocks.
    static std::optional<VideoFrame> firstFrame(const std::filesystem::path& file, int maxSide);
    // image::makeThumbnail. Blocks.
    static std::optional<image::ThumbnailPixels> thumbnail(const std::filesystem::path& file, int maxSide);
    // pdfThumbnail: a PDF's first page as viewers show it (crop box, rotation), drawn by the PDF
    // engine's renderer within `maxSide` on each side; for thumbnails and sheet previews. Blocks.
    static std::optional<image::ThumbnailPixels> pdfThumbnail(const std::filesystem::path& file, int maxSide);
    // The first-run example image (SampleFile::create into the Downloads folder). Throws.
    static std::filesystem::path createSample(const std::string& name);

    // Loads every module now, binding all it calls: one "<why>" line for each that cannot be
    // loaded. For checking an installation. Blocks.
    static std::vector<std::string> unavailable();
};

}  // namespace kolvex
