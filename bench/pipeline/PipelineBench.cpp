// SPDX-License-Identifier: GPL-3.0-or-later
// The pure paths every conversion goes through, timed without media work: the ring targets the
// Portal asks for while a drag is held (1, 100 and 10 000 files; the goal for 10 000 is under
// 5 ms), the first free output name with 0, 10 and 998 names taken, ffmpeg's progress stream
// (1 M lines), keyframe lookups among 100 000 keyframes and a coordinator batch of 64 jobs on
// an engine that does no work. The batch checks, as it runs, that no more jobs ran at once than
// the coordinator's limit and that progress was reported at most 500 + 1 times.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <unistd.h>

#include "core/conversion/ConversionCoordinator.h"
#include "core/ffmpeg/FFmpegProgressParser.h"
#include "core/ffmpeg/KeyframeIndex.h"
#include "core/format/FormatRegistry.h"
#include "core/services/FileManagerService.h"
#include "core/services/OutputNaming.h"

namespace {

namespace fs = std::filesystem;
using namespace kolvex;

const FormatRegistry& registry() {
    static const FormatRegistry shipped = FormatRegistry::loadBundled();
    return shipped;
}

// A drag of `count` photos from one folder, with the mix of spellings people have.
std::vector<fs::path> droppedPhotos(int count) {
    static const char* const kExtensions[] = {"jpg", "JPG", "jpeg", "png", "heic", "tif"};
    std::vector<fs::path> urls;
    urls.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        urls.push_back(fmt::format("/home/someone/Pictures/Holiday 2026/IMG_{:05}.{}", i, kExtensions[i % 6]));
    }
    return urls;
}

