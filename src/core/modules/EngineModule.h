// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>

#include "core/conversion/ConversionEngine.h"
#include "core/engines/image/Thumbnailer.h"
#include "core/engines/pdf/PdfTextExtractor.h"
#include "core/ffmpeg/BundledFFmpeg.h"
#include "core/ffmpeg/FFmpegEncoderList.h"
#include "core/ffmpeg/preview/FrameScrubber.h"
#include "core/ffmpeg/preview/MediaFacts.h"
#include "core/services/FileManagerService.h"
#include "core/services/TemporaryFileManager.h"

// What each engine module hands the program that loads it: one table of entry points, returned
// by the module's only exported function. Program and modules come from one build and share the
// core library, so the tables carry C++ types; a module of another version refuses to answer.
namespace kolvex::modules {

// extern "C" const void* kolvex_engine_module(const char* version): the module's table, or null
// when `version` is not the one it was built as.
inline constexpr const char* kEntryPoint = "kolvex_engine_module";

using EnginePtr = std::shared_ptr<const ConversionEngine>;

// kolvex-engine-image: libvips.
struct ImageModule {
    static constexpr const char* kName = "image";
    EnginePtr (*engine)();
    std::optional<image::ThumbnailPixels> (*thumbnail)(const std::filesystem::path& file, int maxSide);
    // The first-run example image, written to the Downloads folder; throws SampleFile::Failure.
    std::filesystem::path (*createSample)(const std::string& name);
};

// kolvex-engine-pdf: poppler and qpdf (and libvips for page images).
struct PdfModule {
    static constexpr const char* kName = "pdf";
    EnginePtr (*engine)(const FileManagerService& files, PdfTextDocumentWriter textWriter);
    // The first page drawn within `maxSide` on each side, for a thumbnail (pdfThumbnail).
    std::optional<image::ThumbnailPixels> (*thumbnail)(const std::filesystem::path& file, int maxSide);
};

// kolvex-engine-pdf-pages: the page tools that need qpdf alone (PdfPageToolEngine).
struct PdfPagesModule {
    static constexpr const char* kName = "pdf-pages";
    EnginePtr (*engine)();
};

// kolvex-engine-document: the text document readers and writers (pugixml, libarchive for DOCX).
struct DocumentModule {
    static constexpr const char* kName = "document";
    EnginePtr (*engine)();
    // The writer the PDF engine hands a PDF's text to.
    PdfTextDocumentWriter (*pdfTextWriter)();
};

// kolvex-engine-archive: libarchive.
struct ArchiveModule {
    static constexpr const char* kName = "archive";
    EnginePtr (*engine)(const FileManagerService& files, const TemporaryFileManager& temporary);
};

// kolvex-engine-media: FFmpeg's libraries, for audio conversions in process, media probing,
// frames and waveforms, and the FFmpeg engine that probes with them.
struct MediaModule {
    static constexpr const char* kName = "media";
    EnginePtr (*audioEngine)();
    EnginePtr (*ffmpegEngine)(const BundledFFmpeg& tools, std::shared_ptr<const FFmpegEncoderList> encoders, EnginePtr imageEngine,
                              const FileManagerService& files, const TemporaryFileManager& temporary);
    std::shared_ptr<const MediaFacts> (*facts)();
    FrameScrubber::Provider (*frames)(const std::filesystem::path& file, bool isVideo);
    // The still for the crop sheet (FrameScrubber::videoFrame).
    std::optional<VideoFrame> (*videoFrame)(const std::filesystem::path& file, std::stop_token stop);
    // The first frame within `maxSide` on each side, for a thumbnail.
    std::optional<VideoFrame> (*firstFrame)(const std::filesystem::path& file, int maxSide);
};

}  // namespace kolvex::modules
