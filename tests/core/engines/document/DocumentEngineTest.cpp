// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <future>
#include <sys/stat.h>

#include <QTextBlock>
#include <QTextFragment>

#include "DocumentTestSupport.h"
#include "core/engines/document/DocumentEngine.h"
#include "core/engines/document/MarkdownReader.h"
#include "core/engines/document/OOXMLWriter.h"
#include "core/engines/document/RichDocument.h"
#include "core/engines/document/TextWriters.h"
#include "core/engines/pdf/PopplerDocument.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using testing::documentJob;
using testing::TempDir;

// One small document in every source format, all saying the same thing.
struct Sample {
    std::string id;
    std::string name;
    std::string content;
    bool keepsBold;
};

std::vector<Sample> samples() {
    return {
        {"txt", "note.txt", "Title line\nSecond \xC3\xA9 line", false},
        {"md", "note.md", "Title line\nSecond \xC3\xA9 **line**", true},
        {"rtf", "note.rtf", R"({\rtf1\ansi Title line\par Second \'e9 {\b line}})", true},
        {"html", "note.html", "<html><body><p>Title line</p><p>Second &eacute; <b>line</b></p></body></html>", true},
        {"csv", "note.csv", "Title line\nSecond \xC3\xA9 line", false},
        {"docx", "note.docx", "", true},
    };
}

std::filesystem::path makeSource(const TempDir& dir, const Sample& sample) {
    if (sample.id != "docx") return dir.write(sample.name, sample.content);
    StyledText text("Title line\nSecond \xC3\xA9 ", testing::plainAttributes());
    text.append("line", testing::boldAttributes());
    const auto path = dir / sample.name;
    OOXMLWriter::write(*richDocument(text), path);
    return path;
}

// The text an output holds, read back the way the engine reads its sources.
std::string readBack(const std::filesystem::path& output, const std::string& target) {
    if (target == "pdf") return testing::pdfText(output).value_or("");
    return DocumentEngine::read(output, testing::documentFormat(target))->toPlainText().toStdString();
}

TEST(DocumentEngine, ConvertsEverySourceToEveryTarget) {
    if (!std::filesystem::exists(OOXMLWriter::tarPath())) GTEST_SKIP() << "bsdtar is not installed";
    TempDir dir;
    const DocumentEngine engine;
    for (const Sample& sample : samples()) {
        const auto source = makeSource(dir, sample);
        for (const std::string target : {"pdf", "txt", "rtf", "html", "md", "docx"}) {
            SCOPED_TRACE(sample.id + " -> " + target);
            const auto destination = dir / ("out-" + sample.id + "." + target);
            const ConversionJob job = documentJob(source, destination, sample.id, target);
            ASSERT_TRUE(engine.canHandle(job));
            std::vector<double> progress;
            const auto outputs = engine.convert(job, [&](double f) { progress.push_back(f); }, {});
            ASSERT_EQ(outputs, std::vector<std::filesystem::path>{destination});
            EXPECT_EQ(progress, (std::vector<double>{0.1, 0.45, 1.0}));

            const std::string text = readBack(destination, target);
            if (target == "pdf") {
                if (!text.empty()) {
                    EXPECT_NE(text.find("Title line"), std::string::npos);
                }
            } else {
                EXPECT_NE(text.find("Title line"), std::string::npos) << text;
                EXPECT_NE(text.find("Second \xC3\xA9"), std::string::npos) << text;
            }
            // Bold survives where both sides can hold it.
            if (sample.keepsBold && (target == "rtf" || target == "html" || target == "docx")) {
                const std::string structure = testing::describe(*DocumentEngine::read(destination, testing::documentFormat(target)));
                EXPECT_NE(structure.find("line[b"), std::string::npos) << structure;
            }
            if (sample.keepsBold && target == "md") {
                EXPECT_NE(testing::readFile(destination).find("**line**"), std::string::npos);
            }
        }
    }
}

