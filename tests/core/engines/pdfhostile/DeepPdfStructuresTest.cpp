// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ChildCase.h"
#include "DeepPdf.h"
#include "PdfFixtures.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/engines/pdf/PdfThumbnail.h"
#include "core/format/ConversionError.h"
#include "core/format/FormatRegistry.h"
#include "support/ExternalTool.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

constexpr int kOrdinaryDepth = 40;
constexpr int kDeepDepth = 20000;  // deeper than qpdf's recursive walks survive

// One job the engine takes for a PDF: a page tool, or a conversion into an image format.
struct PdfJob {
    std::string name;
    std::optional<ToolDefinition> tool;
    Format to;
};

std::vector<PdfJob> everyPdfJob(const FormatRegistry& registry) {
    std::vector<PdfJob> jobs;
    const Format pdf = *registry.format(FormatID("pdf"));
    for (const auto& tool : registry.tools(FormatCategory::pdf)) jobs.push_back({tool.id, tool, pdf});
    // Every image target goes through the same reading and drawing with poppler: the first
    // stands for them all.
    for (const auto& capability : registry.manifest().conversions) {
        if (capability.engine != EngineID("pdf") || capability.from != FormatID("pdf")) continue;
        const Format to = *registry.format(capability.to);
        if (to.category != FormatCategory::image) continue;
        jobs.push_back({"to " + to.id.rawValue, std::nullopt, to});
        break;
    }
    return jobs;
}

// Every job the engine takes for a PDF, on a file with depth in each structure a reader walks
// level by level (ordinary and 20,000 levels; plain and encrypted with an empty user password),
// each in a child process: nothing crashes or hangs; an ordinary file gives outputs poppler
// reads; a deep one gives such outputs or is refused as nested too deeply, naming the limit,
// with the folder and the temporary folder as they were.
TEST(DeepPdfStructures, EveryJobHandlesOrRefusesDepthInEveryStructure) {
    if (!std::filesystem::exists("/usr/bin/pdfinfo")) GTEST_SKIP() << "pdfinfo (poppler-utils) is not installed";
    const FormatRegistry registry = FormatRegistry::loadBundled();
    const std::vector<PdfJob> jobs = everyPdfJob(registry);
    ASSERT_GE(jobs.size(), 7u) << "every PDF tool and a conversion into an image";
    const Format pdf = *registry.format(FormatID("pdf"));
    TempDir inputs;
    writeTestPdf(inputs / "other.pdf", numberedPages(2));

    for (const DeepStructure structure : everyDeepStructure()) {
        for (const int depth : {kOrdinaryDepth, kDeepDepth}) {
            const std::string stem = nameOf(structure) + " " + std::to_string(depth);
            const auto plain = inputs.write(stem + ".pdf", deepPdf(structure, depth));
            const auto encrypted = inputs / (stem + " encrypted.pdf");
            ASSERT_TRUE(programOutput("/usr/bin/qpdf", {"--warning-exit-0", "--encrypt", "", "owner", "256", "--", plain.string(),
                                                        encrypted.string()}))
                << "qpdf could not encrypt " << stem;
            // (poppler's own tools take minutes and gigabytes over a deep field tree)
            if (depth == kOrdinaryDepth) {
                ASSERT_EQ(pdfInfoField(plain, "Pages"), "2") << stem << ": poppler does not read it";
            }
            for (const auto& input : {plain, encrypted}) {
                for (const PdfJob& row : jobs) {
                    const std::string name = input.filename().string() + " " + row.name;
                    TempDir dir;
                    TempDir tmp;
                    TempDir report;
                    const auto source = dir / "deep.pdf";
                    std::filesystem::copy_file(input, source);
                    std::vector<std::filesystem::path> additional;
                    if (row.tool && row.tool->foldsInputs) {
                        std::filesystem::copy_file(inputs / "other.pdf", dir / "other.pdf");
                        additional.push_back(dir / "other.pdf");
                    }
                    ConversionOptions options = ConversionOptions::defaults();
                    if (row.name == "extract-pages") options.pageRange = std::vector<int64_t>{0};
                    if (row.name == "rotate") options.rotation = 90;
                    if (!row.tool) options.dpi = 36;
                    const ConversionJob job =
                        row.tool ? toolJob(row.tool->id, source, dir / "out.pdf", options, additional)
                                 : makeJob(source, dir / ("out." + row.to.canonicalExtension()), pdf, row.to, options);
                    const auto before = filesIn(dir.path());

                    const ChildEnd end = runInChild([&] {
                        ::setenv("TMPDIR", tmp.path().c_str(), 1);
                        std::ofstream out(report / "outcome");
                        const PDFEngine engine;
                        if (!engine.canHandle(job)) return 4;
                        // The preview the tray shows of a dropped PDF reads it the same way.
                        if (!row.tool) (void)pdfThumbnail(source, 64);
                        try {
                            for (const auto& output : engine.convert(job, {}, {})) out << output.string() << "\n";
                        } catch (const ConversionError& error) {
                            out << "refused\n" << error.what() << "\n";
                            return error.circumstance() == ConversionError::Circumstance::beyondLimit ? 2 : 3;
                        }
                        return 0;
                    });
                    ASSERT_TRUE(end.exited) << name << ": " << end.describe();
                    const std::string outcome = readFile(report / "outcome");
                    EXPECT_EQ(filesBelow(tmp.path()), std::vector<std::string>{}) << name;
                    if (end.code == 2 && depth == kDeepDepth) {
                        EXPECT_NE(outcome.find("levels deep"), std::string::npos) << name << ": " << outcome;
                        EXPECT_EQ(filesIn(dir.path()), before) << name;
                        continue;
                    }
                    ASSERT_EQ(end.code, 0) << name << ": " << outcome;
                    std::istringstream lines(outcome);
                    int outputs = 0;
                    for (std::string line; std::getline(lines, line); ++outputs) {
                        if (row.tool) {
                            EXPECT_NE(pdfInfoField(line, "Pages"), "") << name << ": " << line;
                        } else {
                            // vipsheader, not libvips here: the parent starts no library threads.
                            EXPECT_NE(programOutput("/usr/bin/vipsheader", {"-f", "width", line}).value_or(""), "")
                                << name << ": " << line;
                        }
                    }
                    EXPECT_GT(outputs, 0) << name;
                }
            }
        }
    }
}

}  // namespace
}  // namespace kolvex::testing
