// SPDX-License-Identifier: GPL-3.0-or-later
// kolvex-engine-media: everything that reads media with FFmpeg's libraries in process: the audio
// engine, the probe the FFmpeg engine plans with, and the facts, frames and waveforms of the sheets.
#include "core/engines/audio/AudioEngine.h"
#include "core/ffmpeg/FFmpegEngine.h"
#include "core/modules/EngineModule.h"
#include "core/modules/entries/ModuleEntry.h"

namespace kolvex::modules {
namespace {

const MediaModule kTable{
    []() -> EnginePtr { return std::make_shared<AudioEngine>(); },
    [](const BundledFFmpeg& tools, std::shared_ptr<const FFmpegEncoderList> encoders, EnginePtr imageEngine,
       const FileManagerService& files, const TemporaryFileManager& temporary) -> EnginePtr {
        // No prober given: the engine probes in process.
        return std::make_shared<FFmpegEngine>(FFmpegEngine::overList(
            tools, nullptr, std::move(encoders),
            imageEngine ? FFmpegEngine::decoderThrough(std::move(imageEngine)) : FFmpegEngine::ImageDecoder{}, files,
            temporary));
    },
    []() -> std::shared_ptr<const MediaFacts> { return std::make_shared<FFmpegMediaFacts>(); },
    &FrameScrubber::provider,
    [](const std::filesystem::path& file, std::stop_token stop) { return FrameScrubber::videoFrame(file, std::move(stop)); },
    [](const std::filesystem::path& file, int maxSide) {
        FrameScrubber scrubber(file, maxSide, maxSide);
        return scrubber.decode(0);
    },
};

}  // namespace
}  // namespace kolvex::modules

KOLVEX_ENGINE_MODULE(kolvex::modules::kTable)