// Names are bytes: a Latin-1 "é" and a byte no UTF-8 has, in the source's and the output's name.
TEST(DocumentEngine, ConvertsFilesWhoseNamesAreNotUtf8) {
    if (!std::filesystem::exists(OOXMLWriter::tarPath())) GTEST_SKIP() << "bsdtar is not installed";
    TempDir dir;
    const std::string stem = "caf\xe9 \xff";
    const auto source = dir.write(stem + ".txt", "Title line\nSecond line");
    for (const std::string target : {"pdf", "txt", "rtf", "html", "md", "docx"}) {
        SCOPED_TRACE(target);
        const auto destination = dir / (stem + " out." + target);
        EXPECT_EQ(DocumentEngine().convert(documentJob(source, destination, "txt", target), {}, {}),
                  std::vector<std::filesystem::path>{destination});
        EXPECT_NE(readBack(destination, target).find("Second line"), std::string::npos);
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename().native());
    EXPECT_EQ(names.size(), 7u) << "no staged leftovers";
}

TEST(DocumentEngine, EmptySourcesAndTheEmptyOutputCheck) {
    TempDir dir;
    const DocumentEngine engine;
    const auto source = dir.write("empty.txt", "");
    for (const std::string target : {"rtf", "html", "docx", "pdf"}) {
        if (target == "docx" && !std::filesystem::exists(OOXMLWriter::tarPath())) continue;
        const auto destination = dir / ("empty." + target);
        EXPECT_NO_THROW(engine.convert(documentJob(source, destination, "txt", target), {}, {})) << target;
        EXPECT_GT(std::filesystem::file_size(destination), 0u) << target;
    }
    if (const auto pages = testing::pdfPageCount(dir / "empty.pdf")) {
        EXPECT_EQ(*pages, 1);
    }
    for (const std::string target : {"txt", "md"}) {
        const auto destination = dir / ("empty-out." + target);
        try {
            engine.convert(documentJob(source, destination, "txt", target), {}, {});
            FAIL() << target;
        } catch (const ConversionError& error) {
            EXPECT_EQ(error, ConversionError::backendFailure("document", -1, "wrote an empty document"));
        }
        EXPECT_FALSE(std::filesystem::exists(destination));
    }
}

TEST(DocumentEngine, HtmlOutputsCarryTheViewportAndTitle) {
    TempDir dir;
    const auto source = dir.write("My page.md", "Hello *there*");
    const auto destination = dir / "My page.html";
    DocumentEngine().convert(documentJob(source, destination, "md", "html"), {}, {});
    const std::string page = testing::readFile(destination);
    EXPECT_NE(page.find("<head>\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"), std::string::npos);
    EXPECT_EQ(page.find("name=\"viewport\""), page.rfind("name=\"viewport\""));
    EXPECT_NE(page.find("<title>My page</title>"), std::string::npos);
}

// A picture the reader had to leave out is named in the result, not only in the log.
TEST(DocumentEngine, ThePicturesLeftOutAreInTheResultsNote) {
    TempDir dir;
    const auto source = dir.write("page.html", "<p>a<img src=\"data:image/png;base64,AAAA\">b</p>");
    const auto outcome = DocumentEngine().convertReporting(documentJob(source, dir / "page.txt", "html", "txt"), {}, {});
    EXPECT_EQ(outcome.outputs, std::vector<std::filesystem::path>{dir / "page.txt"});
    EXPECT_EQ(outcome.note, "A picture could not be read and was left out.");
    const auto clean = dir.write("clean.md", "text");
    EXPECT_EQ(DocumentEngine().convertReporting(documentJob(clean, dir / "clean.txt", "md", "txt"), {}, {}).note, std::nullopt);

    // Markdown keeps the text only: the pictures it leaves out are counted, with those the reader dropped.
    const std::string png = "<img src=\"data:image/png;base64," + testing::solidPng(4, 4, Qt::red).toBase64().toStdString() + "\">";
    const auto pictures = dir.write("pictures.html", "<p>a" + png + "b</p><table><tr><td>" + png + "</td></tr></table>");
    const auto markdown = DocumentEngine().convertReporting(documentJob(pictures, dir / "pictures.md", "html", "md"), {}, {});
    EXPECT_EQ(markdown.note, "2 pictures were left out (Markdown keeps only the text).");
    EXPECT_EQ(testing::readFile(dir / "pictures.md").find("data:"), std::string::npos);
    const auto one = dir.write("one.html", "<p>a" + png + "<img src=\"data:image/png;base64,AAAA\">b</p>");
    EXPECT_EQ(DocumentEngine().convertReporting(documentJob(one, dir / "one.md", "html", "md"), {}, {}).note,
              "A picture could not be read and was left out. A picture was left out (Markdown keeps only the text).");
    EXPECT_EQ(DocumentEngine().convertReporting(documentJob(pictures, dir / "pictures.pdf", "html", "pdf"), {}, {}).note, std::nullopt);
}

