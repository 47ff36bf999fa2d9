// SPDX-License-Identifier: GPL-3.0-or-later
// The PDF engine against the command-line programs doing the same work on the same files:
//   a 50-page document to PNG pages at 150 dpi: the engine vs pdftoppm (poppler-utils), and
//   the same pages to WebP and to TIFF, which must cost no more per page than PNG;
//   splitting a 200-page document and merging four 50-page ones: the engine vs qpdf;
//   compressing the 200-page text document: the engine vs qpdf --recompress-flate
//   --compression-level=9 (time, and the output's size as the "bytes" counter).
// Prints each time ratio at the end (below 1.0: the first is faster).
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <unistd.h>

#include "BenchDocuments.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/services/ProcessRunner.h"

namespace {

namespace fs = std::filesystem;
using namespace kolvex;

const fs::path kPdftoppm = "/usr/bin/pdftoppm";
const fs::path kQpdf = "/usr/bin/qpdf";

struct Workspace {
    fs::path dir;
    fs::path fifty;
    fs::path twoHundred;
    std::vector<fs::path> quarters;

    Workspace() {
        std::string pattern = (fs::temp_directory_path() / "kolvex-bench-pdf-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        dir = pattern;
        fifty = dir / "fifty.pdf";
        twoHundred = dir / "two-hundred.pdf";
        writeBenchDocument(fifty, 50);
        writeBenchDocument(twoHundred, 200);
        for (int i = 0; i < 4; ++i) {
            quarters.push_back(dir / fmt::format("part{}.pdf", i));
            writeBenchDocument(quarters.back(), 50);
        }
    }
    ~Workspace() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    // A fresh, empty output folder.
    fs::path outputFolder(const std::string& name) const {
        fs::path folder = dir / name;
        std::error_code ec;
        fs::remove_all(folder, ec);
        fs::create_directories(folder);
        return folder;
    }
};

Workspace& workspace() {
    static Workspace w;
    return w;
}

Format format(const std::string& id, FormatCategory category, const std::string& type) {
    Format f;
    f.id = FormatID(id);
    f.category = category;
    f.extensions = {id};
    f.contentTypes = {type};
    f.label = id;
    return f;
}

ConversionJob job(const fs::path& source, const fs::path& destination, const std::string& to,
                  ConversionOptions options, std::vector<fs::path> additional = {}) {
    const Format pdf = format("pdf", FormatCategory::pdf, "application/pdf");
    const Format target = to == "pdf" ? pdf : format(to, FormatCategory::image, "image/" + to);
    return ConversionJob(source, std::move(additional), destination, pdf, target,
                         {FormatID("pdf"), target.id, engine_ids::pdf}, std::move(options));
}

bool runProgram(const fs::path& program, const std::vector<std::string>& arguments) {
    return ProcessRunner().run(program, arguments, std::nullopt, {}, {}).exitCode == 0;
}

// The 50 pages at 150 dpi to image files of the format named by the benchmark's argument.
void enginePages(benchmark::State& state, const std::string& to) {
    auto& w = workspace();
    ConversionOptions options = ConversionOptions::defaults();
    options.dpi = 150;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = w.outputFolder("engine-" + to);
        state.ResumeTiming();
        auto pages = PDFEngine().convert(job(w.fifty, out / ("page." + to), to, options), {}, {});
        if (pages.size() != 50) return state.SkipWithError("wrong page count");
    }
}

void BM_EnginePagesToPng150(benchmark::State& state) { enginePages(state, "png"); }
void BM_EnginePagesToWebp150(benchmark::State& state) { enginePages(state, "webp"); }
void BM_EnginePagesToTiff150(benchmark::State& state) { enginePages(state, "tiff"); }

void BM_PdftoppmPagesToPng150(benchmark::State& state) {
    auto& w = workspace();
    if (!fs::exists(kPdftoppm)) return state.SkipWithError("pdftoppm is missing (poppler-utils)");
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = w.outputFolder("pdftoppm-png");
        state.ResumeTiming();
        if (!runProgram(kPdftoppm, {"-r", "150", "-png", w.fifty.string(), (out / "page").string()})) {
            return state.SkipWithError("pdftoppm failed");
        }
    }
}

void BM_EngineSplit200(benchmark::State& state) {
    auto& w = workspace();
    ConversionOptions options = ConversionOptions::defaults();
    options.tool = "split";
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = w.outputFolder("engine-split");
        state.ResumeTiming();
        auto files = PDFEngine().convert(job(w.twoHundred, out / "page.pdf", "pdf", options), {}, {});
        if (files.size() != 200) return state.SkipWithError("wrong file count");
    }
}

