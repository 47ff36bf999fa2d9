// SPDX-License-Identifier: GPL-3.0-or-later
// A batch of 12-megapixel JPEGs becomes WebP at quality 80 three ways, on the same files with the
// same number of conversions at once: through the coordinator and the image engine, through a
// loop of `vips webpsave` programs, and through ImageMagick's `mogrify`. The ratios printed at the
// end should be at most 1.0 against the vips loop and at most 0.2 against mogrify.
#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips8>

#include "core/conversion/ConversionCoordinator.h"
#include "core/engines/image/ImageEngine.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace kolvex;
using vips::VImage;

const fs::path kVips = "/usr/bin/vips";
const fs::path kMogrify = "/usr/bin/mogrify";

int batchSize() {
    const char* given = std::getenv("KOLVEX_BENCH_IMAGES");
    int count = given ? std::atoi(given) : 8;
    return std::clamp(count, 1, 64);
}

// Photographs compress like smooth areas with fine grain; pure noise would only measure the
// encoder's worst case.
void makePhoto(const fs::path& file, int seed) {
    VImage xy = VImage::xyz(4000, 3000);
    VImage x = xy[0];
    VImage y = xy[1];
    VImage red = (x / (97.0 + seed)).sin() * 90 + 128;
    VImage green = (y / (131.0 + seed)).cos() * 90 + 128;
    VImage blue = ((x + y) / 40.0).sin() * 60 + 120;
    VImage photo = red.bandjoin({green, blue}) + VImage::gaussnoise(4000, 3000, VImage::option()->set("mean", 0)->set("sigma", 6));
    photo.cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
        .jpegsave(file.c_str(), VImage::option()->set("Q", 90));
}

struct Workspace {
    fs::path dir;
    std::vector<fs::path> photos;
    int parallel = 2;  // conversions at once, as the coordinator decides for these jobs
    bool ready = false;

    Workspace() {
        if (VIPS_INIT("bench-image") != 0) return;
        std::string pattern = (fs::temp_directory_path() / "kolvex-bench-image-XXXXXX").string();
        if (!mkdtemp(pattern.data())) return;
        dir = pattern;
        fs::create_directories(dir / "in");
        for (int i = 0; i < batchSize(); ++i) {
            photos.push_back(dir / "in" / fmt::format("photo{:02}.jpg", i));
            makePhoto(photos.back(), i);
        }
        parallel = std::clamp(ConversionCoordinator::activeProcessorCount(), 2, 8);
        ready = true;
    }
    ~Workspace() {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }

    fs::path freshOutput(const std::string& name) const {
        fs::path out = dir / name;
        fs::remove_all(out);
        fs::create_directories(out);
        return out;
    }
};

Workspace& workspace() {
    static Workspace w;
    return w;
}

// Runs a reference program with its output discarded; true when it exits with 0. The child stays
// in this process's session (the process runner would give it one of its own), so under the
// scheduler's per-session fairness the references get no more of the machine than the engine.
bool runQuietly(const fs::path& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs `work(i)` for every file index on `parallel` threads.
template <class Work>
void onWorkers(int parallel, size_t count, Work work) {
    std::atomic<size_t> next{0};
    std::vector<std::jthread> workers;
    for (int t = 0; t < parallel; ++t) {
        workers.emplace_back([&] {
            for (size_t i = next++; i < count; i = next++) work(i);
        });
    }
}

void BM_CoordinatorJpegToWebp(benchmark::State& state) {
    auto& w = workspace();
    if (!w.ready) return state.SkipWithError("the photos could not be made");
    ConversionCoordinator coordinator(FormatRegistry::loadBundled(), {std::make_shared<ImageEngine>()});
    ConversionOptions options;
    options.quality = 0.8;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = w.freshOutput("coordinator");
        state.ResumeTiming();
        auto results = coordinator.submit(ConversionIntent{w.photos, FormatID("webp"), options, out});
        for (const auto& result : results) {
            if (!result.succeeded()) return state.SkipWithError(result.error ? result.error->what() : "no output");
        }
    }
    state.counters["images"] = static_cast<double>(w.photos.size());
}

void BM_VipsProgramLoop(benchmark::State& state) {
    auto& w = workspace();
    if (!w.ready) return state.SkipWithError("the photos could not be made");
    if (access(kVips.c_str(), X_OK) != 0) return state.SkipWithError("the vips program is missing (libvips-tools)");
    std::atomic<bool> failed{false};
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = w.freshOutput("vips");
        state.ResumeTiming();
        onWorkers(w.parallel, w.photos.size(), [&](size_t i) {
            auto target = out / w.photos[i].filename().replace_extension(".webp");
            if (!runQuietly(kVips, {"webpsave", w.photos[i].string(), target.string(), "--Q", "80"})) failed = true;
        });
        if (failed) return state.SkipWithError("vips failed");
    }
}

void BM_MogrifyBatch(benchmark::State& state) {
    auto& w = workspace();
    if (!w.ready) return state.SkipWithError("the photos could not be made");
    if (access(kMogrify.c_str(), X_OK) != 0) {
        return state.SkipWithError("mogrify is missing: run bench/image/run.sh, which installs ImageMagick");
    }
    std::atomic<bool> failed{false};
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = w.freshOutput("mogrify");
        state.ResumeTiming();
        // One mogrify per slice of the files, as many at once as the other two use.
        onWorkers(w.parallel, static_cast<size_t>(w.parallel), [&](size_t slice) {
            std::vector<std::string> args{"-path", out.string(), "-format", "webp", "-quality", "80"};
            for (size_t i = slice; i < w.photos.size(); i += static_cast<size_t>(w.parallel)) {
                args.push_back(w.photos[i].string());
            }
            if (args.size() == 6) return;
            if (!runQuietly(kMogrify, args)) failed = true;
        });
        if (failed) return state.SkipWithError("mogrify failed");
    }
}

BENCHMARK(BM_CoordinatorJpegToWebp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_VipsProgramLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_MogrifyBatch)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// Prints as usual and keeps each benchmark's mean real time for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (!run.error_occurred) m_times[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
    }

    void printRatios() const {
        auto time = [&](const std::string& prefix) -> double {
            for (const auto& [name, value] : m_times) {
                if (name.rfind(prefix, 0) == 0) return value;
            }
            return 0;
        };
        const double ours = time("BM_CoordinatorJpegToWebp");
        const double vipsLoop = time("BM_VipsProgramLoop");
        const double mogrify = time("BM_MogrifyBatch");
        fmt::print("\n{} JPEGs of 12 MP to WebP q80, {} at once\n", workspace().photos.size(), workspace().parallel);
        if (ours > 0 && vipsLoop > 0) fmt::print("engine / vips loop: {:.2f}x (goal <= 1.0)\n", ours / vipsLoop);
        if (ours > 0 && mogrify > 0) fmt::print("engine / mogrify:   {:.2f}x (goal <= 0.2)\n", ours / mogrify);
    }

private:
    std::map<std::string, double> m_times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
