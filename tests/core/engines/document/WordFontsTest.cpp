// SPDX-License-Identifier: GPL-3.0-or-later
// Words whose letters are not all in the document's font: for every script an installed font
// covers, words mixing letters the document's font has with letters only another font has are
// laid out as the PDF writer lays them out, and each must come out as one run of glyphs in one
// font, the very glyphs hb-shape makes of the word in that font (joined, not letter by letter).
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextBlock>
#include <QTextLayout>

#include "DocumentTestSupport.h"
#include "core/engines/document/DocumentEngine.h"
#include "core/engines/document/PdfLayoutWriter.h"
#include "core/engines/document/RichDocument.h"
#include "core/engines/document/ScriptFonts.h"
#include "support/ExternalTool.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

struct InstalledFace {
    std::string file;
    int index = 0;
    QString family;
    QString style;
    std::set<char32_t> letters;  // of the script in question
};

// For every script, the installed face with the most of its letters.
std::map<QChar::Script, InstalledFace> fullestFaceByScript() {
    std::map<QChar::Script, InstalledFace> out;
    const std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> all(FcPatternCreate(), &FcPatternDestroy);
    const std::unique_ptr<FcObjectSet, decltype(&FcObjectSetDestroy)> fields(
        FcObjectSetBuild(FC_FILE, FC_INDEX, FC_FAMILY, FC_STYLE, FC_CHARSET, nullptr), &FcObjectSetDestroy);
    const std::unique_ptr<FcFontSet, decltype(&FcFontSetDestroy)> fonts(FcFontList(nullptr, all.get(), fields.get()),
                                                                        &FcFontSetDestroy);
    for (int f = 0; fonts && f < fonts->nfont; ++f) {
        FcChar8 *file = nullptr, *family = nullptr, *style = nullptr;
        FcCharSet* charset = nullptr;
        int index = 0;
        FcPattern* font = fonts->fonts[f];
        if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || FcPatternGetString(font, FC_FAMILY, 0, &family) != FcResultMatch ||
            FcPatternGetCharSet(font, FC_CHARSET, 0, &charset) != FcResultMatch)
            continue;
        FcPatternGetString(font, FC_STYLE, 0, &style);
        FcPatternGetInteger(font, FC_INDEX, 0, &index);
        // Regular faces only: the document's text is regular.
        if (style && std::string(reinterpret_cast<const char*>(style)) != "Regular") continue;
        std::map<QChar::Script, std::set<char32_t>> byScript;
        FcChar32 map[FC_CHARSET_MAP_SIZE];
        FcChar32 next = 0;
        for (FcChar32 base = FcCharSetFirstPage(charset, map, &next); base != FC_CHARSET_DONE;
             base = FcCharSetNextPage(charset, map, &next)) {
            for (int word = 0; word < FC_CHARSET_MAP_SIZE; ++word)
                for (FcChar32 bits = map[word]; bits != 0; bits &= bits - 1) {
                    const char32_t c = base + 32 * static_cast<FcChar32>(word) + static_cast<FcChar32>(__builtin_ctz(bits));
                    const QChar::Script script = QChar::script(c);
                    if (script > QChar::Script_Common && QChar::isLetter(c) && QChar::category(c) == QChar::Letter_Other)
                        byScript[script].insert(c);
                }
        }
        for (auto& [script, letters] : byScript) {
            if (letters.size() < 3 || (out.count(script) && out[script].letters.size() >= letters.size())) continue;
            out[script] = InstalledFace{reinterpret_cast<const char*>(file), index, QString::fromUtf8(reinterpret_cast<const char*>(family)),
                                        style ? QString::fromUtf8(reinterpret_cast<const char*>(style)) : QString(), std::move(letters)};
        }
    }
    return out;
}

// Words of three letters from `face`: where the document's font has some of the script's
// letters, each word puts one it lacks between two it has (the case that came apart).
std::vector<QString> wordsFor(const InstalledFace& face, const QRawFont& documentFont) {
    std::vector<char32_t> has, lacks;
    for (const char32_t c : face.letters) (documentFont.supportsCharacter(c) ? has : lacks).push_back(c);
    std::vector<QString> words;
    const auto word = [](std::initializer_list<char32_t> letters) {
        const std::u32string text(letters);
        return QString::fromStdU32String(text);
    };
    constexpr size_t kWords = 4;
    if (!has.empty() && !lacks.empty()) {
        for (size_t i = 0; i < kWords; ++i) {
            const size_t step = std::max<size_t>(1, lacks.size() / kWords);
            words.push_back(word({has[(i * 7) % has.size()], lacks[std::min(lacks.size() - 1, i * step)], has[(i * 13 + 1) % has.size()]}));
        }
    } else {
        const std::vector<char32_t> all(face.letters.begin(), face.letters.end());
        for (size_t i = 0; i < kWords; ++i) words.push_back(word({all[i % all.size()], all[(i * 5 + 1) % all.size()], all[(i * 11 + 2) % all.size()]}));
    }
    return words;
}