void BM_QpdfSplit200(benchmark::State& state) {
    auto& w = workspace();
    if (!fs::exists(kQpdf)) return state.SkipWithError("qpdf is missing");
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = w.outputFolder("qpdf-split");
        state.ResumeTiming();
        if (!runProgram(kQpdf, {"--split-pages", w.twoHundred.string(), (out / "page-%d.pdf").string()})) {
            return state.SkipWithError("qpdf failed");
        }
    }
}

void BM_EngineMerge200(benchmark::State& state) {
    auto& w = workspace();
    ConversionOptions options = ConversionOptions::defaults();
    options.tool = "merge";
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = w.outputFolder("engine-merge");
        state.ResumeTiming();
        PDFEngine().convert(job(w.quarters[0], out / "merged.pdf", "pdf", options,
                                {w.quarters[1], w.quarters[2], w.quarters[3]}),
                            {}, {});
    }
}

void BM_QpdfMerge200(benchmark::State& state) {
    auto& w = workspace();
    if (!fs::exists(kQpdf)) return state.SkipWithError("qpdf is missing");
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = w.outputFolder("qpdf-merge");
        state.ResumeTiming();
        std::vector<std::string> arguments{"--empty", "--pages"};
        for (const auto& part : w.quarters) arguments.push_back(part.string());
        arguments.insert(arguments.end(), {"--", (out / "merged.pdf").string()});
        if (!runProgram(kQpdf, arguments)) return state.SkipWithError("qpdf failed");
    }
}

void BM_EngineCompressText200(benchmark::State& state) {
    auto& w = workspace();
    ConversionOptions options = ConversionOptions::defaults();
    options.tool = "compress";
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = w.outputFolder("engine-compress");
        state.ResumeTiming();
        PDFEngine().convert(job(w.twoHundred, out / "small.pdf", "pdf", options), {}, {});
        state.PauseTiming();
        state.counters["bytes"] = static_cast<double>(fs::file_size(out / "small.pdf"));
        state.ResumeTiming();
    }
    state.counters["source"] = static_cast<double>(fs::file_size(w.twoHundred));
}

void BM_QpdfCompressText200(benchmark::State& state) {
    auto& w = workspace();
    if (!fs::exists(kQpdf)) return state.SkipWithError("qpdf is missing");
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = w.outputFolder("qpdf-compress");
        state.ResumeTiming();
        if (!runProgram(kQpdf, {"--recompress-flate", "--compression-level=9", w.twoHundred.string(),
                                (out / "small.pdf").string()})) {
            return state.SkipWithError("qpdf failed");
        }
        state.PauseTiming();
        state.counters["bytes"] = static_cast<double>(fs::file_size(out / "small.pdf"));
        state.ResumeTiming();
    }
}

BENCHMARK(BM_EnginePagesToPng150)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_EnginePagesToWebp150)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_EnginePagesToTiff150)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PdftoppmPagesToPng150)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_EngineSplit200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QpdfSplit200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EngineMerge200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QpdfMerge200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EngineCompressText200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QpdfCompressText200)->Unit(benchmark::kMillisecond)->UseRealTime();

// Shows the usual table and keeps each benchmark's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (!run.error_occurred && run.iterations > 0) times[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::vector<std::pair<std::string, std::string>> pairs{
        {"BM_EnginePagesToPng150/min_time:2.000/real_time", "BM_PdftoppmPagesToPng150/min_time:2.000/real_time"},
        {"BM_EnginePagesToWebp150/min_time:2.000/real_time", "BM_EnginePagesToPng150/min_time:2.000/real_time"},
        {"BM_EnginePagesToTiff150/min_time:2.000/real_time", "BM_EnginePagesToPng150/min_time:2.000/real_time"},
        {"BM_EngineSplit200/real_time", "BM_QpdfSplit200/real_time"},
        {"BM_EngineMerge200/real_time", "BM_QpdfMerge200/real_time"},
        {"BM_EngineCompressText200/real_time", "BM_QpdfCompressText200/real_time"}};
    for (const auto& [engine, program] : pairs) {
        auto e = reporter.times.find(engine);
        auto p = reporter.times.find(program);
        if (e == reporter.times.end() || p == reporter.times.end() || p->second <= 0) continue;
        fmt::print("{} / {} = {:.2f}\n", engine.substr(0, engine.find('/')), program.substr(0, program.find('/')),
                   e->second / p->second);
    }
    benchmark::Shutdown();
    return 0;
}
