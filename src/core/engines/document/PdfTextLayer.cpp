// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/PdfTextLayer.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include <fmt/format.h>

#include <QList>

#include "core/engines/document/ToUnicodeMap.h"
#include "core/engines/pdf/QpdfBridge.h"

namespace kolvex::pdf_text_layer {

namespace {

// What a reader should take from an item: its characters without control characters and line
// or paragraph separators (a tab reads as a space).
std::u32string readableText(const QString& item) {
    std::u32string text;
    for (const char32_t c : item.toUcs4()) {
        if (c == U'\t') text.push_back(U' ');
        else if (c == 0x2028 || c == 0x2029 || c == 0x00AD || QChar::category(c) == QChar::Other_Control) continue;
        else text.push_back(c);
    }
    return text;
}

std::u32string withoutSpaces(const std::u32string& text) {
    std::u32string out;
    for (const char32_t c : text)
        if (!QChar::isSpace(c)) out.push_back(c);
    return out;
}

// Whether an item's glyphs, when there are as many as its characters, stand one for one for
// them: no character of it combines with another, is reordered or is shaped right to left.
bool mapsOneForOne(const std::u32string& characters) {
    for (const char32_t c : characters) {
        switch (QChar::category(c)) {
        case QChar::Mark_NonSpacing:
        case QChar::Mark_SpacingCombining:
        case QChar::Mark_Enclosing:
        case QChar::Other_Format:
        case QChar::Other_Control:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph: return false;
        default: break;
        }
        const QChar::Direction direction = QChar::direction(c);
        if (direction == QChar::DirR || direction == QChar::DirAL) return false;
    }
    return true;
}

bool isMark(char32_t c) {
    const QChar::Category category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining || category == QChar::Mark_Enclosing;
}

bool hasMarks(const std::u32string& text) { return std::any_of(text.begin(), text.end(), isMark); }

// Whether readers turn a right-to-left run round themselves: they know Hebrew, Arabic, Syriac and
// Thaana as right to left, but take the scripts encoded since (N'Ko, Samaritan, Adlam, …) in the
// order their glyphs stand on the page; those runs carry their text in reading order instead.
bool readersTurnRound(const std::u32string& text) {
    return std::any_of(text.begin(), text.end(), [](char32_t c) {
        return (c >= 0x0590 && c <= 0x07BF) || (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF);
    });
}

std::u32string normalForm(const std::u32string& text) {
    return QString::fromStdU32String(text).normalized(QString::NormalizationForm_KC).toStdU32String();
}


// A text object with the item drawn as it.
struct Pairing {
    size_t page;
    TextObject object;
    const DrawnItem* item;
};

// Whether a page's text reads back from Qt's own glyph names: characters of Latin-1 alone,
// laid out glyph by glyph, each glyph named after the lowest character the font gives it,
// which is the character itself or one that reads the same (a space for a no-break space).
bool readsBackAsDrawn(const std::vector<DrawnItem>& items) {
    for (const DrawnItem& item : items)
        for (const QChar c : item.text)
            if (c.unicode() >= 0x100) return false;
    return true;
}

// Whether an item shows nothing a reader could take: only joiners, variation selectors and
// other format or control characters (Qt may draw such an item without any glyph).
bool showsNothing(const QString& item) {
    for (const char32_t c : item.toUcs4()) {
        const QChar::Category category = QChar::category(c);
        const bool selector = (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF);
        if (!selector && category != QChar::Other_Format && category != QChar::Other_Control && category != QChar::Separator_Line &&
            category != QChar::Separator_Paragraph)
            return false;
    }
    return true;
}

// The page's objects paired with its items, in order. Qt draws an item that shows nothing
// (joiners, selectors) without any object, and text that no installed font can draw may go the
// same way; an object may, rarely, stand for no item. The pairing taken leaves out the fewest
// items that show something and the fewest objects, then has the fewest pairs that do not read
// back as their item (`mismatch` tells how far a pair is from it, 0 when it reads back), so an
// item that cannot be matched costs itself alone. The items left out that show something are
// added to `unmatched`. Nothing when the page holds a form this reader does not follow, or lost
// too many items to search.
std::vector<Pairing> pairPage(size_t page, std::string_view content, const std::vector<DrawnItem>& items,
                              const std::function<uint32_t(const TextObject&, const QString&)>& mismatch,
                              std::vector<const DrawnItem*>& unmatched) {
    bool readable = true;
    std::vector<TextObject> objects = textObjects(content, &readable);
    if (!readable) return {};
    const ptrdiff_t n = static_cast<ptrdiff_t>(items.size());
    const ptrdiff_t m = static_cast<ptrdiff_t>(objects.size());
    // Only alignments near the diagonal are searched: i − j (items before objects) stays within
    // a band around the difference in counts.
    constexpr ptrdiff_t kSlack = 16;
    constexpr ptrdiff_t kMostLeftOut = 256;
    if (std::abs(n - m) > kMostLeftOut) return {};
    const ptrdiff_t low = std::min<ptrdiff_t>(0, n - m) - kSlack;
    const ptrdiff_t high = std::max<ptrdiff_t>(0, n - m) + kSlack;
    const ptrdiff_t width = high - low + 1;
    constexpr uint32_t kNever = UINT32_MAX;
    constexpr uint32_t kLeftOut = 1000;  // an item that shows something, or an object, left out
    enum Move : uint8_t { none, paired, itemLeft, objectLeft };
    std::vector<uint32_t> cost(static_cast<size_t>((n + 1) * width), kNever);
    std::vector<uint8_t> move(cost.size(), none);
    const auto at = [&](ptrdiff_t i, ptrdiff_t j) -> ptrdiff_t {
        const ptrdiff_t d = i - j;
        return d < low || d > high ? -1 : i * width + (d - low);
    };
    const auto relax = [&](ptrdiff_t i, ptrdiff_t j, uint32_t value, Move how) {
        const ptrdiff_t cell = at(i, j);
        if (cell < 0 || value >= cost[static_cast<size_t>(cell)]) return;
        cost[static_cast<size_t>(cell)] = value;
        move[static_cast<size_t>(cell)] = how;
    };
    cost[static_cast<size_t>(at(0, 0))] = 0;
    for (ptrdiff_t i = 0; i <= n; ++i) {
        for (ptrdiff_t j = std::max<ptrdiff_t>(0, i - high); j <= m && i - j >= low; ++j) {
            const ptrdiff_t cell = at(i, j);
            if (cell < 0 || cost[static_cast<size_t>(cell)] == kNever) continue;
            const uint32_t here = cost[static_cast<size_t>(cell)];
            if (i < n && j < m) relax(i + 1, j + 1, here + mismatch(objects[static_cast<size_t>(j)], items[static_cast<size_t>(i)].text), paired);
            if (i < n) relax(i + 1, j, here + (showsNothing(items[static_cast<size_t>(i)].text) ? 0 : kLeftOut), itemLeft);
            if (j < m) relax(i, j + 1, here + kLeftOut, objectLeft);
        }
    }
    if (at(n, m) < 0 || cost[static_cast<size_t>(at(n, m))] == kNever) return {};
    std::vector<std::pair<ptrdiff_t, ptrdiff_t>> chosen;  // (item, object)
    std::vector<ptrdiff_t> leftOut;
    for (ptrdiff_t i = n, j = m; i > 0 || j > 0;) {
        switch (move[static_cast<size_t>(at(i, j))]) {
        case paired: chosen.emplace_back(--i, --j); break;
        case itemLeft: leftOut.push_back(--i); break;
        case objectLeft: --j; break;
        default: return {};
        }
    }
    std::reverse(chosen.begin(), chosen.end());
    std::vector<Pairing> pairs;
    for (const auto& [item, object] : chosen) pairs.push_back({page, std::move(objects[static_cast<size_t>(object)]), &items[static_cast<size_t>(item)]});
    for (auto it = leftOut.rbegin(); it != leftOut.rend(); ++it)
        if (!showsNothing(items[static_cast<size_t>(*it)].text)) unmatched.push_back(&items[static_cast<size_t>(*it)]);
    return pairs;
}

}  // namespace


bool rewrite(qpdf_bridge::TextLayer& layer, const DrawnPages& drawn, const QString& text) {
    std::vector<to_unicode::Map> maps;
    for (const std::string& cmap : layer.maps) maps.push_back(to_unicode::parse(cmap));
    const auto fontMap = [&](size_t page, const TextObject& object) -> to_unicode::Map* {
        const auto& fonts = layer.pages[page].fontMaps;
        const auto found = fonts.find(object.font);
        return found == fonts.end() || found->second >= maps.size() ? nullptr : &maps[found->second];
    };
    const auto readObject = [&](size_t page, const TextObject& object) {
        std::u32string text;
        const to_unicode::Map* map = fontMap(page, object);
        for (const uint32_t code : object.codes) {
            if (!map) return std::optional<std::u32string>();
            const auto entry = map->find(code);
            if (entry == map->end()) return std::optional<std::u32string>();
            text += entry->second;
        }
        return std::optional<std::u32string>(text);
    };
    const auto mapOf = [&](const Pairing& pair) { return fontMap(pair.page, pair.object); };
    const auto readBack = [&](const Pairing& pair) { return readObject(pair.page, pair.object); };
    std::vector<Pairing> pairs;
    std::map<size_t, std::vector<const DrawnItem*>> unmatchedByPage;  // items drawn without any object
    for (size_t page = 0; page < layer.pages.size() && page < drawn.size(); ++page) {
        if (readsBackAsDrawn(drawn[page])) continue;
        // 0 when the object reads back as the item; else more the more its glyphs' names and
        // count tell against it.
        const auto mismatch = [&](const TextObject& object, const QString& item) -> uint32_t {
            const std::u32string wanted = withoutSpaces(readableText(item));
            const to_unicode::Map* map = fontMap(page, object);
            std::u32string read;
            bool whole = map != nullptr;
            for (const uint32_t code : object.codes) {
                const auto entry = map ? map->find(code) : to_unicode::Map::const_iterator();
                if (!map || entry == map->end()) whole = false;
                else read += entry->second;
            }
            read = withoutSpaces(read);
            if (whole && read == wanted) return 0;
            uint32_t cost = 1;
            if (object.codes.size() != static_cast<size_t>(item.toUcs4().size())) ++cost;
            if (std::any_of(read.begin(), read.end(), [&](char32_t c) { return wanted.find(c) == std::u32string::npos; })) cost += 2;
            return cost;
        };
        std::vector<const DrawnItem*> unmatched;
        std::vector<Pairing> paired = pairPage(page, layer.pages[page].content, drawn[page], mismatch, unmatched);
        if (!unmatched.empty()) unmatchedByPage[page] = std::move(unmatched);
        pairs.insert(pairs.end(), std::make_move_iterator(paired.begin()), std::make_move_iterator(paired.end()));
    }
    // Glyphs keep Qt's names unless their items say better, mended by normal forms against the
    // text as a whole: ligatures become the letters they join, radicals the ideographs written.
    bool changed = false;
    {
        QString written = text;
        if (written.isEmpty())
            for (const auto& page : drawn)
                for (const DrawnItem& item : page) written += item.text;
        for (size_t i = 0; i < layer.maps.size(); ++i) {
            if (std::optional<std::string> mended = to_unicode::mend(layer.maps[i], written)) {
                layer.maps[i] = std::move(*mended);
                maps[i] = to_unicode::parse(layer.maps[i]);
                changed = true;
            }
        }
    }

    // Glyphs that stand one for one for the characters they were shaped from: what each glyph
    // stood for wherever it was drawn (nothing where that differs between places).
    std::map<std::pair<to_unicode::Map*, uint32_t>, std::optional<char32_t>> learnt;
    for (const Pairing& pair : pairs) {
        to_unicode::Map* map = mapOf(pair);
        const std::u32string characters = pair.item->text.toStdU32String();
        if (!map || characters.size() != pair.object.codes.size() || !mapsOneForOne(characters)) continue;
        for (size_t i = 0; i < characters.size(); ++i) {
            if (characters[i] == U'\t') continue;
            auto [entry, added] = learnt.emplace(std::pair(map, pair.object.codes[i]), characters[i]);
            if (!added && entry->second != characters[i]) entry->second.reset();
        }
    }
    std::vector<bool> mapChanged(maps.size(), false);
    const auto setEntry = [&](to_unicode::Map* map, uint32_t code, const std::u32string& text) {
        std::u32string& entry = (*map)[code];
        if (entry == text) return;
        entry = text;
        mapChanged[static_cast<size_t>(map - maps.data())] = true;
    };
    for (const auto& [key, character] : learnt)
        if (character) setEntry(key.first, key.second, std::u32string(1, *character));
    // Ligatures: an item that reads back as itself once each glyph's character is spelt out.
    for (const Pairing& pair : pairs) {
        to_unicode::Map* map = mapOf(pair);
        const std::optional<std::u32string> text = readBack(pair);
        const std::u32string wanted = withoutSpaces(readableText(pair.item->text));
        if (!map || !text || withoutSpaces(*text) == wanted || withoutSpaces(normalForm(*text)) != wanted) continue;
        for (const uint32_t code : pair.object.codes) {
            const std::u32string& entry = map->at(code);
            if (entry.size() != 1 || QChar::isSpace(entry[0])) continue;
            const std::u32string spelt = normalForm(entry);
            if (spelt.size() > 1 && withoutSpaces(spelt) == spelt) setEntry(map, code, spelt);
        }
    }
    for (size_t i = 0; i < maps.size(); ++i) {
        if (!mapChanged[i]) continue;
        layer.maps[i] = to_unicode::replaceMappings(layer.maps[i], maps[i]);
        changed = true;
    }

    // Items that still do not read back as themselves carry their text in a span. Where the
    // glyphs do stand one for one for the characters, each base character with the marks over or
    // under it gets a span of its own: a reader places a mark's glyph by its position, which lies
    // on its base's, and would otherwise part it from its word or put it before its base.
    std::map<size_t, std::vector<std::pair<size_t, std::string>>> insertions;  // page → (offset, text)
    const auto span = [&](size_t page, size_t begin, size_t end, const std::u32string& text, const char* lead) {
        auto& at = insertions[page];
        at.emplace_back(begin, lead + ("/Span <</ActualText <FEFF" + to_unicode::utf16Hex(text) + ">>> BDC\n"));
        at.emplace_back(end, "\nEMC\n");
    };
    for (const Pairing& pair : pairs) {
        const std::u32string text = readableText(pair.item->text);
        const std::optional<std::u32string> read = readBack(pair);
        if (text.empty()) continue;
        const bool turnedRound = pair.item->rightToLeft && readersTurnRound(text);
        if (!read || withoutSpaces(*read) != withoutSpaces(text) || (pair.item->rightToLeft && hasMarks(text)) ||
            (pair.item->rightToLeft && !turnedRound)) {
            std::u32string shown = text;
            if (turnedRound) std::reverse(shown.begin(), shown.end());
            span(pair.page, pair.object.begin, pair.object.end, shown, "\n");
            continue;
        }
        const std::u32string characters = pair.item->text.toStdU32String();
        if (characters.size() != pair.object.codes.size() || pair.object.glyphs.size() != characters.size()) continue;
        const to_unicode::Map* map = mapOf(pair);
        bool oneForOne = map != nullptr;
        for (size_t i = 0; oneForOne && i < characters.size(); ++i) {
            const auto entry = map->find(pair.object.codes[i]);
            oneForOne = entry != map->end() && (entry->second == std::u32string(1, characters[i]) ||
                                                (entry->second.size() == 1 && QChar::isSpace(entry->second[0]) && QChar::isSpace(characters[i])));
        }
        if (!oneForOne) continue;
        for (size_t i = 0; i < characters.size();) {
            size_t end = i + 1;
            while (end < characters.size() && isMark(characters[end])) ++end;
            if (end - i > 1) span(pair.page, pair.object.glyphs[i].first, pair.object.glyphs[end - 1].second, characters.substr(i, end - i), "");
            i = end;
        }
    }
    // Items drawn without any object (text no font Qt can use draws) still reach the text layer:
    // an invisible glyph of a font the page has, where the item was drawn, carries their text.
    for (const auto& [page, items] : unmatchedByPage) {
        std::string font;
        uint32_t code = 0;
        // A glyph other than the first (.notdef, which readers skip).
        for (const auto& [name, index] : layer.pages[page].fontMaps) {
            if (index >= maps.size()) continue;
            const auto glyph = maps[index].upper_bound(0);
            if (glyph == maps[index].end()) continue;
            font = name;
            code = glyph->first;
            break;
        }
        if (font.empty()) continue;
        std::string objects;
        for (const DrawnItem* item : items) {
            const std::u32string shown = readableText(item->text);
            if (withoutSpaces(shown).empty()) continue;
            // One invisible glyph a character (with its marks), from the left in the order they
            // stand on the page, as Qt draws a run: readers then order them as they order any run.
            std::vector<std::u32string> clusters;
            for (const char32_t c : shown) {
                if (clusters.empty() || !isMark(c)) clusters.emplace_back();
                clusters.back().push_back(c);
            }
            // Readers turn right-to-left text they know round, within a glyph's text too.
            if (item->rightToLeft) std::reverse(clusters.begin(), clusters.end());
            if (item->rightToLeft && readersTurnRound(shown))
                for (std::u32string& cluster : clusters) std::reverse(cluster.begin(), cluster.end());
            const double size = item->size > 0 ? item->size : 12.0;
            objects += fmt::format("BT 3 Tr {} {:.2f} Tf\n", font, size);
            for (size_t i = 0; i < clusters.size(); ++i) {
                if (withoutSpaces(clusters[i]).empty()) continue;
                objects += fmt::format("/Span <</ActualText <FEFF{}>>> BDC 1 0 0 -1 {:.2f} {:.2f} Tm <{:04X}> Tj EMC\n", to_unicode::utf16Hex(clusters[i]),
                                       item->origin.x() + static_cast<double>(i) * size * 0.3, item->origin.y(), code);
            }
            objects += "ET\n";
        }
        if (objects.empty()) continue;
        insertions[page].emplace_back(layer.pages[page].content.size(), "\nq\n" + objects + "Q\n");
    }
    for (auto& [page, at] : insertions) {
        std::stable_sort(at.begin(), at.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        const std::string& content = layer.pages[page].content;
        std::string out;
        out.reserve(content.size() + at.size() * 32);
        size_t from = 0;
        for (const auto& [offset, text] : at) {
            out.append(content, from, offset - from);
            out += text;
            from = offset;
        }
        out.append(content, from, std::string::npos);
        layer.pages[page].content = std::move(out);
        changed = true;
    }
    return changed;
}

void rewriteFile(const std::filesystem::path& pdf, const DrawnPages& drawn, const QString& text) {
    qpdf_bridge::rewriteTextLayer(pdf, [&](qpdf_bridge::TextLayer& layer) { return rewrite(layer, drawn, text); });
}

}  // namespace kolvex::pdf_text_layer
