// SPDX-License-Identifier: GPL-3.0-or-later
// Every page a split writes, judged against the page qpdf's own split writes from the same file:
// qpdf's check, and what poppler reads, lists and draws, over sources built in the ways PDFs
// come (object streams, an inherited page tree, links between pages, odd strings and names,
// compressed content, encryption, a broken cross-reference table).
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PdfFixtures.h"
#include "core/engines/pdf/PDFEngine.h"
#include "support/ExternalTool.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string deflated(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(text.data()),
             static_cast<uLong>(text.size()));
    out.resize(size);
    return out;
}

// A PDF written object by object, its cross-reference table counted as it goes.
class HandWrittenPdf {
public:
    void object(int number, const std::string& body) {
        m_offsets.resize(std::max(m_offsets.size(), static_cast<size_t>(number)));
        m_offsets[static_cast<size_t>(number - 1)] = m_text.size();
        m_text += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
    }
    // The data's length is added unless the dictionary gives one (an indirect one, say).
    void stream(int number, std::string dictionary, const std::string& data) {
        if (dictionary.find("/Length") == std::string::npos) dictionary += " /Length " + std::to_string(data.size());
        object(number, "<< " + dictionary + " >>\nstream\n" + data + "\nendstream");
    }
    std::string finish(int root) {
        const size_t table = m_text.size();
        std::string text = m_text + "xref\n0 " + std::to_string(m_offsets.size() + 1) + "\n0000000000 65535 f \n";
        for (size_t offset : m_offsets) {
            char line[24];
            std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
            text += line;
        }
        return text + "trailer\n<< /Size " + std::to_string(m_offsets.size() + 1) + " /Root " + std::to_string(root) +
               " 0 R >>\nstartxref\n" + std::to_string(table) + "\n%%EOF\n";
    }

private:
    std::string m_text = "%PDF-1.6\n%\xe2\xe3\xcf\xd3\n";
    std::vector<size_t> m_offsets;
};

