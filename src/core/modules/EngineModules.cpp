// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/modules/EngineModules.h"

#include <mutex>

#include "core/engines/pdf/PdfPageToolEngine.h"
#include "core/format/ConversionError.h"
#include "core/modules/EngineModule.h"
#include "core/modules/LazyEngine.h"
#include "core/services/ModuleLoader.h"

namespace kolvex {

namespace fs = std::filesystem;
using namespace modules;

namespace {

// The formats each engine takes at all: the first test of its canHandle, so that a job of
// another kind is turned away without loading the engine.
bool imageTakes(const ConversionJob& job) {
    return job.from.category == FormatCategory::image && job.to.category == FormatCategory::image;
}
bool pdfTakes(const ConversionJob& job) {
    return job.from.id.rawValue == "pdf" || job.from.category == FormatCategory::image;
}
bool audioTakes(const ConversionJob& job) {
    return job.from.category == FormatCategory::audio && job.to.category == FormatCategory::audio;
}
bool documentTakes(const ConversionJob& job) { return job.from.category == FormatCategory::document; }
bool archiveTakes(const ConversionJob& job) { return job.from.category == FormatCategory::archive; }
bool ffmpegTakes(const ConversionJob& job) {
    return job.from.category != FormatCategory::document && job.from.category != FormatCategory::archive;
}

// One engine id served by two modules: the jobs `takesFirst` picks go to `first`, every other
// job to `second`. So the PDF page tools run without loading poppler and libvips.
class RoutedEngine final : public ConversionEngine {
public:
    using Engine = std::shared_ptr<const ConversionEngine>;
    RoutedEngine(std::function<bool(const ConversionJob&)> takesFirst, Engine first, Engine second)
        : m_takesFirst(std::move(takesFirst)), m_first(std::move(first)), m_second(std::move(second)) {}

    EngineID id() const override { return m_first->id(); }
    bool canHandle(const ConversionJob& job) const override { return route(job).canHandle(job); }
    bool checksRoom(const ConversionJob& job) const override { return route(job).checksRoom(job); }
    std::vector<fs::path> convert(const ConversionJob& job, const ProgressCallback& progress,
                                  std::stop_token stop) const override {
        return route(job).convert(job, progress, std::move(stop));
    }
    ConversionOutcome convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                       std::stop_token stop) const override {
        return route(job).convertReporting(job, progress, std::move(stop));
    }

private:
    const ConversionEngine& route(const ConversionJob& job) const { return m_takesFirst(job) ? *m_first : *m_second; }

    std::function<bool(const ConversionJob&)> m_takesFirst;
    Engine m_first;
    Engine m_second;
};

std::shared_ptr<const ConversionEngine> lazy(EngineID id, LazyEngine::Takes takes, LazyEngine::Make make) {
    return std::make_shared<LazyEngine>(std::move(id), std::move(takes), std::move(make));
}

// The module's table, or none when it does not load (the loader has logged why).
template <class Table>
const Table* tryTable() {
    try {
        return &ModuleLoader::table<Table>();
    } catch (const ModuleLoader::Unavailable&) {
        return nullptr;
    }
}

// Media facts read through the media module, made on the first read.
class ModuleMediaFacts final : public MediaFacts {
public:
    MediaProbe probe(const fs::path& file, std::stop_token stop) const override {
        const auto* made = facts();
        if (!made) throw ConversionError::backendFailure(MediaModule::kName, -1, *m_failure);
        return made->probe(file, std::move(stop));
    }
    KeyframeIndex keyframes(const fs::path& file, std::stop_token stop) const override {
        const auto* made = facts();
        return made ? made->keyframes(file, std::move(stop)) : KeyframeIndex{};
    }
    StreamCopyCuts copyCuts(const fs::path& file, std::stop_token stop) const override {
        const auto* made = facts();
        return made ? made->copyCuts(file, std::move(stop)) : StreamCopyCuts();
    }
    std::optional<std::vector<float>> waveform(const fs::path& file, std::stop_token stop) const override {
        const auto* made = facts();
        return made ? made->waveform(file, std::move(stop)) : std::nullopt;
    }
    void letGo() const override {
        // Nothing was read, and nothing is kept, before the module was loaded.
        std::shared_ptr<const MediaFacts> made;
        {
            std::lock_guard lock(m_mutex);
            made = m_facts;
        }
        if (made) made->letGo();
    }

private:
    const MediaFacts* facts() const {
        std::lock_guard lock(m_mutex);
        if (!m_facts && !m_failure) {
            try {
                m_facts = ModuleLoader::table<MediaModule>().facts();
            } catch (const ModuleLoader::Unavailable& error) {
                m_failure = error.what();
            }
        }
        return m_facts.get();
    }

    mutable std::mutex m_mutex;
    mutable std::shared_ptr<const MediaFacts> m_facts;
    mutable std::optional<std::string> m_failure;
};

}  // namespace

