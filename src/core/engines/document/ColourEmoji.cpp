#include "core/engines/document/ColourEmoji.h"

#include <QFont>
#include <QFontDatabase>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <unicode/uchar.h>

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

void preferColourEmojiFont(QTextDocument& document) {
    const QString family = colourEmojiFamily();
    if (family.isEmpty()) return;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        if (!mayHoldEmoji(text)) continue;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
        qsizetype start = 0;
        for (qsizetype end = finder.toNextBoundary(); end > 0; start = end, end = finder.toNextBoundary()) {
            if (!showsAsEmoji(text.mid(start, end - start).toUcs4())) continue;
            QTextCursor cursor(&document);
            cursor.setPosition(block.position() + static_cast<int>(start));
            cursor.setPosition(block.position() + static_cast<int>(end), QTextCursor::KeepAnchor);
            // Each run of the range keeps its own families after the emoji font.
            QTextCharFormat format = cursor.charFormat();
            QStringList families = format.fontFamilies().toStringList();
            if (families.isEmpty()) families << document.defaultFont().families();
            families.removeAll(family);
            families.prepend(family);
            QTextCharFormat emoji;
            emoji.setFontFamilies(families);
            // Shaped, even where the document lays its text out glyph by glyph: the font's
            // substitutions are what join a sequence into one glyph.
            emoji.setFontStyleStrategy(QFont::PreferDefault);
            cursor.mergeCharFormat(emoji);
        }
    }
}

}  // namespace kolvex