void BM_RingTargets(benchmark::State& state, PortalMode mode) {
    const auto& formats = registry();
    const auto urls = droppedPhotos(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto targets = formats.targets(urls, mode);
        benchmark::DoNotOptimize(targets);
    }
    state.counters["files"] = static_cast<double>(urls.size());
}
BENCHMARK_CAPTURE(BM_RingTargets, convert, PortalMode::convert)->Arg(1)->Arg(100)->Arg(10'000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RingTargets, tools, PortalMode::tools)->Arg(1)->Arg(100)->Arg(10'000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RingTargets, advanced, PortalMode::advanced)->Arg(1)->Arg(100)->Arg(10'000)->Unit(benchmark::kMicrosecond);

// Photos, then a drag that mixes an image with a video: the ring is empty, the answer must still be quick.
void BM_RingTargetsMixed(benchmark::State& state) {
    auto urls = droppedPhotos(static_cast<int>(state.range(0)) - 1);
    urls.emplace_back("/home/someone/Videos/clip.mp4");
    for (auto _ : state) {
        auto targets = registry().targets(urls, PortalMode::convert);
        benchmark::DoNotOptimize(targets);
    }
}
BENCHMARK(BM_RingTargetsMixed)->Arg(10'000)->Unit(benchmark::kMicrosecond);

// The names taken beside "/photos/Long weekend.heic" when converting to PNG: the plain name and
// the numbered ones from 2 up, `collisions` in all.
std::unordered_set<std::string> takenNames(const fs::path& folder, int collisions) {
    std::unordered_set<std::string> taken;
    for (int i = 0; i < collisions; ++i) {
        taken.insert((folder / OutputNaming::filename("Long weekend", i == 0 ? std::nullopt : std::optional(i + 1), "png")).string());
    }
    return taken;
}

void BM_OutputNaming(benchmark::State& state) {
    const fs::path folder = "/photos";
    const auto taken = takenNames(folder, static_cast<int>(state.range(0)));
    const OutputNaming::Exists exists = [&](const fs::path& p) { return taken.contains(p.string()); };
    for (auto _ : state) {
        auto name = OutputNaming::destination(folder / "Long weekend.heic", "png", std::nullopt, exists);
        benchmark::DoNotOptimize(name);
    }
}
BENCHMARK(BM_OutputNaming)->Arg(0)->Arg(10)->Arg(998)->Unit(benchmark::kMicrosecond);

// The same on a real folder through the file services: every candidate is one lstat.
void BM_OutputNamingOnDisk(benchmark::State& state) {
    std::string pattern = (fs::temp_directory_path() / "kolvex-bench-naming-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return state.SkipWithError("no temporary folder");
    const fs::path folder = pattern;
    for (const auto& name : takenNames(folder, static_cast<int>(state.range(0)))) {
        std::FILE* file = std::fopen(name.c_str(), "w");
        if (file) std::fclose(file);
    }
    const auto& files = FileManagerService::shared();
    for (auto _ : state) {
        auto name = files.destination(folder / "Long weekend.heic", "png", std::nullopt,
                                      Preferences::ConflictBehaviour::rename);
        benchmark::DoNotOptimize(name);
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
}
BENCHMARK(BM_OutputNamingOnDisk)->Arg(0)->Arg(10)->Arg(998)->Unit(benchmark::kMicrosecond);

// One block of ffmpeg's "-progress" output per status update, as ffmpeg 5.1 writes it.
std::vector<std::string> progressLines(int count) {
    std::vector<std::string> lines;
    lines.reserve(static_cast<size_t>(count));
    for (int block = 0; static_cast<int>(lines.size()) < count; ++block) {
        const int64_t us = int64_t{block} * 40'000;
        const std::string block_lines[] = {
            fmt::format("frame={}", block),
            "fps=240.00",
            "stream_0_0_q=28.0",
            fmt::format("bitrate={}.3kbits/s", 800 + block % 200),
            fmt::format("total_size={}", int64_t{block} * 4096),
            fmt::format("out_time_us={}", us),
            fmt::format("out_time_ms={}", us),
            fmt::format("out_time=00:{:02}:{:02}.{:06}", us / 60'000'000 % 60, us / 1'000'000 % 60, us % 1'000'000),
            "dup_frames=0",
            "drop_frames=0",
            "speed=9.6x",
            "progress=continue",
        };
        for (const auto& line : block_lines) {
            if (static_cast<int>(lines.size()) == count) break;
            lines.push_back(line);
        }
    }
    lines.back() = "progress=end";
    return lines;
}

void BM_ProgressLines(benchmark::State& state) {
    const auto lines = progressLines(static_cast<int>(state.range(0)));
    // The time line the lines cover, so the fraction grows all the way.
    const double seconds = static_cast<double>(lines.size() / 12) * 0.04;
    for (auto _ : state) {
        FFmpegProgressParser parser(seconds);
        int reports = 0;
        for (const auto& line : lines) {
            if (parser.consume(line)) ++reports;
        }
        benchmark::DoNotOptimize(reports);
        if (parser.lastFraction() != 1.0) return state.SkipWithError("the stream did not end at 1");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ProgressLines)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Snapping a trim handle: one lookup in 100 000 keyframes.
void BM_KeyframeLookup(benchmark::State& state) {
    // A long video's keyframes: about every two seconds.
    std::vector<double> times;
    for (int i = 0; i < 100'000; ++i) times.push_back(i * 2.002);
    const KeyframeIndex index(std::move(times));
    double time = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(index.nearest(time));
        time += 7.3;
        if (time > 200'000) time = 0;
    }
}
BENCHMARK(BM_KeyframeLookup);

// File services that answer from memory: the batch measures the coordinator, not the disk.
class MemoryFiles final : public FileManagerService {
public:
    bool itemExists(const fs::path&) const override { return false; }
    void ensureWritable(const fs::path&) const override {}
    bool canWrite(const fs::path&) const override { return true; }
    std::optional<int64_t> size(const fs::path&) const override { return std::nullopt; }
    std::optional<int64_t> availableCapacity(const fs::path&) const override { return std::nullopt; }
};

// Does no work beyond reporting progress in 100 steps; counts how many jobs run at once.
class BusyEngine final : public PlanReportingEngine {
public:
    EngineID id() const override { return engine_ids::image; }
    bool canHandle(const ConversionJob&) const override { return true; }
    bool checksRoom(const ConversionJob&) const override { return false; }
    std::vector<fs::path> convert(const ConversionJob& job, const ProgressCallback& progress,
                                  std::stop_token) const override {
        const int now = ++m_running;
        int seen = m_maxRunning.load();
        while (now > seen && !m_maxRunning.compare_exchange_weak(seen, now)) {
        }
        for (int step = 1; step <= 100; ++step) progress(step / 100.0);
        --m_running;
        return {job.destination};
    }

    int maxRunning() const { return m_maxRunning.load(); }
    void reset() const { m_maxRunning = 0; }

private:
    mutable std::atomic<int> m_running{0};
    mutable std::atomic<int> m_maxRunning{0};
};

void BM_CoordinatorBatch(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    auto engine = std::make_shared<BusyEngine>();
    ConversionCoordinator coordinator(registry(), {engine}, std::make_shared<MemoryFiles>());
    ConversionIntent intent;
    intent.target = FormatID("png");
    for (int i = 0; i < count; ++i) intent.urls.push_back(fmt::format("/photos/IMG_{:04}.jpg", i));
    const int limit = coordinator.concurrencyLimit(coordinator.plan(intent));

    for (auto _ : state) {
        engine->reset();
        std::atomic<int> reports{0};
        auto results = coordinator.submit(intent, [&](const BatchProgress&) { ++reports; });
        if (static_cast<int>(results.size()) != count) return state.SkipWithError("a result is missing");
        for (const auto& result : results) {
            if (!result.succeeded()) return state.SkipWithError("a job failed");
        }
        if (engine->maxRunning() > limit) return state.SkipWithError("more jobs ran at once than the limit");
        if (reports.load() > 501) return state.SkipWithError("more than 501 progress reports");
        state.counters["reports"] = reports.load();
    }
    state.counters["limit"] = limit;
    state.counters["maxRunning"] = engine->maxRunning();
}
BENCHMARK(BM_CoordinatorBatch)->Arg(64)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
