// SPDX-License-Identifier: GPL-3.0-or-later
// Remux of a large MP4 (about 1 GB; KOLVEX_BENCH_MB sets another size) to MKV through the engine
// against a bare `ffmpeg -c copy` on the same file, and a forced re-encode of a short clip
// through the engine against bare ffmpeg with the same encoders. Each iteration times both and
// reports engine/bare as "ratio" (goal for the remux: at most 1.05).
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <stdexcept>

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <unistd.h>

#include "core/ffmpeg/FFmpegEngine.h"
#include "core/services/ProcessRunner.h"

namespace fs = std::filesystem;
using namespace kolvex;

namespace {

struct Fixture {
    fs::path dir;
    fs::path large;  // h264 + aac, about the requested size
    fs::path clip;   // a few seconds for the re-encode
    BundledFFmpeg tools = BundledFFmpeg::inBundle();

    Fixture() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kolvex-bench-XXXXXX";
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        dir = pattern;
        clip = dir / "clip.mp4";
        ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30:duration=4", "-f", "lavfi", "-i",
                "sine=frequency=440:duration=4", "-c:v", "libx264", "-preset", "ultrafast", "-qp", "0", "-c:a", "aac",
                clip.string()});
        const char* wanted = std::getenv("KOLVEX_BENCH_MB");
        const double megabytes = wanted ? std::atof(wanted) : 1024;
        const double clipMegabytes = static_cast<double>(fs::file_size(clip)) / 1e6;
        const int loops = std::max(0, static_cast<int>(megabytes / clipMegabytes) - 1);
        large = dir / "large.mp4";
        ffmpeg({"-stream_loop", std::to_string(loops), "-i", clip.string(), "-c", "copy", large.string()});
    }
    ~Fixture() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    void ffmpeg(std::vector<std::string> args) const {
        args.insert(args.begin(), {"-nostdin", "-hide_banner", "-loglevel", "error", "-y"});
        const auto result = ProcessRunner().run(tools.ffmpeg, args, std::nullopt, nullptr, nullptr);
        if (!result.succeeded()) throw std::runtime_error("ffmpeg failed: " + result.standardError());
    }
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

Format format(const char* id, FormatCategory category, const char* label) {
    Format f;
    f.id = FormatID(id);
    f.category = category;
    f.extensions = {id};
    f.capabilities = {FormatCapability::lossy};
    f.label = label;
    return f;
}

double seconds(auto&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void compare(benchmark::State& state, const fs::path& source, bool reencode) {
    auto& f = fixture();
    const FFmpegEngine engine(f.tools, nullptr, {});
    const fs::path bareOut = f.dir / "bare.mkv";
    const fs::path engineOut = f.dir / "engine.mkv";
    ConversionOptions options = ConversionOptions::defaults();
    options.allowPassthrough = !reencode;
    const ConversionJob job(source, {}, engineOut, format("mp4", FormatCategory::video, "MP4"),
                            format("mkv", FormatCategory::video, "MKV"),
                            ConversionCapability{"mp4", "mkv", engine_ids::ffmpeg, ConversionCost::subprocess, true}, options);
    const std::vector<std::string> bareArgs =
        reencode ? std::vector<std::string>{"-i", source.string(), "-map", "0:v:0", "-map", "0:a:0?", "-c:v", "libx264",
                                            "-c:a", "aac", "-b:a", "192k", bareOut.string()}
                 : std::vector<std::string>{"-i", source.string(), "-map", "0:v:0", "-map", "0:a:0?", "-c", "copy",
                                            bareOut.string()};
    double bareTotal = 0, engineTotal = 0;
    for (auto _ : state) {
        // Each run starts with no dirty pages left by the other, and they take turns going first,
        // so neither pays for the other's writes.
        const auto runBare = [&] {
            fs::remove(bareOut);
            ::sync();
            return seconds([&] { f.ffmpeg(bareArgs); });
        };
        const auto runEngine = [&] {
            fs::remove(engineOut);
            ::sync();
            return seconds([&] { engine.convert(job, [](double) {}, {}); });
        };
        double bare = 0, ours = 0;
        if (state.iterations() % 2 == 0) {
            bare = runBare();
            ours = runEngine();
        } else {
            ours = runEngine();
            bare = runBare();
        }
        bareTotal += bare;
        engineTotal += ours;
        state.SetIterationTime(ours);
    }
    state.counters["bare_s"] = bareTotal / static_cast<double>(state.iterations());
    state.counters["engine_s"] = engineTotal / static_cast<double>(state.iterations());
    state.counters["ratio"] = engineTotal / bareTotal;
    state.counters["source_MB"] = static_cast<double>(fs::file_size(source)) / 1e6;
}

void BM_RemuxToMkv(benchmark::State& state) { compare(state, fixture().large, false); }
void BM_ReencodeToMkv(benchmark::State& state) { compare(state, fixture().clip, true); }

}  // namespace

BENCHMARK(BM_RemuxToMkv)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReencodeToMkv)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
