// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <QAbstractTextDocumentLayout>
#include <QChar>
#include <QGlyphRun>
#include <QRawFont>
#include <QString>
#include <QTextBlock>
#include <QTextLayout>

#include "DocumentTestSupport.h"
#include "core/engines/document/PdfLayoutWriter.h"
#include "core/engines/document/RichDocument.h"
#include "core/engines/pdf/PopplerDocument.h"
#include "support/TempDir.h"

// Every script that an installed font covers, as fontconfig lists the fonts: a line of its
// letters, each row in the font that covers the script best, one page per script. The rows come
// from the fonts, so a script whose font is installed cannot go untested. Each page must read
// back (pdftotext and our reader) and be drawn as HarfBuzz shapes it.

namespace kolvex {
namespace {

using testing::TempDir;

struct ScriptRow {
    QChar::Script script;
    std::string family;
    std::string file;
    std::string faceIndex;
    QString text;  // a line of the script's letters, with marks between them
};

struct Coverage {
    std::vector<char32_t> letters;
    std::vector<char32_t> marks;
};

bool isRegular(const std::string& style) { return style == "Regular" || style == "Book" || style == "Roman"; }

// "20-7e a0 …" → the characters.
std::vector<char32_t> charsetOf(const std::string& ranges) {
    std::vector<char32_t> out;
    std::istringstream in(ranges);
    std::string range;
    while (in >> range) {
        const size_t dash = range.find('-');
        const auto first = static_cast<char32_t>(std::stoul(range.substr(0, dash), nullptr, 16));
        const auto last = dash == std::string::npos ? first : static_cast<char32_t>(std::stoul(range.substr(dash + 1), nullptr, 16));
        for (char32_t c = first; c <= last; ++c) out.push_back(c);
    }
    return out;
}

// A line of a script: 24 of its letters spread over the ones the font has, a mark after every
// other letter, a space after every sixth, decomposed (Korean as conjoining jamo).
QString sampleOf(const Coverage& coverage) {
    std::u32string text;
    const size_t count = std::min<size_t>(24, coverage.letters.size());
    size_t mark = 0;
    for (size_t i = 0; i < count; ++i) {
        text.push_back(coverage.letters[i * coverage.letters.size() / count]);
        if (i % 2 == 1 && !coverage.marks.empty()) text.push_back(coverage.marks[mark++ % coverage.marks.size()]);
        if (i % 6 == 5 && i + 1 < count) text.push_back(U' ');
    }
    return QString::fromStdU32String(text).normalized(QString::NormalizationForm_D);
}

// One row per script that a regular face of an installed font has letters of.
std::vector<ScriptRow> installedScripts() {
    const std::optional<std::string> listing =
        testing::programOutput("/usr/bin/fc-list", {"--format", "%{family[0]}\t%{style[0]}\t%{file}\t%{index}\t%{charset}\n"});
    if (!listing) return {};
    std::vector<std::string> lines;
    std::istringstream in(*listing);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());  // fontconfig's order varies between machines
    std::map<QChar::Script, std::pair<ScriptRow, Coverage>> best;
    for (const std::string& line : lines) {
        std::vector<std::string> field;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');) field.push_back(cell);
        if (field.size() < 5 || !isRegular(field[1])) continue;
        std::map<QChar::Script, Coverage> scripts;
        for (const char32_t c : charsetOf(field[4])) {
            const QChar::Script script = QChar::script(c);
            if (script <= QChar::Script_Common) continue;  // unknown, inherited, common
            if (QChar::isLetter(c)) scripts[script].letters.push_back(c);
            else if (QChar::isMark(c)) scripts[script].marks.push_back(c);
        }
        for (auto& [script, coverage] : scripts) {
            if (coverage.letters.size() < 2) continue;
            auto found = best.find(script);
            if (found != best.end() && found->second.second.letters.size() >= coverage.letters.size()) continue;
            best[script] = {ScriptRow{script, field[0], field[2], field[3], {}}, std::move(coverage)};
        }
    }
    std::vector<ScriptRow> rows;
    for (auto& [script, entry] : best) {
        entry.first.text = sampleOf(entry.second);
        rows.push_back(std::move(entry.first));
    }
    return rows;
}

std::string label(const ScriptRow& row) {
    return "script " + std::to_string(static_cast<int>(row.script)) + " in " + row.family + " \"" + row.text.toStdString() + "\"";
}

// Each row on a page of its own, in its font.
std::unique_ptr<RichDocument> documentOf(const std::vector<ScriptRow>& rows, bool joinersBetween) {
    StyledText text;
    for (size_t i = 0; i < rows.size(); ++i) {
        QString line = rows[i].text;
        if (joinersBetween) {
            QString apart;
            for (qsizetype at = 0; at < line.size(); ++at) {
                if (at > 0 && !line[at].isLowSurrogate() && line[at] != QLatin1Char(' ') && line[at - 1] != QLatin1Char(' '))
                    apart += QChar(0x200C);
                apart += line[at];
            }
            line = apart;
        }
        TextAttributes attributes = testing::plainAttributes(14);
        attributes.font->family = rows[i].family;
        text.append((i > 0 ? "\f" : "") + line.toStdString(), attributes);
    }
    return richDocument(text);
}

std::u32string withoutWhitespace(const QString& text) {
    std::u32string out;
    for (const char32_t c : text.toStdU32String())
        if (!QChar::isSpace(c) && !(c >= 0x202A && c <= 0x202E) && c != 0x200C) out.push_back(c);
    return out;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

bool haveTools() {
    for (const char* tool : {"/usr/bin/fc-list", "/usr/bin/pdftotext", "/usr/bin/pdftoppm", "/usr/bin/hb-shape", "/usr/bin/pdffonts"})
        if (!std::filesystem::exists(tool)) return false;
    return true;
}

TEST(PdfScripts, EveryInstalledScriptReadsBack) {
    if (!haveTools()) GTEST_SKIP() << "fontconfig, poppler-utils or libharfbuzz-bin are not installed";
    const std::vector<ScriptRow> rows = installedScripts();
    ASSERT_GT(rows.size(), 1u);
    TempDir dir;
    const auto pdf = dir / "scripts.pdf";
    const auto document = documentOf(rows, false);
    PdfLayoutWriter::write(*document, pdf);
    const PopplerDocument ours = PopplerDocument::load(pdf);
    ASSERT_EQ(ours.pageCount(), static_cast<int>(rows.size()));
    const std::vector<std::string> pages = split(testing::pdfText(pdf).value_or(""), '\f');
    std::string notes;
    for (const std::string& note : document->notes()) notes += note;
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(label(rows[i]));
        const std::u32string expected = withoutWhitespace(rows[i].text);
        // Every row's script has an installed font: no note may call its letters undrawable.
        EXPECT_EQ(notes.find(QString(rows[i].text.front()).toStdString()), std::string::npos) << notes;
        EXPECT_EQ(QString::fromStdU32String(withoutWhitespace(QString::fromStdString(i < pages.size() ? pages[i] : ""))).toStdString(),
                  QString::fromStdU32String(expected).toStdString())
            << "pdftotext";
        EXPECT_EQ(QString::fromStdU32String(withoutWhitespace(QString::fromStdString(ours.pageText(static_cast<int>(i))))).toStdString(),
                  QString::fromStdU32String(expected).toStdString())
            << "our reader";
    }
}

// A run that Qt draws without glyphs, or with glyphs no font has (private-use characters as icon
// fonts paste them, a script whose installed font Qt refuses unless given a copy that lists it,
// an emoji newer than the emoji font), costs the page
// nothing else: everything around it reads back, and it reads back too. What is not drawn in a
// font that has it is named in the document's note.
TEST(PdfScripts, AnUnmatchedRunCostsItselfAlone) {
    if (!haveTools()) GTEST_SKIP() << "fontconfig, poppler-utils or libharfbuzz-bin are not installed";
    const std::string lead = "\xF0\x9D\x90\x80\xF0\x9D\x90\x81\xF0\x9D\x90\x82 \xE0\xA4\xA8\xE0\xA4\xAE\xE0\xA4\xB8\xE0\xA5\x8D\xE0\xA4\xA4\xE0\xA5\x87";  // 𝐀𝐁𝐂 नमस्ते
    const struct {
        const char* name;
        std::string line;
        bool readsBack;  // private-use characters have no meaning a reader could give them
    } rows[] = {
        {"private use", "\xEE\x80\x80\xEE\x80\x81", false},
        {"Thaana", "\xDE\x8B\xDE\xA8\xDE\x88\xDE\xAC\xDE\x80\xDE\xA8", true},
        {"emoji newer than the font", "\xF0\x9F\xAB\xA9 ok", true},

    };
    TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto pdf = dir / (std::string(row.name) + ".pdf");
        const auto document = richDocument(StyledText(lead + "\n" + row.line, testing::plainAttributes()));
        PdfLayoutWriter::write(*document, pdf);
        // Each letter is drawn in a font fontconfig has for it, or the note names it.
        std::string notes;
        for (const std::string& note : document->notes()) notes += note;
        const std::string fonts = testing::pdfFonts(pdf).value_or("");
        for (const char32_t c : QString::fromStdString(row.line).toStdU32String()) {
            if (c < 0x80 || QChar::isMark(c)) continue;
            char code[16];
            std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(c));
            const bool named = notes.find(QString::fromUcs4(&c, 1).toStdString()) != std::string::npos || notes.find(std::string("U+") + code) != std::string::npos;
            const std::string family = testing::programOutput("/usr/bin/fc-list", {":charset=" + std::string(code), "family"}).value_or("");
            bool drawn = false;
            for (std::string name : split(family, '\n')) {
                name = name.substr(0, name.find(','));
                name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
                drawn = drawn || (!name.empty() && fonts.find(name) != std::string::npos);
            }
            EXPECT_TRUE(named || drawn) << "U+" << code << " neither drawn in " << (family.empty() ? "a font (none has it)" : family)
                                        << " nor named in the note \"" << notes << "\"";
        }
        const std::u32string read = withoutWhitespace(QString::fromStdString(testing::pdfText(pdf).value_or("")));
        const std::u32string before = withoutWhitespace(QString::fromStdString(lead));
        EXPECT_EQ(QString::fromStdU32String(read.substr(0, before.size())).toStdString(), QString::fromStdU32String(before).toStdString());
        // Every character reaches the text layer. (A reader may still order a mark that ends a
        // right-to-left line, drawn by no font, before its letter.)
        if (!row.readsBack) continue;
        for (const char32_t c : withoutWhitespace(QString::fromStdString(row.line))) {
            EXPECT_NE(read.find(c), std::u32string::npos) << QString::fromStdU32String(read).toStdString();
        }
    }
}