TEST(DocumentEngine, CsvBecomesAMonospacedTable) {
    TempDir dir;
    const auto source = dir.write("t.csv", "name,qty\n\xE6\x97\xA5\xE6\x9C\xAC,12\n\"a, b\",3\n");
    const auto document = DocumentEngine::read(source, testing::documentFormat("csv"));
    EXPECT_EQ(testing::describe(*document), "|name  qty[m]\n|\xE6\x97\xA5\xE6\x9C\xAC    12[m]\n|a, b  3[m]\n");
    EXPECT_DOUBLE_EQ(CharStyle::of(document->begin().begin().fragment().charFormat()).pointSize, 10);
    const auto destination = dir / "t.html";
    DocumentEngine().convert(documentJob(source, destination, "csv", "html"), {}, {});
    EXPECT_NE(testing::readFile(destination).find("font-size:10pt"), std::string::npos);
}

TEST(DocumentEngine, AcceptsOnlyItsToolsSourcesAndTargets) {
    const DocumentEngine engine;
    EXPECT_EQ(engine.id(), EngineID("document"));
    EXPECT_TRUE(engine.canHandle(documentJob("/a.docx", "/b.docx", "docx", "docx", "strip-metadata")));
    EXPECT_FALSE(engine.canHandle(documentJob("/a.docx", "/b.docx", "docx", "docx", "compress")));
    EXPECT_FALSE(engine.canHandle(documentJob("/a.txt", "/b.csv", "txt", "csv")));
    EXPECT_FALSE(engine.canHandle(documentJob("/a.pdf", "/b.txt", "pdf", "txt")));
    EXPECT_FALSE(engine.canHandle(documentJob("/a.png", "/b.pdf", "png", "pdf")));
    EXPECT_TRUE(engine.canHandle(documentJob("/a.csv", "/b.pdf", "csv", "pdf")));
}

TEST(DocumentEngine, BadSourcesAreDamagedInputInBoundedTime) {
    TempDir dir;
    const auto fifo = dir / "pipe.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::filesystem::path source;
        std::string format;
    } cases[] = {
        {dir.write("bad.md", "\xC0\xAF"), "md"},
        {dir.write("bad.csv", "a,\xED\xA0\x80"), "csv"},
        {dir.write("bad.rtf", "not rtf at all"), "rtf"},
        {dir.write("deep.rtf", "{\\rtf1 " + std::string(100000, '{')), "rtf"},
        {dir.write("deep.html", [] {
             std::string html;
             for (int i = 0; i < 1000; ++i) html += "<div>";
             return html + "x";
         }()),
         "html"},
        {dir.write("bin.rtf", "{\\rtf1 \\bin99999999 x}"), "rtf"},
        {dir.write("bad.docx", "PK but not really"), "docx"},
        {fifo, "txt"},
        {"/dev/zero", "txt"},
        {dir / "missing.txt", "txt"},
        {dir.path(), "html"},
    };
    const DocumentEngine engine;
    for (const auto& c : cases) {
        const auto destination = dir / "out.txt";
        EXPECT_TRUE(testing::finishesWithin(std::chrono::seconds(10), [&] {
            try {
                engine.convert(documentJob(c.source, destination, c.format, "txt"), {}, {});
                ADD_FAILURE() << c.source << " converted";
            } catch (const ConversionError& error) {
                // Nesting past the reader's depth is a limit, named; the rest is damage.
                if (c.source.filename() == "deep.rtf")
                    EXPECT_EQ(error.shortDescription(), "deep.rtf nests its groups deeper than Kolvex reads (1000 levels)");
                else if (c.source.filename() == "deep.html")
                    EXPECT_EQ(error.shortDescription(), "deep.html nests its elements deeper than Kolvex reads (512 levels)");
                else
                    EXPECT_EQ(error, ConversionError::corruptedInput(c.source));
            }
        })) << c.source;
        EXPECT_FALSE(std::filesystem::exists(destination));
    }
    // An unclosed CSV quote is the reader's result, not an error.
    const auto unclosed = dir.write("open.csv", "a,\"b\nc,d");
    engine.convert(documentJob(unclosed, dir / "open.txt", "csv", "txt"), {}, {});
    EXPECT_EQ(testing::readFile(dir / "open.txt"), "a  b\nc,d");
}

