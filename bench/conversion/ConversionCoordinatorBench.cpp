// SPDX-License-Identifier: GPL-3.0-or-later
// What the coordinator itself costs per file, so the engines' time is what users wait for:
// naming against a crowded folder, planning a large drop, and running a batch through an
// engine that does nothing.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "core/conversion/BatchProgress.h"
#include "core/conversion/ConversionCoordinator.h"
#include "core/services/OutputNaming.h"
#include "support/BenchFolder.h"

namespace {

namespace fs = std::filesystem;
using namespace kolvex;

class ScratchFolder {
public:
    ScratchFolder() {
        if (!m_folder.made()) std::abort();
    }
    const fs::path& path() const { return m_folder.path(); }
    fs::path touch(const std::string& name) const {
        std::ofstream(path() / name) << "x";
        return path() / name;
    }

private:
    BenchFolder m_folder{"conversion"};
};

// An engine that reports progress and returns the destination without writing anything.
class IdleEngine final : public PlanReportingEngine {
public:
    EngineID id() const override { return engine_ids::image; }
    bool canHandle(const ConversionJob&) const override { return true; }
    bool checksRoom(const ConversionJob&) const override { return false; }
    std::vector<fs::path> convert(const ConversionJob& job, const ProgressCallback& progress,
                                  std::stop_token) const override {
        for (int i = 1; i <= 10; ++i) progress(i / 10.0);
        return {job.destination};
    }
};

FormatRegistry imageRegistry() {
    FormatManifest manifest;
    Format png;
    png.id = FormatID("png");
    png.extensions = {"png"};
    png.label = "PNG";
    Format jpg;
    jpg.id = FormatID("jpg");
    jpg.extensions = {"jpg", "jpeg"};
    jpg.label = "JPEG";
    manifest.formats = {png, jpg};
    manifest.conversions = {ConversionCapability{"png", "jpg", "image", ConversionCost::inProcess, false}};
    return FormatRegistry(manifest);
}

// Finding a free name when the first `taken` names already exist.
void BM_FreeNameInCrowdedFolder(benchmark::State& state) {
    ScratchFolder folder;
    const auto source = folder.touch("photo.png");
    const auto taken = state.range(0);
    if (taken > 0) folder.touch("photo.jpg");
    for (int64_t i = 2; i <= taken; ++i) folder.touch("photo " + std::to_string(i) + ".jpg");
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            FileManagerService::shared().destination(source, "jpg", std::nullopt, Preferences::ConflictBehaviour::rename));
    }
}
BENCHMARK(BM_FreeNameInCrowdedFolder)->Arg(0)->Arg(10)->Arg(100);

// Stems and names of long Unicode file names (composition, grapheme-safe trimming).
void BM_LongUnicodeName(benchmark::State& state) {
    std::string name;
    while (name.size() < 400) name += "Fo\xCC\x88to \xE5\x86\x99\xE7\x9C\x9F ";
    name += ".heic";
    for (auto _ : state) {
        benchmark::DoNotOptimize(OutputNaming::filename(OutputNaming::stem(name), 12, "jpg"));
    }
}
BENCHMARK(BM_LongUnicodeName);

// A drop of `count` PNG files, all in `folder`, to JPEG.
ConversionIntent dropOfImages(const ScratchFolder& folder, int64_t count) {
    ConversionIntent intent;
    intent.target = FormatID("jpg");
    intent.options = ConversionOptions::defaults();
    for (int64_t i = 0; i < count; ++i) intent.urls.push_back(folder.touch("img" + std::to_string(i) + ".png"));
    return intent;
}

// Planning a drop of N files into one folder (all with the same stem family).
void BM_PlanLargeDrop(benchmark::State& state) {
    ScratchFolder folder;
    const ConversionIntent intent = dropOfImages(folder, state.range(0));
    ConversionCoordinator coordinator(imageRegistry(), {std::make_shared<IdleEngine>()});
    for (auto _ : state) benchmark::DoNotOptimize(coordinator.plan(intent));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PlanLargeDrop)->Arg(10)->Arg(200);

// Submitting N files through an engine that does no work: the per-job overhead of planning,
// checks, worker threads and progress.
void BM_SubmitIdleBatch(benchmark::State& state) {
    ScratchFolder folder;
    const ConversionIntent intent = dropOfImages(folder, state.range(0));
    ConversionCoordinator coordinator(imageRegistry(), {std::make_shared<IdleEngine>()});
    int64_t reports = 0;
    for (auto _ : state) {
        auto results = coordinator.submit(intent, [&](const BatchProgress&) { ++reports; });
        benchmark::DoNotOptimize(results);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    benchmark::DoNotOptimize(reports);
}
BENCHMARK(BM_SubmitIdleBatch)->Arg(1)->Arg(64)->UseRealTime();

// Progress from many engine threads at once into one tracker.
void BM_TrackerUpdates(benchmark::State& state) {
    static std::unique_ptr<BatchProgressTracker> tracker;
    if (state.thread_index() == 0) tracker = std::make_unique<BatchProgressTracker>(8, [](const BatchProgress&) {});
    int step = 0;
    for (auto _ : state) tracker->update(state.thread_index(), (++step % 1000) / 1000.0);
}
BENCHMARK(BM_TrackerUpdates)->Threads(1)->Threads(4);

}  // namespace

BENCHMARK_MAIN();
