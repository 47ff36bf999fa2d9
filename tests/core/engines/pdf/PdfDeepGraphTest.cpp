// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <map>

#include "PdfFixtures.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/format/FormatRegistry.h"
#include "support/ExternalTool.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

// Two pages; the first refers through /Chain to a list of `depth` objects, each naming the next.
// Written by hand with a true cross-reference table, as a writer that means harm would.
std::string chainedPdf(int depth) {
    std::map<int, std::string> objects{
        {1, "<< /Type /Catalog /Pages 2 0 R >>"},
        {2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>"},
        {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 5 0 R /Chain 10 0 R >>"},
        {4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 5 0 R >>"},
        {5, "<< /Length 24 >>\nstream\n1 0 0 rg 0 0 40 40 re f\nendstream"},
    };
    for (int number = 10; number < 10 + depth; ++number)
        objects[number] = number + 1 < 10 + depth ? "<< /N " + std::to_string(number + 1) + " 0 R >>" : "<< /N null >>";
    return pdfOfObjects(objects);
}

// Every PDF tool of the shipped manifest on a file whose object graph is deeper than any stack,
// plain and encrypted with an owner password (which takes qpdf's copier for every page): the
// process lives, and each job ends with outputs a reader opens or with the file refused as
// nested too deeply (the limit named) and nothing left behind. A chain of ordinary depth goes through every tool.
TEST(PdfDeepGraph, EveryPageToolHandlesOrRefusesAChainDeeperThanAnyStack) {
    const FormatRegistry registry = FormatRegistry::loadBundled();
    const auto tools = registry.tools(FormatCategory::pdf);
    ASSERT_GE(tools.size(), 5u);
    TempDir work;
    writeTestPdf(work / "other.pdf", numberedPages(2));
    const auto plain = work.write("plain.pdf", chainedPdf(100000));
    work.write("shallow.pdf", chainedPdf(2000));
    ASSERT_TRUE(programOutput("/usr/bin/qpdf", {"--encrypt", "", "owner", "256", "--", plain.string(),
                                                (work / "encrypted.pdf").string()}))
        << "qpdf could not encrypt the chained file";

    for (const auto& [name, deep] : {std::pair{"shallow.pdf", false}, std::pair{"plain.pdf", true},
                                     std::pair{"encrypted.pdf", true}}) {
        for (const auto& tool : tools) {
            SCOPED_TRACE(std::string(name) + " " + tool.id);
            TempDir dir;
            const auto source = dir / name;
            std::filesystem::copy_file(work / name, source);
            std::vector<std::filesystem::path> additional;
            if (tool.foldsInputs) {
                std::filesystem::copy_file(work / "other.pdf", dir / "other.pdf");
                additional.push_back(dir / "other.pdf");
            }
            ConversionOptions options = ConversionOptions::defaults();
            if (tool.id == "extract-pages") options.pageRange = std::vector<int64_t>{0};
            if (tool.id == "rotate") options.rotation = 90;
            const ConversionJob job = toolJob(tool.id, source, dir / "out.pdf", options, additional);
            const PDFEngine engine;
            ASSERT_TRUE(engine.canHandle(job));
            const auto before = filesIn(dir.path());
            try {
                const auto outputs = engine.convert(job, {}, {});
                ASSERT_FALSE(outputs.empty());
                for (const auto& output : outputs) EXPECT_NE(pdfInfoField(output, "Pages"), "") << output;
            } catch (const ConversionError& error) {
                EXPECT_TRUE(deep) << "an ordinary chain was refused: " << error.what();
                EXPECT_EQ(error.kind(), ConversionError::Kind::corruptedInput) << error.what();
                EXPECT_EQ(error.circumstance(), ConversionError::Circumstance::beyondLimit) << error.what();
                EXPECT_EQ(filesIn(dir.path()), before);
            }
        }
    }
}

}  // namespace
}  // namespace kolvex::testing
