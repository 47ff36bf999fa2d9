// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>
#include <vector>

#include <sys/stat.h>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "PdfFixtures.h"
#include "core/engines/pdf/PdfPageToolEngine.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

struct HandWritten {
    std::string name;
    std::string eol;        // what ends every line
    size_t padding = 0;     // a comment this long before every object moves objects across blocks
    bool wrongOffsets = false;  // the cross-reference table points off: the reader must scan the file
};

// A two-page PDF written byte by byte, as old and odd writers make them. Each page shows
// "Page <n> of <name>" in Helvetica; its content stream is padded with drawing that shows nothing
// to well over a hundred kilobytes, larger than anything a reader takes in one piece.
std::string handWrittenPdf(const HandWritten& pdf) {
    const std::string& eol = pdf.eol;
    constexpr int kPages = 2;
    const int size = 4 + 2 * kPages;
    std::vector<size_t> offsets(static_cast<size_t>(size));
    std::string out = "%PDF-1.4" + eol + "%\xe2\xe3\xcf\xd3" + eol;
    const auto object = [&](int number, const std::string& body) {
        out += "%" + std::string(pdf.padding, 'x') + eol;
        offsets[static_cast<size_t>(number)] = out.size();
        out += fmt::format("{} 0 obj{}{}{}endobj{}", number, eol, body, eol, eol);
    };
    object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int p = 0; p < kPages; ++p) kids += fmt::format("{} 0 R ", 4 + 2 * p);
    object(2, fmt::format("<< /Type /Pages /Kids [{}] /Count {} >>", kids, kPages));
    object(3, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (int p = 0; p < kPages; ++p) {
        const int page = 4 + 2 * p;
        object(page, fmt::format("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Resources << /Font << /F1 3 0 R "
                                 ">> >> /Contents {} 0 R >>",
                                 page + 1));
        std::string content = fmt::format("BT /F1 12 Tf 20 100 Td (Page {} of {}) Tj ET{}", p + 1, pdf.name, eol);
        while (content.size() < 150000) content += "q 1 0 0 1 0 0 cm Q" + eol;
        object(page + 1, fmt::format("<< /Length {} >>{}stream{}{}endstream", content.size(), eol, eol, content));
    }
    const size_t xref = out.size();
    // Every entry is 20 bytes long, its end included.
    const std::string entryEnd = eol.size() == 2 ? eol : " " + eol;
    out += fmt::format("xref{}0 {}{}0000000000 65535 f{}", eol, size, eol, entryEnd);
    for (size_t number = 1; number < offsets.size(); ++number)
        out += fmt::format("{:010d} 00000 n{}", offsets[number] + (pdf.wrongOffsets ? 7 : 0), entryEnd);
    out += fmt::format("trailer{}<< /Size {} /Root 1 0 R >>{}startxref{}{}{}%%EOF{}", eol, size, eol, eol, xref, eol, eol);
    return out;
}

TEST(PdfReading, MergesFilesWhateverTheirLineEndsLayoutAndDamage) {
    TempDir dir;
    const std::vector<HandWritten> files{
        {"unix", "\n", 0, false},
        {"dos", "\r\n", 70000, false},
        {"mac", "\r", 30000, true},
        {"scanned", "\n", 65530, true},
    };
    std::vector<std::filesystem::path> sources;
    std::string expected;
    for (const auto& file : files) {
        sources.push_back(dir.write(file.name + ".pdf", handWrittenPdf(file)));
        for (int page = 1; page <= 2; ++page) expected += fmt::format("{}Page {} of {}", expected.empty() ? "" : " ", page, file.name);
    }
    const PdfPageToolEngine engine;
    const auto outputs = engine.convert(
        toolJob("merge", sources[0], dir / "merged.pdf", ConversionOptions::defaults(), {sources.begin() + 1, sources.end()}),
        {}, {});
    ASSERT_EQ(outputs, std::vector<std::filesystem::path>{dir / "merged.pdf"});
    EXPECT_EQ(popplerWords(dir / "merged.pdf"), expected);
    EXPECT_EQ(pdfInfoField(dir / "merged.pdf", "Pages"), "8");
}

TEST(PdfReading, RefusesWhatIsNoRegularFileWithoutWaitingForIt) {
    TempDir dir;
    writeTestPdf(dir / "a.pdf", numberedPages(1));
    const auto pipe = dir / "pipe.pdf";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "folder.pdf");
    const PdfPageToolEngine engine;
    for (const auto& odd : {pipe, dir / "folder.pdf"}) {
        const ConversionError error = conversionErrorOf([&] {
            engine.convert(toolJob("merge", dir / "a.pdf", dir / "m.pdf", ConversionOptions::defaults(), {odd}), {}, {});
        });
        EXPECT_EQ(error.kind(), ConversionError::Kind::corruptedInput) << odd;
        EXPECT_EQ(error.url(), odd);
        EXPECT_FALSE(std::filesystem::exists(dir / "m.pdf"));
    }
}

}  // namespace
}  // namespace kolvex::testing