// Valid sources past a stated bound are refused with the bound, never cut and never left to run
// out of memory.
TEST(DocumentEngine, RefusesSourcesPastTheirBounds) {
    TempDir dir;
    std::string marks;
    for (size_t i = 0; i <= MarkdownReader::kMaxMarkup; ++i) marks += "*_";
    const struct {
        std::filesystem::path source;
        std::string format;
        std::string what;
    } cases[] = {
        {dir.write("marks.md", marks), "md", "Markdown with more than 1000000 emphasis, code and link marks"},
        {dir.write("lines.txt", std::string(RichDocument::kMaxParagraphs, '\n')), "txt", "a document of more than 2000000 paragraphs"},
    };
    const DocumentEngine engine;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        const auto destination = dir / "out.pdf";
        EXPECT_TRUE(testing::finishesWithin(std::chrono::seconds(30), [&] {
            try {
                engine.convert(documentJob(c.source, destination, c.format, "pdf"), {}, {});
                ADD_FAILURE() << "converted";
            } catch (const ConversionError& error) {
                EXPECT_EQ(error, ConversionError::unsupportedCombination(c.what, "PDF"));
            }
        }));
        EXPECT_FALSE(std::filesystem::exists(destination));
    }
}

TEST(DocumentEngine, NeverOverwritesAndStopsWhenCancelled) {
    TempDir dir;
    const auto source = dir.write("a.txt", "text");
    const auto taken = dir.write("taken.txt", "keep me");
    // The name was taken after the job was planned: the text goes under the next free one.
    EXPECT_EQ(DocumentEngine().convert(documentJob(source, taken, "txt", "txt"), {}, {}),
              std::vector<std::filesystem::path>{dir / "taken 2.txt"});
    EXPECT_EQ(testing::readFile(taken), "keep me");
    EXPECT_EQ(testing::readFile(dir / "taken 2.txt"), "text");

    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(DocumentEngine().convert(documentJob(source, dir / "b.pdf", "txt", "pdf"), {}, stop.get_token()), OperationCancelled);
    EXPECT_FALSE(std::filesystem::exists(dir / "b.pdf"));
}

TEST(DocumentEngine, RunsConcurrentlyOnWorkerThreads) {
    TempDir dir;
    const DocumentEngine engine;
    std::vector<std::future<void>> jobs;
    for (int i = 0; i < 6; ++i) {
        const auto source = dir.write("s" + std::to_string(i) + ".html", "<p>page <b>" + std::to_string(i) + "</b></p>");
        jobs.push_back(std::async(std::launch::async, [&, source, i] {
            engine.convert(documentJob(source, dir / ("o" + std::to_string(i) + ".pdf"), "html", "pdf"), {}, {});
        }));
    }
    for (auto& job : jobs) job.get();
    for (int i = 0; i < 6; ++i) EXPECT_GT(std::filesystem::file_size(dir / ("o" + std::to_string(i) + ".pdf")), 0u);
}

