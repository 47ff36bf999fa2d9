// SPDX-License-Identifier: GPL-3.0-or-later
// Repacks a ZIP of a folder tree (1 GB by default; KOLVEX_BENCH_ARCHIVE_MB sets another size)
// into tar.gz three ways: through the archive engine; with the same two bsdtar runs the engine
// makes (unpack, then pack); and with one bsdtar run that reads the ZIP as its input. The goal
// is the engine within 1.1× of bsdtar doing the same work.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/engines/archive/ArchiveEngine.h"
#include "core/services/ProcessRunner.h"
#include "support/BenchFolder.h"
#include "support/BenchFormat.h"

namespace {

namespace fs = std::filesystem;
using namespace kolvex;

const fs::path kTar = "/usr/bin/bsdtar";

int64_t sizeInMegabytes() {
    const char* text = std::getenv("KOLVEX_BENCH_ARCHIVE_MB");
    const long value = text ? std::strtol(text, nullptr, 10) : 0;
    return value > 0 ? value : 1024;
}

bool runTar(const std::vector<std::string>& arguments) {
    return ProcessRunner().run(kTar, arguments, std::nullopt, {}, {}).exitCode == 0;
}

// Files of 1 MB in folders of 16: half text that compresses well, half noise that does not.
void writeTree(const fs::path& root, int64_t megabytes) {
    std::mt19937_64 random(42);
    std::string block(1 << 20, '\0');
    for (int64_t i = 0; i < megabytes; ++i) {
        const fs::path folder = root / ("folder-" + std::to_string(i / 16));
        fs::create_directories(folder);
        for (size_t at = 0; at < block.size() / 2; at += 8) {
            const uint64_t value = random();
            std::memcpy(block.data() + at, &value, 8);
        }
        for (size_t at = block.size() / 2; at < block.size(); ++at) block[at] = "Kolvex keeps your files. "[at % 25];
        std::ofstream(folder / ("file-" + std::to_string(i) + ".bin"), std::ios::binary).write(block.data(), block.size());
    }
}

struct Workspace {
    BenchFolder folder{"archive"};
    fs::path dir = folder.path();
    fs::path zip;
    bool ready = false;

    Workspace() {
        if (!folder.made()) return;
        writeTree(dir / "tree", sizeInMegabytes());
        zip = dir / "tree.zip";
        ready = runTar({"--format=zip", "-cf", zip.string(), "-C", (dir / "tree").string(), "."});
        std::error_code ec;
        fs::remove_all(dir / "tree", ec);
    }
};

Workspace& workspace() {
    static Workspace w;
    return w;
}

Format archiveFormat(const std::string& id) { return benchFormat(id, FormatCategory::archive); }

void BM_EngineZipToTarGz(benchmark::State& state) {
    auto& w = workspace();
    if (!w.ready) return state.SkipWithError("could not make the ZIP");
    const fs::path out = w.dir / "engine.tar.gz";
    const ArchiveEngine engine(FileManagerService::shared(), TemporaryFileManager(w.dir / "scratch"));
    for (auto _ : state) {
        fs::remove(out);
        ConversionJob job(w.zip, {}, out, archiveFormat("zip"), archiveFormat("targz"),
                          {FormatID("zip"), FormatID("targz"), engine_ids::archive}, ConversionOptions::defaults());
        engine.convert(job, [](double) {}, {});
    }
}

void BM_BsdtarUnpackThenPack(benchmark::State& state) {
    auto& w = workspace();
    if (!w.ready) return state.SkipWithError("could not make the ZIP");
    const fs::path out = w.dir / "twostep.tar.gz";
    const fs::path contents = w.dir / "contents";
    for (auto _ : state) {
        fs::remove(out);
        fs::create_directories(contents);
        bool ok = runTar({"-xf", w.zip.string(), "-C", contents.string(), "--no-same-owner"}) &&
                  runTar({"--format=pax", "-z", "-cf", out.string(), "-C", contents.string(), "."});
        fs::remove_all(contents);
        if (!ok) return state.SkipWithError("bsdtar failed");
    }
}

void BM_BsdtarOnePass(benchmark::State& state) {
    auto& w = workspace();
    if (!w.ready) return state.SkipWithError("could not make the ZIP");
    const fs::path out = w.dir / "onepass.tar.gz";
    for (auto _ : state) {
        fs::remove(out);
        if (!runTar({"--format=pax", "-z", "-cf", out.string(), "@" + w.zip.string()})) {
            return state.SkipWithError("bsdtar failed");
        }
    }
}

BENCHMARK(BM_EngineZipToTarGz)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_BsdtarUnpackThenPack)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_BsdtarOnePass)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
