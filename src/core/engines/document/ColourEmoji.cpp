// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/ColourEmoji.h"

#include <vector>

#include <unicode/uchar.h>

#include <QFont>
#include <QFontDatabase>
#include <QList>
#include <QRawFont>
#include <QString>
#include <QStringList>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace kolvex {

namespace {

// The installed colour emoji family ("" when there is none).
QString colourEmojiFamily() {
    static const QString family = [] {
        const QStringList families = QFontDatabase::families();
        for (const QString& candidate : {QStringLiteral("Noto Color Emoji"), QStringLiteral("Twemoji"), QStringLiteral("JoyPixels")})
            if (families.contains(candidate)) return candidate;
        for (const QString& candidate : families)
            if (candidate.contains(QStringLiteral("Color Emoji"), Qt::CaseInsensitive)) return candidate;
        return QString();
    }();
    return family;
}

// Whether a grapheme cluster shows as an emoji.
bool showsAsEmoji(const QList<uint>& cluster) {
    if (cluster.isEmpty() || cluster.contains(0xFE0E)) return false;  // text presentation asked for
    if (u_hasBinaryProperty(static_cast<UChar32>(cluster.front()), UCHAR_EMOJI_PRESENTATION)) return true;
    if (cluster.size() == 1) return false;
    for (const uint c : cluster) {
        if (c == 0xFE0F || c == 0x20E3 || (c >= 0x1F3FB && c <= 0x1F3FF) || (c >= 0x1F1E6 && c <= 0x1F1FF) || (c >= 0xE0020 && c <= 0xE007F))
            return true;
        if (c == 0x200D && u_hasBinaryProperty(static_cast<UChar32>(cluster.front()), UCHAR_EXTENDED_PICTOGRAPHIC)) return true;
    }
    return false;
}

bool mayHoldEmoji(const QString& text) {
    for (const QChar c : text)
        if (c.isSurrogate() || c.unicode() >= 0x2000) return true;
    return false;
}

}  // namespace

QString ColourEmojiLayout::writtenText(const QString& drawn, const QStringList& families) const {
    if ((written.isEmpty() && beginnings.isEmpty()) || families.value(0) != family) return drawn;
    QString text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, drawn);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end > 0; start = end, end = finder.toNextBoundary()) {
        const QString cluster = drawn.mid(start, end - start);
        const auto whole = written.constFind(cluster);
        const QString original = whole != written.constEnd() ? *whole : beginnings.value(cluster);
        text += original.isEmpty() ? cluster : original;
    }
    return text;
}

ColourEmojiLayout preferColourEmojiFont(QTextDocument& document) {
    ColourEmojiLayout layout;
    layout.family = colourEmojiFamily();
    if (layout.family.isEmpty()) return layout;
    const QString& family = layout.family;
    const bool mapsSelector = QRawFont::fromFont(QFont(family)).supportsCharacter(0xFE0F);
    struct Emoji {
        int begin;
        int end;
        QString text;
    };
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        if (!mayHoldEmoji(text)) continue;
        std::vector<Emoji> emoji;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
        qsizetype start = 0;
        for (qsizetype end = finder.toNextBoundary(); end > 0; start = end, end = finder.toNextBoundary()) {
            const QString cluster = text.mid(start, end - start);
            if (showsAsEmoji(cluster.toUcs4()))
                emoji.push_back({block.position() + static_cast<int>(start), block.position() + static_cast<int>(end), cluster});
        }
        // From the last to the first: taking a selector out moves what follows it.
        for (auto it = emoji.rbegin(); it != emoji.rend(); ++it) {
            QTextCursor cursor(&document);
            cursor.setPosition(it->begin);
            cursor.setPosition(it->end, QTextCursor::KeepAnchor);
            // Each run of the range keeps its own families after the emoji font.
            QTextCharFormat format = cursor.charFormat();
            QStringList families = format.fontFamilies().toStringList();
            if (families.isEmpty()) families << document.defaultFont().families();
            families.removeAll(family);
            families.prepend(family);
            QTextCharFormat colour;
            colour.setFontFamilies(families);
            // Shaped, even where the document lays its text out glyph by glyph: the font's
            // substitutions are what join a sequence into one glyph.
            colour.setFontStyleStrategy(QFont::PreferDefault);
            cursor.mergeCharFormat(colour);
            if (mapsSelector) continue;
            QString laidOut = it->text;
            laidOut.remove(QChar(0xFE0F));
            if (laidOut.isEmpty()) continue;
            if (laidOut.size() != it->text.size()) {
                for (int at = it->end - 1; at >= it->begin; --at) {
                    if (document.characterAt(at) != QChar(0xFE0F)) continue;
                    // That one code unit: deleting "the next character" would take the rest of
                    // the sequence with it.
                    QTextCursor selector(&document);
                    selector.setPosition(at);
                    selector.setPosition(at + 1, QTextCursor::KeepAnchor);
                    selector.removeSelectedText();
                }
            }
            // Every emoji, changed or not, so that one written as it is laid out is read back as
            // itself and not as a longer one it begins.
            const auto known = layout.written.constFind(laidOut);
            if (known == layout.written.constEnd()) layout.written.insert(laidOut, it->text);
            else if (*known != it->text) layout.written[laidOut] = QString();
            const QList<uint> characters = laidOut.toUcs4();
            for (qsizetype length = characters.size() - 1; length > 0; --length) {
                const QString key = QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData()), length);
                const auto begun = layout.beginnings.constFind(key);
                if (begun == layout.beginnings.constEnd()) layout.beginnings.insert(key, it->text);
                else if (*begun != it->text) layout.beginnings[key] = QString();
            }
        }
    }
    return layout;
}

}  // namespace kolvex