// HarfBuzz's glyph ids for a line in a row's font.
// Invisible characters stay, as the space glyph Qt draws them with.
std::vector<unsigned> glyphIds(const ScriptRow& row, const QString& text, bool rightToLeft, const TempDir& dir) {
    const auto file = dir.write("ids.txt", text.toStdString());
    const std::string out =
        testing::programOutput("/usr/bin/hb-shape", {"--no-clusters", "--no-positions", "--no-glyph-names", rightToLeft ? "--direction=rtl" : "--direction=ltr",
                                                     "--face-index=" + row.faceIndex, "--text-file=" + file.string(), row.file})
            .value_or("");
    std::vector<unsigned> ids;
    for (const std::string& id : split(out.substr(out.find('[') + 1), '|'))
        if (!id.empty() && std::isdigit(static_cast<unsigned char>(id.front()))) ids.push_back(static_cast<unsigned>(std::stoul(id)));
    return ids;
}

// Each row is drawn in its font, not as empty boxes: its page embeds the font, and the glyphs
// laid out in it are glyphs HarfBuzz shapes the line to in that font.
TEST(PdfScripts, EveryInstalledScriptIsDrawnInItsFont) {
    if (!haveTools()) GTEST_SKIP() << "fontconfig, poppler-utils or libharfbuzz-bin are not installed";
    const std::vector<ScriptRow> rows = installedScripts();
    ASSERT_GT(rows.size(), 1u);
    TempDir dir;
    const auto pdf = dir / "scripts.pdf";
    const auto document = documentOf(rows, false);
    PdfLayoutWriter::write(*document, pdf);
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(label(rows[i]));
        const std::string page = std::to_string(i + 1);
        const std::string fonts = testing::programOutput("/usr/bin/pdffonts", {"-f", page, "-l", page, pdf.string()}).value_or("");
        std::string name = rows[i].family;
        name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
        EXPECT_NE(QString::fromStdString(fonts).indexOf(QString::fromStdString(name), 0, Qt::CaseInsensitive), -1) << "the page does not embed " << rows[i].family << ":\n" << fonts;
        const QTextBlock block = document->findBlockByNumber(static_cast<int>(i));
        document->documentLayout()->blockBoundingRect(block);  // laid out again since the writer let go
        std::map<unsigned, int> expected;
        for (const unsigned id : glyphIds(rows[i], rows[i].text, block.layout()->textOption().textDirection() == Qt::RightToLeft, dir)) ++expected[id];
        int drawn = 0;
        QList<QGlyphRun> runs;
        for (int line = 0; line < block.layout()->lineCount(); ++line) runs += block.layout()->lineAt(line).glyphRuns();
        for (const QGlyphRun& run : runs) {
            // Qt's empty boxes come in a font of no family (and no tables): asking it for one crashes.
            const QRawFont font = run.rawFont();
            if (!font.isValid() || font.fontTable("head").isEmpty() || !font.familyName().contains(QString::fromStdString(rows[i].family), Qt::CaseInsensitive)) continue;
            for (const quint32 id : run.glyphIndexes()) {
                ++drawn;
                EXPECT_GT(expected[id]--, 0) << "glyph " << id << " is not one HarfBuzz shapes the line to";
            }
        }
        EXPECT_GT(drawn, 0) << "no glyph drawn in " << rows[i].family;
    }
}

