// SPDX-License-Identifier: GPL-3.0-or-later
// 100-page documents to PDF: the document engine against LibreOffice headless on the same files.
// The single-paragraph benchmarks lay out one paragraph of 1, 4 and 16 MB (plain text, Markdown
// and HTML): their time must grow in proportion to the size. The ideograph benchmarks lay out
// every CJK Unified Ideograph 1, 4 and 16 times over (about 16, 64 and 260 pages), each page with
// its text layer rebuilt from what was drawn: a long all-CJK document.
// Each LibreOffice benchmark reports "ratio" = its time / the engine's time on that file (the goal
// is at least 10). Without LibreOffice those benchmarks are skipped with a message.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include "core/engines/document/DocumentEngine.h"
#include "core/engines/document/MarkdownReader.h"
#include "core/engines/document/OOXMLWriter.h"
#include "core/engines/document/RichDocument.h"
#include "core/format/ConversionJob.h"
#include "core/services/ProcessRunner.h"

namespace fs = std::filesystem;
using namespace kolvex;

namespace {

const fs::path kSoffice = "/usr/bin/soffice";

struct Workspace {
    fs::path root;
    fs::path markdown;
    fs::path docx;

    Workspace() {
        root = fs::temp_directory_path() / ("kolvex-bench-document-" + std::to_string(::getpid()));
        fs::create_directories(root);
        // About 2700 characters a page at 12 points on Letter: 100 pages of paragraphs.
        std::string text;
        for (int i = 0; text.size() < 272000; ++i) {
            text += "Paragraph " + std::to_string(i) + " has **bold words**, *italic words* and plain text that runs on ";
            text += "long enough to wrap over several lines of the page, the way a report or a letter would, ";
            text += "with a `code span` and a [link](https://example.org/" + std::to_string(i) + ") now and then.\n\n";
        }
        markdown = root / "report.md";
        FILE* f = std::fopen(markdown.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        docx = root / "report.docx";
        OOXMLWriter::write(*richDocument(MarkdownReader::parseInline(text)), docx);
    }
    ~Workspace() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

Workspace& workspace() {
    static Workspace w;
    return w;
}

Format format(const std::string& id) {
    return Format{FormatID(id), id == "pdf" ? FormatCategory::pdf : FormatCategory::document, {id}, {}, {}, id};
}

std::map<std::string, double>& engineSeconds() {
    static std::map<std::string, double> seconds;
    return seconds;
}

void runEngine(benchmark::State& state, const fs::path& source, const std::string& from, const std::string& key = {}) {
    const DocumentEngine engine;
    const fs::path out = workspace().root / ("engine-" + from + key + ".pdf");
    auto job = [&] {
        return ConversionJob(source, {}, out, format(from), format("pdf"),
                             ConversionCapability{FormatID(from), FormatID("pdf"), engine_ids::document}, ConversionOptions::defaults());
    };
    // The first layout of a process loads the font database: not part of a conversion.
    static bool warmed = false;
    if (!warmed) {
        engine.convert(job(), {}, {});
        warmed = true;
    }
    double total = 0;
    for (auto _ : state) {
        fs::remove(out);
        const auto start = std::chrono::steady_clock::now();
        engine.convert(job(), {}, {});
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    engineSeconds()[from + key] = total / static_cast<double>(state.iterations());
    state.counters["bytes_out"] = static_cast<double>(fs::file_size(out));
}

void runLibreOffice(benchmark::State& state, const fs::path& source, const std::string& from) {
    if (!fs::exists(kSoffice)) {
        state.SkipWithError("LibreOffice is not installed (bench/document/run.sh installs it)");
        return;
    }
    const fs::path outDir = workspace().root / ("lo-" + from);
    const std::string profile = "-env:UserInstallation=file://" + (workspace().root / "lo-profile").string();
    std::vector<std::string> arguments = {profile, "--headless", "--norestore", "--convert-to", "pdf", "--outdir", outDir.string()};
    if (from == "md") arguments.push_back("--infilter=Text (encoded):UTF8,LF,,,");
    arguments.push_back(source.string());
    // The first start sets up the profile: not part of a conversion.
    static bool warmed = false;
    if (!warmed) {
        ProcessRunner().run(kSoffice, arguments, ProcessRunner::Timeout(600), {}, {});
        warmed = true;
    }
    double total = 0;
    for (auto _ : state) {
        fs::remove_all(outDir);
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult result = ProcessRunner().run(kSoffice, arguments, ProcessRunner::Timeout(600), {}, {});
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (result.exitCode != 0) {
            state.SkipWithError(("soffice failed: " + result.standardErrorData).c_str());
            return;
        }
    }
    const double mean = total / static_cast<double>(state.iterations());
    if (engineSeconds().contains(from)) state.counters["ratio"] = mean / engineSeconds()[from];
}

// One paragraph of `megabytes` MB of words, written once per size and format.
fs::path singleParagraph(int megabytes, const std::string& format) {
    const fs::path path = workspace().root / ("paragraph-" + std::to_string(megabytes) + "." + format);
    if (fs::exists(path)) return path;
    const std::string words = "lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor ";
    std::string text = format == "html" ? "<html><body><p>" : "";
    const size_t size = static_cast<size_t>(megabytes) << 20;
    while (text.size() < size) text += words;
    if (format == "html") text += "</p></body></html>";
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return path;
}

void BM_SingleParagraphToPdf(benchmark::State& state, const std::string& format) {
    runEngine(state, singleParagraph(static_cast<int>(state.range(0)), format), format, std::to_string(state.range(0)));
    state.counters["MB"] = static_cast<double>(state.range(0));
}
void BM_TextParagraphToPdf(benchmark::State& state) { BM_SingleParagraphToPdf(state, "txt"); }
void BM_MarkdownParagraphToPdf(benchmark::State& state) { BM_SingleParagraphToPdf(state, "md"); }
void BM_HtmlParagraphToPdf(benchmark::State& state) { BM_SingleParagraphToPdf(state, "html"); }

// Every CJK Unified Ideograph (U+4E00–U+9FFF) `copies` times over, in paragraphs of 40: an
// all-CJK document of about 20 × `copies` pages, each page with its text layer.
fs::path allIdeographs(int copies) {
    const fs::path path = workspace().root / ("ideographs-" + std::to_string(copies) + ".txt");
    if (fs::exists(path)) return path;
    std::string text;
    for (int copy = 0; copy < copies; ++copy) {
        for (char32_t c = 0x4E00; c <= 0x9FFF; ++c) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
            if ((c - 0x4E00) % 40 == 39) text += "\n";
        }
        text += "\n";
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return path;
}

void BM_IdeographsToPdf(benchmark::State& state) {
    runEngine(state, allIdeographs(static_cast<int>(state.range(0))), "txt", "cjk" + std::to_string(state.range(0)));
}

void BM_EngineMarkdownToPdf(benchmark::State& state) { runEngine(state, workspace().markdown, "md"); }
void BM_LibreOfficeMarkdownToPdf(benchmark::State& state) { runLibreOffice(state, workspace().markdown, "md"); }
void BM_EngineDocxToPdf(benchmark::State& state) { runEngine(state, workspace().docx, "docx"); }
void BM_LibreOfficeDocxToPdf(benchmark::State& state) { runLibreOffice(state, workspace().docx, "docx"); }

}  // namespace

BENCHMARK(BM_TextParagraphToPdf)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_MarkdownParagraphToPdf)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_HtmlParagraphToPdf)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_IdeographsToPdf)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_EngineMarkdownToPdf)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_LibreOfficeMarkdownToPdf)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_EngineDocxToPdf)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_LibreOfficeDocxToPdf)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