// Plain text opens in any common encoding; Markdown and CSV stay UTF-8 but accept a byte-order mark.
TEST(DocumentEngine, OpensTextInEveryCommonEncoding) {
    TempDir dir;
    const std::string accented = "caf\xC3\xA9 na\xC3\xAFve \xE2\x82\xAC" "5";  // café naïve €5
    const struct {
        const char* name;
        std::string bytes;
        std::string format;
        std::string text;  // as UTF-8 in the plain-text output
    } cases[] = {
        {"utf8.txt", accented, "txt", accented},
        {"bom.txt", "\xEF\xBB\xBF" + accented, "txt", accented},
        {"utf16le.txt", std::string("\xFF\xFE" "c\0a\0f\0\xE9\0 \0\xAC\x20", 14), "txt", "caf\xC3\xA9 \xE2\x82\xAC"},
        {"utf16be.txt", std::string("\xFE\xFF" "\0c\0a\0f\0\xE9\0 \x20\xAC", 14), "txt", "caf\xC3\xA9 \xE2\x82\xAC"},
        {"cp1252.txt", "caf\xE9 na\xEFve \x80" "5", "txt", accented},
        // Cyrillic in Windows-1251, which ICU's detector recognises.
        {"cp1251.txt", "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0! \xDD\xF2\xEE \xEF\xF0\xEE\xE2\xE5\xF0\xEA\xE0 \xEA\xEE\xE4\xE8\xF0\xEE\xE2\xEA\xE8.", "txt",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80! \xD0\xAD\xD1\x82\xD0\xBE "
         "\xD0\xBF\xD1\x80\xD0\xBE\xD0\xB2\xD0\xB5\xD1\x80\xD0\xBA\xD0\xB0 \xD0\xBA\xD0\xBE\xD0\xB4\xD0\xB8\xD1\x80\xD0\xBE\xD0\xB2\xD0\xBA\xD0\xB8."},
        {"bom.md", "\xEF\xBB\xBF" "**caf\xC3\xA9**", "md", "caf\xC3\xA9"},
        {"bom.csv", "\xEF\xBB\xBF" "a,b\n1,2", "csv", "a  b\n1  2"},
    };
    const DocumentEngine engine;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto source = dir.write(c.name, c.bytes);
        const auto destination = dir / (std::string(c.name) + ".out.txt");
        engine.convert(documentJob(source, destination, c.format, "txt"), {}, {});
        EXPECT_EQ(testing::readFile(destination), c.text);
    }
    for (const auto& [name, format] : {std::pair{"latin.md", "md"}, std::pair{"latin.csv", "csv"}}) {
        const auto source = dir.write(name, "caf\xE9");
        EXPECT_THROW(engine.convert(documentJob(source, dir / "refused.txt", format, "txt"), {}, {}), ConversionError) << name;
    }
}

// Japanese, Arabic, Hebrew, Devanagari and emoji are laid out with fonts that have them: the PDF
// embeds those fonts and its text reads back; a colour emoji is drawn as a picture.
TEST(DocumentEngine, EveryScriptRendersInPdf) {
    TempDir dir;
    const std::string text = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE6\x96\x87 "  // 日本語の文
                             "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7 "                       // مرحبا
                             "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D "                                 // שלום
                             "\xE0\xA4\xA8\xE0\xA4\xAE\xE0\xA4\xB8\xE0\xA5\x8D\xE0\xA4\xA4\xE0\xA5\x87 "  // नमस्ते
                             "\xF0\x9F\x98\x80 \xE2\x9C\x85";                                     // 😀 ✅
    const DocumentEngine engine;
    for (const auto& [name, content, format] :
         {std::tuple{"scripts.txt", text, "txt"}, std::tuple{"scripts.md", "**" + text + "**", "md"},
          std::tuple{"scripts.html", "<p>" + text + "</p>", "html"}}) {
        SCOPED_TRACE(name);
        const auto pdf = dir / (std::string(name) + ".pdf");
        engine.convert(documentJob(dir.write(name, content), pdf, format, "pdf"), {}, {});
        const auto fonts = testing::pdfFonts(pdf);
        if (!fonts) GTEST_SKIP() << "poppler-utils are not installed";
        if (!std::filesystem::exists("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc")) GTEST_SKIP() << "the Noto fonts are not installed";
        // DejaVu, the default, has Arabic and Hebrew; the rest comes from the fallbacks.
        for (const char* family : {"NotoSansCJK", "NotoSansDevanagari"}) EXPECT_NE(fonts->find(family), std::string::npos) << family << "\n" << *fonts;
        const std::string extracted = testing::pdfText(pdf).value_or("");
        for (const char* word : {"\xE6\x9C\xAC\xE8\xAA\x9E", "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7", "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D"})
            EXPECT_NE(extracted.find(word), std::string::npos) << word << "\n" << extracted;
        EXPECT_EQ(testing::pdfImageCount(pdf), 1);
    }
}