ConversionCoordinator::Engines EngineModules::inProcessEngines(const FileManagerService& files,
                                                               const TemporaryFileManager& temporary) {
    const FileManagerService* shared = &files;
    // A PDF's text is written by the document module's writer, loaded when a PDF first needs it.
    PdfTextDocumentWriter textWriter = [](const ConversionJob& job, const std::string& pagesText,
                                          const ProgressCallback& progress, std::stop_token stop) {
        return ModuleLoader::table<DocumentModule>().pdfTextWriter()(job, pagesText, progress, std::move(stop));
    };
    auto pages = lazy(engine_ids::pdf, &PdfPageToolEngine::takes,
                      [] { return ModuleLoader::table<PdfPagesModule>().engine(); });
    auto pdf = lazy(engine_ids::pdf, &pdfTakes,
                    [shared, textWriter] { return ModuleLoader::table<PdfModule>().engine(*shared, textWriter); });
    return {
        imageEngine(),
        std::make_shared<RoutedEngine>(&PdfPageToolEngine::takes, std::move(pages), std::move(pdf)),
        lazy(engine_ids::audio, &audioTakes, [] { return ModuleLoader::table<MediaModule>().audioEngine(); }),
        lazy(engine_ids::document, &documentTakes, [] { return ModuleLoader::table<DocumentModule>().engine(); }),
        lazy(engine_ids::archive, &archiveTakes,
             [shared, temporary] { return ModuleLoader::table<ArchiveModule>().engine(*shared, temporary); }),
    };
}

std::shared_ptr<const ConversionEngine> EngineModules::imageEngine() {
    return lazy(engine_ids::image, &imageTakes, [] { return ModuleLoader::table<ImageModule>().engine(); });
}

std::shared_ptr<const ConversionEngine> EngineModules::ffmpegEngine(BundledFFmpeg tools, std::set<std::string> encoders,
                                                                     std::shared_ptr<const ConversionEngine> imageEngine,
                                                                     const FileManagerService& files,
                                                                     const TemporaryFileManager& temporary) {
    return ffmpegEngine(std::move(tools), std::make_shared<const FFmpegEncoderList>(std::move(encoders)),
                        std::move(imageEngine), files, temporary);
}

std::shared_ptr<const ConversionEngine> EngineModules::ffmpegEngine(BundledFFmpeg tools,
                                                                     std::shared_ptr<const FFmpegEncoderList> encoders,
                                                                     std::shared_ptr<const ConversionEngine> imageEngine,
                                                                     const FileManagerService& files,
                                                                     const TemporaryFileManager& temporary) {
    const FileManagerService* shared = &files;
    return lazy(engine_ids::ffmpeg, &ffmpegTakes, [=] {
        return ModuleLoader::table<MediaModule>().ffmpegEngine(tools, encoders, imageEngine, *shared, temporary);
    });
}

std::shared_ptr<const MediaFacts> EngineModules::mediaFacts() { return std::make_shared<ModuleMediaFacts>(); }

FrameScrubber::Provider EngineModules::frameProvider(const fs::path& file, bool isVideo) {
    if (!isVideo) return {};
    struct Shared {
        std::mutex mutex;
        bool tried = false;
        FrameScrubber::Provider provider;
    };
    auto shared = std::make_shared<Shared>();
    return [file, shared](double seconds, std::stop_token stop) -> std::optional<VideoFrame> {
        FrameScrubber::Provider provider;
        {
            std::lock_guard lock(shared->mutex);
            if (!shared->tried) {
                shared->tried = true;
                if (const auto* media = tryTable<MediaModule>()) shared->provider = media->frames(file, true);
            }
            provider = shared->provider;
        }
        if (!provider) return std::nullopt;
        return provider(seconds, std::move(stop));
    };
}

std::optional<VideoFrame> EngineModules::videoFrame(const fs::path& file, std::stop_token stop) {
    const auto* media = tryTable<MediaModule>();
    return media ? media->videoFrame(file, std::move(stop)) : std::nullopt;
}

std::optional<VideoFrame> EngineModules::firstFrame(const fs::path& file, int maxSide) {
    const auto* media = tryTable<MediaModule>();
    return media ? media->firstFrame(file, maxSide) : std::nullopt;
}

std::optional<image::ThumbnailPixels> EngineModules::thumbnail(const fs::path& file, int maxSide) {
    const auto* images = tryTable<ImageModule>();
    return images ? images->thumbnail(file, maxSide) : std::nullopt;
}

std::optional<image::ThumbnailPixels> EngineModules::pdfThumbnail(const fs::path& file, int maxSide) {
    const auto* pdf = tryTable<PdfModule>();
    return pdf ? pdf->thumbnail(file, maxSide) : std::nullopt;
}

fs::path EngineModules::createSample(const std::string& name) { return ModuleLoader::table<ImageModule>().createSample(name); }

std::vector<std::string> EngineModules::unavailable() {
    std::vector<std::string> reasons;
    for (const char* name : {ImageModule::kName, PdfModule::kName, PdfPagesModule::kName, DocumentModule::kName,
                             ArchiveModule::kName, MediaModule::kName}) {
        try {
            ModuleLoader::entry(name, true);
        } catch (const ModuleLoader::Unavailable& error) {
            reasons.emplace_back(error.what());
        }
    }
    return reasons;
}

}  // namespace kolvex