// The file and face of an installed font by family and style, for hb-shape.
std::optional<std::pair<std::string, int>> fileOf(const QRawFont& font) {
    const std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> pattern(FcPatternCreate(), &FcPatternDestroy);
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(font.familyName().toUtf8().constData()));
    FcPatternAddString(pattern.get(), FC_STYLE, reinterpret_cast<const FcChar8*>(font.styleName().toUtf8().constData()));
    const std::unique_ptr<FcObjectSet, decltype(&FcObjectSetDestroy)> fields(FcObjectSetBuild(FC_FILE, FC_INDEX, nullptr), &FcObjectSetDestroy);
    const std::unique_ptr<FcFontSet, decltype(&FcFontSetDestroy)> fonts(FcFontList(nullptr, pattern.get(), fields.get()),
                                                                        &FcFontSetDestroy);
    // A copy Qt holds in memory (one that lists its script) has the glyphs of its installed original.
    for (int f = 0; fonts && f < fonts->nfont; ++f) {
        FcChar8* file = nullptr;
        int index = 0;
        if (FcPatternGetString(fonts->fonts[f], FC_FILE, 0, &file) != FcResultMatch || file[0] != '/') continue;
        FcPatternGetInteger(fonts->fonts[f], FC_INDEX, 0, &index);
        return std::make_pair(std::string(reinterpret_cast<const char*>(file)), index);
    }
    return std::nullopt;
}

// hb-shape's glyphs for `word` in a font file: "[54|517|38]".
std::optional<std::string> hbGlyphs(const std::pair<std::string, int>& font, const QString& word) {
    const auto out = testing::programOutput("/usr/bin/hb-shape", {"--no-glyph-names", "--no-positions", "--no-clusters",
                                                                  "--face-index=" + std::to_string(font.second),
                                                                  "--text=" + word.toStdString(), font.first});
    if (!out) return std::nullopt;
    std::string line = *out;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

std::string asHbGlyphs(std::vector<quint32> glyphs) {
    std::ostringstream out;
    out << '[';
    for (size_t i = 0; i < glyphs.size(); ++i) out << (i ? "|" : "") << glyphs[i];
    out << ']';
    return out.str();
}

TEST(WordFonts, WordsAcrossFontsAreShapedWholeInOneFontThatCoversThem) {
    if (!fs::exists("/usr/bin/hb-shape")) GTEST_SKIP() << "hb-shape is not installed (libharfbuzz-bin)";
    testing::TempDir dir;
    // The document's font, as the engine gives a plain text.
    const auto probe = DocumentEngine::read(dir.write("probe.txt", "x"), testing::documentFormat("txt"));
    const QRawFont documentFont = QRawFont::fromFont(probe->defaultFont());
    ASSERT_TRUE(documentFont.isValid());

    // Every word on a line of its own, written as the engine writes a PDF.
    std::vector<QString> words;
    std::vector<QChar::Script> scripts;
    for (const auto& [script, face] : fullestFaceByScript()) {
        for (const QString& word : wordsFor(face, documentFont)) {
            // Scripts Qt draws in no font here are the PDF writer's note's business, not this.
            ScriptFonts::prepareFor(word, probe->defaultFont());
            if (!ScriptFonts::drawsAll(word, QFont(face.family))) continue;
            words.push_back(word);
            scripts.push_back(script);
        }
    }
    ASSERT_FALSE(words.empty()) << "no installed font covers a script";
    QString lines;
    for (const QString& word : words) lines += word + QLatin1Char('\n');
    auto document = DocumentEngine::read(dir.write("words.txt", lines.toStdString()), testing::documentFormat("txt"));
    PdfLayoutWriter::write(*document, dir / "words.pdf");

    int checked = 0;
    for (size_t i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        SCOPED_TRACE(fmt::format("script {}: {}", static_cast<int>(scripts[i]), word.toStdString()));
        const QTextBlock block = document->findBlockByNumber(static_cast<int>(i));
        ASSERT_EQ(block.text(), word);
        document->documentLayout()->blockBoundingRect(block);  // laid out again since the writer let go
        QList<QGlyphRun> runs;
        for (int line = 0; line < block.layout()->lineCount(); ++line) runs += block.layout()->lineAt(line).glyphRuns();
        ASSERT_EQ(runs.size(), 1) << "the word was drawn from more than one font";
        const QRawFont font = runs.front().rawFont();
        const auto file = fileOf(font);
        ASSERT_TRUE(file) << "no file for " << font.familyName().toStdString();
        const auto expected = hbGlyphs(*file, word);
        ASSERT_TRUE(expected) << "hb-shape failed on " << file->first << " for " << font.familyName().toStdString() << "/"
                              << font.styleName().toStdString();
        const QList<quint32> indexes = runs.front().glyphIndexes();
        std::vector<quint32> drawn(indexes.begin(), indexes.end());
        std::vector<quint32> reversed(drawn.rbegin(), drawn.rend());
        EXPECT_TRUE(asHbGlyphs(drawn) == *expected || asHbGlyphs(reversed) == *expected)
            << "drawn " << asHbGlyphs(drawn) << " in " << font.familyName().toStdString() << ", hb-shape makes " << *expected;
        ++checked;
    }
    EXPECT_GT(checked, 0) << "no installed font covered a script beyond the document font's";
}

}  // namespace
}  // namespace kolvex