// Every character written reads back as itself from a PDF's text layer, whatever the source:
// the ideographs that CJK fonts share with the Kangxi radicals, kana, hangul, Arabic and Hebrew,
// through pdftotext and through our own PDF reader.
TEST(DocumentEngine, PdfTextReadsBackAsWritten) {
    if (!std::filesystem::exists("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc")) GTEST_SKIP() << "the Noto fonts are not installed";
    const std::vector<std::string> words = {
        "\xE4\xB8\x80\xE4\xBA\xBA\xE6\x97\xA5\xE6\x9C\x88\xE5\xA4\xA7\xE5\xB1\xB1\xE6\xB0\xB4\xE7\x81\xAB"
        "\xE6\x9C\xA8\xE9\x87\x91\xE5\x9C\x9F\xE5\x8F\xA3\xE7\x9B\xAE\xE7\x94\xB0\xE5\x8A\x9B",  // 一人日月大山水火木金土口目田力
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE6\x96\x87",                          // 日本語の文
        "\xE3\x81\xB2\xE3\x82\x89\xE3\x81\x8C\xE3\x81\xAA",                                      // ひらがな
        "\xE3\x82\xAB\xE3\x82\xBF\xE3\x82\xAB\xE3\x83\x8A",                                      // カタカナ
        "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4",                                                  // 한국어
        "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7",                                              // مرحبا
        "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D",                                                      // שלום
        "caf\xC3\xA9",
    };
    std::string line;
    for (const std::string& word : words) line += (line.empty() ? "" : " ") + word;
    std::string rtf = R"({\rtf1\ansi\uc1 )";
    for (const QChar unit : QString::fromStdString(line)) {
        if (unit.unicode() < 0x80) rtf += static_cast<char>(unit.unicode());
        else rtf += "\\u" + std::to_string(static_cast<int16_t>(unit.unicode())) + "?";
    }
    rtf += "}";
    const std::pair<std::string, std::string> sources[] = {
        {"txt", line}, {"md", line}, {"html", "<html><head><meta charset=\"utf-8\"></head><body><p>" + line + "</p></body></html>"},
        {"rtf", rtf},  {"csv", line}, {"docx", ""},
    };
    TempDir dir;
    const DocumentEngine engine;
    for (const auto& [format, content] : sources) {
        SCOPED_TRACE(format);
        std::filesystem::path source = dir / ("memo." + format);
        if (format == "docx") {
            if (!std::filesystem::exists(OOXMLWriter::tarPath())) continue;
            OOXMLWriter::write(*richDocument(StyledText(line, testing::plainAttributes())), source);
        } else {
            dir.write(source.filename().string(), content);
        }
        const auto pdf = dir / ("memo-" + format + ".pdf");
        engine.convert(documentJob(source, pdf, format, "pdf"), {}, {});
        const std::optional<std::string> extracted = testing::pdfText(pdf);
        if (!extracted) GTEST_SKIP() << "poppler-utils are not installed";
        const std::string ours = PopplerDocument::load(pdf).pageText(0);
        if (std::filesystem::exists("/usr/bin/qpdf")) {
            EXPECT_TRUE(testing::programOutput("/usr/bin/qpdf", {"--check", pdf.string()}));
        }
        for (const std::string& word : words) {
            EXPECT_NE(extracted->find(word), std::string::npos) << word << "\n" << *extracted;
            EXPECT_NE(ours.find(word), std::string::npos) << word << "\n" << ours;
        }
        // No Kangxi radical (U+2F00–U+2FDF: E2 BC 80 – E2 BF 9F) was written, so none reads back.
        for (const std::string& text : {*extracted, ours})
            for (size_t at = text.find("\xE2"); at != std::string::npos && at + 1 < text.size(); at = text.find("\xE2", at + 1))
                EXPECT_FALSE(static_cast<unsigned char>(text[at + 1]) >= 0xBC && static_cast<unsigned char>(text[at + 1]) <= 0xBF) << text;
    }
}

}  // namespace
}  // namespace kolvex
