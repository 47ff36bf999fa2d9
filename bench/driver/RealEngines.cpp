// SPDX-License-Identifier: GPL-3.0-or-later
#include "RealEngines.h"

#include <exception>

#ifdef KOLVEX_ENGINE_MODULES
#include "core/ffmpeg/BundledFFmpeg.h"
#include "core/ffmpeg/FFmpegEncoderList.h"
#include "core/modules/EngineModules.h"
#else
#ifdef KOLVEX_HAVE_IMAGE
#include "core/engines/image/ImageEngine.h"
#endif
#ifdef KOLVEX_HAVE_AUDIO
#include "core/engines/audio/AudioEngine.h"
#endif
#ifdef KOLVEX_HAVE_PDF
#include "core/engines/pdf/PDFEngine.h"
#endif
#ifdef KOLVEX_HAVE_ARCHIVE
#include "core/engines/archive/ArchiveEngine.h"
#endif
#ifdef KOLVEX_HAVE_DOCUMENT
#include "core/engines/document/DocumentEngine.h"
#include "core/engines/document/PdfTextDocument.h"
#endif
#ifdef KOLVEX_HAVE_FFMPEG
#include "core/ffmpeg/BundledFFmpeg.h"
#include "core/ffmpeg/FFmpegEncoderList.h"
#include "core/ffmpeg/FFmpegEngine.h"
#endif
#endif

namespace kolvex {

#if defined(KOLVEX_ENGINE_MODULES) || defined(KOLVEX_HAVE_FFMPEG)
namespace {

// Adds the engine `make` builds over the bundled FFmpeg; what kept it out is noted as
// unavailable. Its encoder list is read (through the user's cache) only once a job turns out to
// need an encoder, so the registry is not filtered by it: a conversion whose encoder is missing
// is refused by the engine, with the same error the planner would give.
template <typename Make>
void addFFmpeg(RealEngines& real, bool wanted, Make make) {
    if (!wanted) {
        real.unavailable.push_back("ffmpeg: not started for this request");
        return;
    }
    try {
        BundledFFmpeg tools = BundledFFmpeg::inBundle();
        auto encoders = FFmpegEncoderList::of(tools);
        real.engines.push_back(make(std::move(tools), std::move(encoders)));
    } catch (const std::exception& error) {
        real.unavailable.push_back(std::string("ffmpeg: ") + error.what());
    }
}

}  // namespace
#endif

RealEngines::Needs RealEngines::needs(const FormatRegistry& registry, const std::vector<std::filesystem::path>& files,
                                      const std::optional<FormatID>& target) {
    Needs needs{false, false};
    const auto count = [&](const std::optional<Format>& format) {
        if (!format) {
            needs = Needs{};
            return;
        }
        if (format->category == FormatCategory::audio || format->category == FormatCategory::video) needs.ffmpeg = true;
        if (format->category == FormatCategory::document) needs.qt = true;
    };
    for (const auto& file : files) count(registry.formatFor(file));
    if (target) count(registry.format(*target));
    return needs;
}

#ifdef KOLVEX_ENGINE_MODULES

RealEngines RealEngines::assemble(const TemporaryFileManager& temporary, bool withFFmpeg) {
    RealEngines real{FormatRegistry::loadBundled(), EngineModules::inProcessEngines(FileManagerService::shared(), temporary),
                     {}};
    const auto image = real.engines.front();
    addFFmpeg(real, withFFmpeg, [&](BundledFFmpeg tools, std::shared_ptr<const FFmpegEncoderList> encoders) {
        return EngineModules::ffmpegEngine(std::move(tools), std::move(encoders), image, FileManagerService::shared(),
                                           temporary);
    });
    return real;
}

#else

RealEngines RealEngines::assemble([[maybe_unused]] const TemporaryFileManager& temporary,
                                  [[maybe_unused]] bool withFFmpeg) {
    RealEngines real{FormatRegistry::loadBundled(), {}, {}};
    [[maybe_unused]] const FileManagerService& files = FileManagerService::shared();
    [[maybe_unused]] std::shared_ptr<const ConversionEngine> image;

#ifdef KOLVEX_HAVE_IMAGE
    image = std::make_shared<ImageEngine>();
    real.engines.push_back(image);
#else
    real.unavailable.push_back("image: not in this build");
#endif
#ifdef KOLVEX_HAVE_AUDIO
    real.engines.push_back(std::make_shared<AudioEngine>());
#else
    real.unavailable.push_back("audio: not in this build");
#endif
#ifdef KOLVEX_HAVE_PDF
#ifdef KOLVEX_HAVE_DOCUMENT
    real.engines.push_back(std::make_shared<PDFEngine>(files, &PdfTextDocument::write));
#else
    real.engines.push_back(std::make_shared<PDFEngine>(files));
#endif
#else
    real.unavailable.push_back("pdf: not in this build");
#endif
#ifdef KOLVEX_HAVE_ARCHIVE
    real.engines.push_back(std::make_shared<ArchiveEngine>(files, temporary));
#else
    real.unavailable.push_back("archive: not in this build");
#endif
#ifdef KOLVEX_HAVE_DOCUMENT
    real.engines.push_back(std::make_shared<DocumentEngine>());
#else
    real.unavailable.push_back("document: not in this build");
#endif
#ifdef KOLVEX_HAVE_FFMPEG
    addFFmpeg(real, withFFmpeg, [&](BundledFFmpeg tools, std::shared_ptr<const FFmpegEncoderList> encoders) {
        return std::make_shared<FFmpegEngine>(FFmpegEngine::overList(
            std::move(tools), nullptr, std::move(encoders),
            image ? FFmpegEngine::decoderThrough(image) : FFmpegEngine::ImageDecoder{}, files, temporary));
    });
#else
    real.unavailable.push_back("ffmpeg: not in this build");
#endif
    return real;
}

#endif

std::unique_ptr<ConversionCoordinator> RealEngines::coordinator(std::optional<int> processorCount) const {
    return std::make_unique<ConversionCoordinator>(registry, engines, ConversionCoordinator::sharedFiles(), processorCount);
}

bool RealEngines::has(const EngineID& id) const {
    for (const auto& engine : engines) {
        if (engine->id() == id) return true;
    }
    return false;
}

}  // namespace kolvex
