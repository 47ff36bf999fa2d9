// SPDX-License-Identifier: GPL-3.0-or-later
// Encodes a 60-second stereo WAV to AAC in M4A at 192 kbit/s, once through the audio engine and
// once through the ffmpeg program; compare the two times (the engine should not be slower).
#include <cstdlib>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "core/engines/audio/AudioEngine.h"
#include "core/services/ProcessRunner.h"
#include "support/BenchFolder.h"
#include "support/BenchFormat.h"

namespace {

namespace fs = std::filesystem;
using namespace kolvex;

const fs::path kFfmpeg = "/usr/bin/ffmpeg";

struct Workspace {
    BenchFolder folder{"audio"};
    fs::path dir = folder.path();
    fs::path wav;
    bool ready = false;

    Workspace() {
        if (!folder.made()) return;
        wav = dir / "source.wav";
        auto made = ProcessRunner().run(kFfmpeg,
                                        {"-v", "error", "-y", "-f", "lavfi", "-i",
                                         "sine=frequency=440:duration=60:sample_rate=44100", "-ac", "2", wav.string()},
                                        std::nullopt, {}, {});
        ready = made.exitCode == 0;
    }
};

Workspace& workspace() {
    static Workspace w;
    return w;
}

Format audioFormat(const std::string& id) { return benchFormat(id, FormatCategory::audio); }

void BM_EngineWavToM4a(benchmark::State& state) {
    auto& w = workspace();
    if (!w.ready) return state.SkipWithError("ffmpeg could not make the source");
    auto options = ConversionOptions::defaults();
    options.audioBitrate = 192000;
    const fs::path out = w.dir / "engine.m4a";
    for (auto _ : state) {
        fs::remove(out);
        ConversionJob job(w.wav, {}, out, audioFormat("wav"), audioFormat("m4a"),
                          {FormatID("wav"), FormatID("m4a"), engine_ids::audio}, options);
        AudioEngine().convert(job, [](double) {}, {});
    }
}

void BM_FfmpegProgramWavToM4a(benchmark::State& state) {
    auto& w = workspace();
    if (!w.ready) return state.SkipWithError("ffmpeg could not make the source");
    const fs::path out = w.dir / "program.m4a";
    for (auto _ : state) {
        auto result = ProcessRunner().run(kFfmpeg,
                                          {"-v", "error", "-y", "-i", w.wav.string(), "-c:a", "aac", "-b:a", "192k",
                                           "-map_metadata", "-1", out.string()},
                                          std::nullopt, {}, {});
        if (result.exitCode != 0) return state.SkipWithError("ffmpeg failed");
    }
}

BENCHMARK(BM_EngineWavToM4a)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegProgramWavToM4a)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
