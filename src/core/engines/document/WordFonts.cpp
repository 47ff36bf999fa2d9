// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/WordFonts.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <fontconfig/fontconfig.h>

#include <QFont>
#include <QGlyphRun>
#include <QTextLayout>
#include <QRawFont>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include "core/services/Cancellation.h"

namespace kolvex {

namespace {

// Fontconfig's fonts for one font of the document, best first, with their character sets.
struct FontOrder {
    std::unique_ptr<FcFontSet, decltype(&FcFontSetDestroy)> fonts{nullptr, &FcFontSetDestroy};
};

struct Cache {
    std::mutex mutex;
    std::map<QString, FontOrder> orders;                       // by the font's key
    std::map<std::pair<QString, QString>, std::optional<QString>> families;  // by font key and word
};

Cache& cache() {
    static Cache instance;
    return instance;
}

const FontOrder& orderFor(const QFont& font, Cache& c) {
    const QString key = font.families().join(QLatin1Char(',')) + QLatin1Char('/') + QString::number(font.weight()) +
                        QLatin1Char('/') + QString::number(static_cast<int>(font.style()));
    auto found = c.orders.find(key);
    if (found != c.orders.end()) return found->second;
    FontOrder order;
    const std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> pattern(FcPatternCreate(), &FcPatternDestroy);
    for (const QString& family : font.families())
        FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.toUtf8().constData()));
    if (font.styleHint() == QFont::Monospace || font.styleHint() == QFont::TypeWriter)
        FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>("monospace"));
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, font.bold() ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern.get(), FC_SLANT, font.italic() ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    order.fonts.reset(FcFontSort(nullptr, pattern.get(), FcFalse, nullptr, &result));
    return c.orders.emplace(key, std::move(order)).first->second;
}

// The characters of a word a font must have: the joiners draw nothing and need no glyph.
std::vector<char32_t> lettersOf(const QString& word) {
    std::vector<char32_t> letters;
    for (const char32_t c : word.toUcs4())
        if (c != 0x200C && c != 0x200D) letters.push_back(c);
    return letters;
}

// WordFonts::familyFor, with the font's own first face at hand.
std::optional<QString> coveringFamily(const QString& word, const QFont& font, const QRawFont& own) {
    const std::vector<char32_t> letters = lettersOf(word);
    if (own.isValid() && std::all_of(letters.begin(), letters.end(), [&own](char32_t c) { return own.supportsCharacter(c); }))
        return std::nullopt;
    Cache& c = cache();
    const std::lock_guard lock(c.mutex);
    const auto key = std::make_pair(font.key(), word);
    if (auto found = c.families.find(key); found != c.families.end()) return found->second;
    // Only a word Qt would draw from more than one font changes: one it draws whole in a font of
    // its fallback stays as it is.
    QTextLayout layout(word, font);
    layout.beginLayout();
    while (layout.createLine().isValid()) {
    }
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    std::optional<QString> chosen;
    if (runs.size() <= 1) {
        c.families.emplace(key, chosen);
        return chosen;
    }
    // The first of the fonts Qt took for some of its letters that has them all, else the first
    // in fontconfig's order.
    for (const QGlyphRun& run : runs) {
        const QRawFont part = run.rawFont();
        if (part.isValid() && !part.familyName().isEmpty() &&
            std::all_of(letters.begin(), letters.end(), [&part](char32_t l) { return part.supportsCharacter(l); })) {
            chosen = part.familyName();
            break;
        }
    }
    const FontOrder& order = orderFor(font, c);
    for (int i = 0; order.fonts && i < order.fonts->nfont && !chosen; ++i) {
        FcPattern* candidate = order.fonts->fonts[i];
        FcCharSet* charset = nullptr;
        FcChar8* family = nullptr;
        if (FcPatternGetCharSet(candidate, FC_CHARSET, 0, &charset) != FcResultMatch ||
            FcPatternGetString(candidate, FC_FAMILY, 0, &family) != FcResultMatch)
            continue;
        if (std::all_of(letters.begin(), letters.end(), [charset](char32_t l) { return FcCharSetHasChar(charset, l); }))
            chosen = QString::fromUtf8(reinterpret_cast<const char*>(family));
    }
    // Already the font's own first family: Qt draws the word in it as it is.
    if (chosen && !font.families().isEmpty() && *chosen == font.families().front()) chosen.reset();
    c.families.emplace(key, chosen);
    return chosen;
}

}  // namespace

bool WordFonts::inWord(char32_t c) {
    return QChar::isLetterOrNumber(c) || QChar::isMark(c) || c == 0x200C || c == 0x200D || c == 0x0640;
}

std::optional<QString> WordFonts::familyFor(const QString& word, const QFont& font) {
    return coveringFamily(word, font, QRawFont::fromFont(font));
}

int WordFonts::giveWholeWords(QTextDocument& document, std::stop_token stop) {
    struct Change {
        int from = 0;
        int to = 0;
        QString family;
    };
    std::vector<Change> changes;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        throwIfStopRequested(stop);
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QString text = fragment.text();
            const QFont font = fragment.charFormat().font().resolve(document.defaultFont());
            std::optional<QRawFont> own;  // looked up for the first word beyond ASCII
            for (qsizetype i = 0; i < text.size();) {
                const auto codeAt = [&text](qsizetype at, qsizetype& units) -> char32_t {
                    units = text[at].isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate() ? 2 : 1;
                    return units == 2 ? QChar::surrogateToUcs4(text[at], text[at + 1]) : text[at].unicode();
                };
                qsizetype units = 1;
                if (!inWord(codeAt(i, units))) {
                    i += units;
                    continue;
                }
                qsizetype end = i;
                bool beyondAscii = false;
                while (end < text.size()) {
                    const char32_t c = codeAt(end, units);
                    if (!inWord(c)) break;
                    beyondAscii = beyondAscii || c >= 0x80;
                    end += units;
                }
                if (beyondAscii) {
                    if (!own) own = QRawFont::fromFont(font);
                    if (auto family = coveringFamily(text.mid(i, end - i), font, *own))
                        changes.push_back({fragment.position() + static_cast<int>(i), fragment.position() + static_cast<int>(end),
                                           std::move(*family)});
                }
                i = end;
            }
        }
    }
    if (changes.empty()) return 0;
    document.setUndoRedoEnabled(false);
    QTextCursor cursor(&document);
    // One edit: outside one, every move of the cursor lays its paragraph out anew.
    cursor.beginEditBlock();
    for (const Change& change : changes) {
        cursor.setPosition(change.from);
        cursor.setPosition(change.to, QTextCursor::KeepAnchor);
        QTextCharFormat format;
        format.setFontFamilies(QStringList{change.family});
        cursor.mergeCharFormat(format);
    }
    cursor.endEditBlock();
    return static_cast<int>(changes.size());
}

}  // namespace kolvex