// Three pages under a nested page tree: the middle node hands down resources, a media box and a
// rotation; page 2 links to page 1 and names itself as its annotation's page; page 3 draws a
// form that draws a picture, both shared. Strings, names and numbers in the odd forms a writer
// must keep.
void writeHandMadePdf(const fs::path& file) {
    HandWrittenPdf pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    pdf.object(2, "<< /Type /Pages /Kids [ 3 0 R 6 0 R ] /Count 3 >>");
    pdf.object(3, "<< /Type /Pages /Parent 2 0 R /Kids [ 4 0 R 5 0 R ] /Count 2 /Rotate 90"
                  " /MediaBox [ 0 0 300 200.5 ] /Resources << /Font << /F1 7 0 R >> /XObject << /Fm 10 0 R >> >> >>");
    pdf.object(4, "<< /Type /Page /Parent 3 0 R /Contents 8 0 R /A#20B (a\\(b\\)c\\\\d) /Num -.5"
                  " /Bin <00ff10fe> >>");
    pdf.object(5, "<< /Type /Page /Parent 3 0 R /Contents 9 0 R /Annots [ 12 0 R ] >>");
    pdf.object(6, "<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 200 200 ] /Contents 13 0 R"
                  " /Resources << /XObject << /Fm 10 0 R >> /Font << /F1 7 0 R >> >> >>");
    pdf.object(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    const std::string first = deflated("BT /F1 18 Tf 20 100 Td (First \\(page\\) text) Tj ET");
    pdf.stream(8, "/Length 14 0 R /Filter /FlateDecode", first);
    pdf.stream(9, "", "BT /F1 18 Tf 20 60 Td (Second) Tj ET q 50 0 0 50 100 100 cm /Fm Do Q");
    pdf.stream(10, "/Type /XObject /Subtype /Form /BBox [ 0 0 1 1 ] /Resources << /XObject << /Im 11 0 R >> >>",
               "q 1 0 0 1 0 0 cm /Im Do Q       ");
    std::string pixels;
    for (int i = 0; i < 16; ++i) pixels += std::string{static_cast<char>(i * 16), static_cast<char>(255 - i * 16), '\x80'};
    pdf.stream(11, "/Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8",
               pixels);
    pdf.object(12, "<< /Type /Annot /Subtype /Link /Rect [ 10 10 120 40 ] /Border [ 0 0 1 ] /P 5 0 R"
                   " /Dest [ 4 0 R /Fit ] /Up 2 0 R >>");
    pdf.stream(13, "", "BT /F1 18 Tf 20 150 Td (Third) Tj ET 0 0 1 rg 20 20 80 80 re f");
    pdf.object(14, std::to_string(first.size()));
    std::ofstream(file, std::ios::binary) << pdf.finish(1);
}

// The numbered test pages, then qpdf's object streams over them.
void writeWithObjectStreams(const fs::path& file) {
    const fs::path plain = file.string() + ".plain.pdf";
    testing::writeTestPdf(plain, testing::numberedPages(4));
    ASSERT_TRUE(testing::programOutput("/usr/bin/qpdf", {"--object-streams=generate", plain.string(), file.string()}));
    fs::remove(plain);
}

// The numbered test pages with the cross-reference offset pointing at nothing: readers rebuild it.
void writeWithBrokenXref(const fs::path& file) {
    testing::writeTestPdf(file, testing::numberedPages(3));
    std::string text = readAll(file);
    const size_t at = text.rfind("startxref\n");
    text.replace(at + 10, text.find('\n', at + 10) - (at + 10), "12");
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

struct SourceCase {
    const char* name;
    std::function<void(const fs::path&)> write;
    bool damaged = false;  // qpdf warns as it reads it
};

void PrintTo(const SourceCase& source, std::ostream* out) { *out << source.name; }

const SourceCase kSources[] = {
    {"numbered", [](const fs::path& f) { testing::writeTestPdf(f, testing::numberedPages(5), {.version = "1.7"}); }},
    {"objectStreams", writeWithObjectStreams},
    {"inheritedBoxesAndPhotos",
     [](const fs::path& f) {
         std::vector<testing::TestPage> pages = testing::numberedPages(3, 300, 200);
         pages[1].rotate = 270;
         pages[1].cropBox = std::array<double, 4>{10, 10, 250, 180};
         pages[2].photoWidth = 24;
         pages[2].photoHeight = 16;
         pages[2].photoBox = {20, 20, 140, 100};
         testing::writeTestPdf(f, pages, {.withMetadata = true, .inheritMediaBox = true});
     }},
    {"handMade", writeHandMadePdf},
    {"largePicture",
     [](const fs::path& f) {
         // A picture of several megabytes: its data reaches the file in many pieces.
         std::vector<testing::TestPage> pages = testing::numberedPages(2, 400, 400);
         pages[0].photoWidth = 1200;
         pages[0].photoHeight = 1200;
         pages[0].photoBox = {10, 10, 390, 390};
         testing::writeTestPdf(f, pages);
     }},
    {"encrypted", [](const fs::path& f) { testing::writeTestPdf(f, testing::numberedPages(3), {.ownerPassword = "owner"}); }},
    {"brokenXref", writeWithBrokenXref, true},
};

// How many page objects a file holds, in or out of its page tree, as qpdf writes it out.
int pageObjects(const fs::path& pdf) {
    const std::string text =
        testing::programOutput("/usr/bin/qpdf", {"--qdf", "--object-streams=disable", pdf.string(), "-"}).value_or("");
    int count = 0;
    for (size_t at = text.find("/Type /Page\n"); at != std::string::npos; at = text.find("/Type /Page\n", at + 1)) ++count;
    return count;
}

std::string trailerId(const fs::path& pdf) {
    const std::string trailer = testing::programOutput("/usr/bin/qpdf", {"--show-object=trailer", pdf.string()}).value_or("");
    const size_t at = trailer.find("/ID");
    return at == std::string::npos ? "" : trailer.substr(at, trailer.find(']', at) - at);
}

class SplitPages : public ::testing::TestWithParam<SourceCase> {};

TEST_P(SplitPages, EveryPageReadsAndDrawsAsQpdfsOwnSplitOfIt) {
    TempDir dir;
    const fs::path source = dir / "book.pdf";
    GetParam().write(source);
    ASSERT_TRUE(fs::exists(source));
    EXPECT_EQ(testing::programOutput("/usr/bin/qpdf", {"--check", source.string()}).has_value(), !GetParam().damaged)
        << "the source is as meant";
    fs::create_directories(dir / "ours");
    fs::create_directories(dir / "qpdf");
    fs::create_directories(dir / "drawn");
    ASSERT_TRUE(testing::programOutput("/usr/bin/qpdf", {"--warning-exit-0", "--split-pages", source.string(),
                                                             (dir / "qpdf" / "p.pdf").string()}))
        << "qpdf splits the source";
    std::vector<fs::path> theirs;
    for (const auto& entry : fs::directory_iterator(dir / "qpdf")) theirs.push_back(entry.path());
    std::sort(theirs.begin(), theirs.end());

    const PDFEngine engine;
    const auto ours = engine.convert(testing::toolJob("split", source, dir / "ours" / "book.pdf"), {}, {});
    ASSERT_EQ(ours.size(), theirs.size());
    for (size_t i = 0; i < ours.size(); ++i) {
        SCOPED_TRACE(ours[i].filename().string());
        const auto check = testing::programOutput("/usr/bin/qpdf", {"--check", ours[i].string()});
        ASSERT_TRUE(check.has_value()) << "qpdf --check warns or fails";
        EXPECT_NE(check->find("No syntax or stream encoding errors found"), std::string::npos) << *check;
        EXPECT_EQ(testing::pdfInfoField(ours[i], "Pages"), "1");
        for (const char* field : {"Page    1 size", "Page    1 rot"}) {
            EXPECT_EQ(testing::pdfInfoField(ours[i], field, true), testing::pdfInfoField(theirs[i], field, true)) << field;
        }
        // qpdf's split drops the encryption; ours keeps the owner password and permissions.
        EXPECT_EQ(testing::pdfInfoField(ours[i], "Encrypted"), testing::pdfInfoField(source, "Encrypted"));
        EXPECT_EQ(testing::popplerWords(ours[i]), testing::popplerWords(theirs[i]));
        EXPECT_EQ(testing::pdfFontNames(ours[i]), testing::pdfFontNames(theirs[i]));
        EXPECT_EQ(testing::pdfImages(ours[i]).size(), testing::pdfImages(theirs[i]).size());
        const std::string drawnOurs = readAll(testing::popplerRender(ours[i], 30, dir / "drawn"));
        const std::string drawnTheirs = readAll(testing::popplerRender(theirs[i], 30, dir / "drawn"));
        EXPECT_FALSE(drawnOurs.empty());
        EXPECT_EQ(drawnOurs, drawnTheirs) << "drawn differently";
        // Links to other pages are dropped, not followed: no other page rides along.
        EXPECT_EQ(pageObjects(ours[i]), 1);
    }
    // An encrypted file's identifier is part of its key, and is kept with the encryption.
    if (ours.size() > 1 && testing::pdfInfoField(source, "Encrypted") == "no") {
        EXPECT_NE(trailerId(ours[0]), trailerId(ours[1])) << "two files, two identifiers";
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, SplitPages, ::testing::ValuesIn(kSources),
                         [](const ::testing::TestParamInfo<SourceCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kolvex
