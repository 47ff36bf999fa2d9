// SPDX-License-Identifier: GPL-3.0-or-later
// Words hyphenated at the end of a printed line, read back from a typeset PDF: the hyphen is
// judged at the line it ends, however often the same word stands earlier on the page.
#include <gtest/gtest.h>

#include <QFont>
#include <QPainter>
#include <QPdfWriter>

#include "DocumentTestSupport.h"
#include "core/engines/document/PdfTextDocument.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/engines/pdf/PdfTextExtractor.h"
#include "core/services/FileManagerService.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

// One line of text per entry, set at fixed baselines the way a typesetter places them; the lines
// of `right` in a second column beside them.
void typeset(const std::filesystem::path& file, const std::vector<std::string>& lines,
             const std::vector<std::string>& right = {}) {
    QPdfWriter writer(QString::fromStdString(file.string()));
    writer.setResolution(72);
    QPainter painter(&writer);
    QFont font("DejaVu Serif");
    const int size = right.empty() ? 10 : 7;
    font.setPixelSize(size);
    painter.setFont(font);
    for (const auto& [column, x] : {std::pair{&lines, 40}, std::pair{&right, 310}}) {
        int baseline = 60;
        for (const std::string& line : *column) {
            painter.drawText(x, baseline, QString::fromStdString(line));
            baseline += size * 14 / 10;
        }
    }
}

ConversionJob pdfToText(const std::filesystem::path& source, const std::filesystem::path& destination) {
    ConversionJob job = testing::documentJob(source, destination, "txt", "txt");
    job.from = testing::documentFormat("pdf");
    job.capability.from = job.from.id;
    job.capability.engine = engine_ids::pdf;
    return job;
}

struct HyphenCase {
    const char* name;
    std::vector<std::string> lines;
    std::string printedBreak;  // what the page text must hold where the hyphen ends a line
    std::string reflowed;
};

class PdfHyphenReflow : public ::testing::TestWithParam<HyphenCase> {};

TEST_P(PdfHyphenReflow, MendsTheLineTheHyphenEnds) {
    const HyphenCase& c = GetParam();
    testing::TempDir dir;
    const auto source = dir / "typeset.pdf";
    typeset(source, c.lines);
    const ConversionJob job = pdfToText(source, dir / "typeset.txt");

    const std::string pages = PdfTextExtractor::extractTextContent(job, {});
    EXPECT_NE(pages.find(c.printedBreak), std::string::npos) << pages;

    const PDFEngine engine(FileManagerService::shared(), &PdfTextDocument::write);
    engine.convert(job, {}, {});
    EXPECT_EQ(testing::readFile(job.destination), c.reflowed);
}

INSTANTIATE_TEST_SUITE_P(
    TypesetPages, PdfHyphenReflow,
    ::testing::Values(
        HyphenCase{"BrokenWordStandingEarlier",
                   {"The report describes the information that the board asked for in",
                    "the spring, and the chair read it out to the members who had in-",
                    "formation enough to judge it, though nobody had read the whole",
                    "report before it was put to them at the meeting in the town hall."},
                   "had in-\nformation enough",
                   "The report describes the information that the board asked for in the spring, and the chair read it "
                   "out to the members who had information enough to judge it, though nobody had read the whole report "
                   "before it was put to them at the meeting in the town hall."},
        HyphenCase{"NameStandingEarlier",
                   {"It was Anne-Sophie who wrote the part on the budget for the coming",
                    "year, and the board heard it read in the spring by Anne-",
                    "Sophie herself, who had come a long way to the meeting that day",
                    "and who stayed on long after the others had gone back to the inn."},
                   "by Anne-\nSophie herself",
                   "It was Anne-Sophie who wrote the part on the budget for the coming year, and the board heard it read "
                   "in the spring by Anne- Sophie herself, who had come a long way to the meeting that day and who stayed "
                   "on long after the others had gone back to the inn."},
        HyphenCase{"SeveralBreaksOnePage",
                   {"The in- formation and the exam- ple were both read out, and the",
                    "second exam- ple was read once more when the chair asked for in-",
                    "formation on the exam- ple that Jean-Paul had brought with him to",
                    "the meeting, since it was Jean-Paul who had drawn it up for exam-",
                    "ple in the same year and who knew the in- formation best of all."},
                   "asked for in-\nformation on",
                   "The in- formation and the exam- ple were both read out, and the second exam- ple was read once more "
                   "when the chair asked for information on the exam- ple that Jean-Paul had brought with him to the "
                   "meeting, since it was Jean-Paul who had drawn it up for example in the same year and who knew the "
                   "in- formation best of all."}),
    [](const ::testing::TestParamInfo<HyphenCase>& info) { return std::string(info.param.name); });

// Two columns, each with a broken word that the other column also holds: each is mended where
// it was broken, and the columns come out one after the other.
TEST(PdfHyphenColumns, MendsEachColumnAtItsOwnBreak) {
    testing::TempDir dir;
    const auto source = dir / "columns.pdf";
    std::vector<std::string> left;
    std::vector<std::string> right;
    for (int i = 0; i < 12; ++i) {
        left.push_back("line " + std::to_string(i) + " of the left column runs on and on as the text");
        right.push_back("line " + std::to_string(i) + " of the right column runs on and on as text");
    }
    left.insert(left.end(), {"tells of the in- formation that came in late, and", "of the board that asked for in-",
                             "formation on the budget of the coming year at once."});
    right.insert(right.end(), {"tells of the in- formation that the board had when", "it met, and of the Anne-",
                               "Sophie who wrote the part on the budget that year."});
    typeset(source, left, right);
    const ConversionJob job = pdfToText(source, dir / "columns.txt");
    const PDFEngine engine(FileManagerService::shared(), &PdfTextDocument::write);
    engine.convert(job, {}, {});
    const std::string text = testing::readFile(job.destination);
    EXPECT_NE(text.find("the board that asked for information on the budget"), std::string::npos) << text;
    EXPECT_NE(text.find("and of the Anne- Sophie who wrote"), std::string::npos) << text;
    EXPECT_EQ(text.find("in-\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("AnneSophie"), std::string::npos) << text;
}

}  // namespace
}  // namespace kolvex