// HarfBuzz's glyphs and advances for a line in a font, joiners and other invisible characters
// left out. Mark offsets are left out too: a mark parted from its letter by a joiner is placed
// differently by every layout engine, and says nothing about whether the line was shaped.
std::string shaped(const ScriptRow& row, const QString& text, const TempDir& dir) {
    const auto file = dir.write("line.txt", text.toStdString());
    const std::string out = testing::programOutput("/usr/bin/hb-shape", {"--remove-default-ignorables", "--no-clusters",
                                                                         "--face-index=" + row.faceIndex, "--text-file=" + file.string(), row.file})
                                .value_or("");
    std::string glyphs;
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '@') {
            while (i < out.size() && out[i] != '+' && out[i] != '|' && out[i] != ']') ++i;
            if (i == out.size()) break;
        }
        glyphs += out[i];
    }
    return glyphs;
}

std::string bytesOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A line and the same line with a zero-width non-joiner between every two characters: where
// HarfBuzz shapes the two differently in the row's font (letters joined, reordered, stacked,
// kerned, ligated), the pages must differ too. Laid out glyph by glyph, they look the same.
TEST(PdfScripts, EveryInstalledScriptIsDrawnShaped) {
    if (!haveTools()) GTEST_SKIP() << "fontconfig, poppler-utils or libharfbuzz-bin are not installed";
    const std::vector<ScriptRow> rows = installedScripts();
    ASSERT_GT(rows.size(), 1u);
    TempDir dir;
    std::vector<std::vector<std::string>> renders;
    for (const bool apart : {false, true}) {
        const std::string name = apart ? "apart" : "joined";
        const auto pdf = dir / (name + ".pdf");
        PdfLayoutWriter::write(*documentOf(rows, apart), pdf);
        // The first lines of each page, at 144 dots an inch.
        ASSERT_TRUE(testing::programOutput("/usr/bin/pdftoppm", {"-r", "144", "-gray", "-x", "144", "-y", "144", "-W", "936", "-H", "240",
                                                                 pdf.string(), (dir / name).string()}));
        std::vector<std::string> pages;
        for (size_t i = 1; i <= rows.size(); ++i) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, rows.size() >= 100 ? "-%03zu.pgm" : "-%02zu.pgm", i);
            pages.push_back(bytesOf(dir / (name + suffix)));
        }
        renders.push_back(std::move(pages));
    }
    int shapedRows = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(label(rows[i]));
        const auto apartDocument = documentOf({rows[i]}, true);
        const std::string whole = shaped(rows[i], rows[i].text, dir);
        const std::string apart = shaped(rows[i], apartDocument->toPlainText(), dir);
        ASSERT_FALSE(whole.empty());
        ASSERT_FALSE(renders[0][i].empty());
        if (whole == apart) continue;  // shaping changes nothing in this line
        ++shapedRows;
        EXPECT_TRUE(renders[0][i] != renders[1][i]) << "drawn the same with and without joiners: not shaped";
    }
    EXPECT_GT(shapedRows, 0);
}

}  // namespace
}  // namespace kolvex
