// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/RichDocument.h"

#include <algorithm>

#include <fmt/format.h>

#include <QBuffer>
#include <QFont>
#include <QImageReader>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/TextSystem.h"

namespace kolvex {

namespace {

// The point size a format asks for, with the relative steps Qt uses for <small>, <big> and headings.
double pointSizeOf(const QTextCharFormat& format) {
    double size = format.hasProperty(QTextFormat::FontPointSize) ? format.fontPointSize() : 12.0;
    if (size <= 0) size = 12.0;
    if (format.hasProperty(QTextFormat::FontSizeAdjustment)) {
        static const double kScale[] = {0.7, 0.8, 1.0, 1.2, 1.5, 2.0, 2.4};
        const int step = std::clamp(format.intProperty(QTextFormat::FontSizeAdjustment), -2, 4);
        size *= kScale[step + 2];
    }
    return size;
}

bool isGenericFamily(const QString& family) {
    static const char* const kGeneric[] = {"sans-serif", "serif", "monospace", "sans", "cursive", "fantasy", "system-ui"};
    return std::any_of(std::begin(kGeneric), std::end(kGeneric),
                       [&](const char* generic) { return family.compare(QLatin1String(generic), Qt::CaseInsensitive) == 0; });
}

bool looksMonospaced(const QTextCharFormat& format) {
    if (format.fontFixedPitch()) return true;
    static const char* const kMarks[] = {"monospace", "Courier", "Mono", "Menlo", "Monaco", "Consolas", "Code", "Fixed"};
    for (const QString& family : format.fontFamilies().toStringList())
        for (const char* mark : kMarks)
            if (family.contains(QLatin1String(mark), Qt::CaseInsensitive)) return true;
    return false;
}

QString toRoman(int n, bool upper) {
    static const std::pair<int, const char*> kNumerals[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"},
                                                            {50, "l"},   {40, "xl"},  {10, "x"},  {9, "ix"},   {5, "v"},   {4, "iv"}, {1, "i"}};
    if (n <= 0 || n >= 5000) return QString::number(n);
    QString out;
    for (const auto& [value, text] : kNumerals)
        while (n >= value) {
            out += QLatin1String(text);
            n -= value;
        }
    return upper ? out.toUpper() : out;
}

QString toLetters(int n, bool upper) {
    QString out;
    while (n > 0) {
        --n;
        out.prepend(QChar((upper ? 'A' : 'a') + n % 26));
        n /= 26;
    }
    return out;
}

}  // namespace

RichDocument::RichDocument() {
    requireTextSystem();
    setUndoRedoEnabled(false);
    QFont base(QStringLiteral("sans-serif"));
    base.setStyleHint(QFont::SansSerif);
    base.setPointSizeF(12);
    // Every script is shaped, Latin too (kerning, ligatures): the PDF's text layer reads each
    // ligature back as the letters it joins (see pdf_text_layer).
    setDefaultFont(base);
}

QString RichDocument::addImage(const QImage& image) {
    const QString name = QStringLiteral("kolvex-image:%1").arg(++m_images);
    addResource(ImageResource, QUrl(name), image);
    return name;
}

std::optional<QImage> RichDocument::decode(const QByteArray& bytes, QByteArray& format) {
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly)) return std::nullopt;
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || static_cast<qint64>(size.width()) * size.height() > kMaxImagePixels) return std::nullopt;
    const QSize kept = size.width() > kMaxImageSide || size.height() > kMaxImageSide ? size.scaled(kMaxImageSide, kMaxImageSide, Qt::KeepAspectRatio) : size;
    if (m_pixels + static_cast<qint64>(kept.width()) * kept.height() > kMaxDocumentPixels) return std::nullopt;
    format = reader.format();
    if (kept != size) reader.setScaledSize(kept);
    QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    m_pixels += static_cast<qint64>(image.width()) * image.height();
    return image;
}

std::optional<RichDocument::Picture> RichDocument::addPicture(const QByteArray& bytes) {
    QByteArray format;
    const std::optional<QImage> image = decode(bytes, format);
    if (!image) return std::nullopt;
    QSize pixels;
    {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        pixels = QImageReader(&buffer).size();
    }
    const QString name = addImage(*image);
    if (format == "png" || format == "jpeg" || format == "jpg") m_originals[QUrl(name).toString()] = EncodedPicture{bytes, format == "png" ? "png" : "jpeg"};
    return Picture{name, pixels};
}

QImage RichDocument::image(const QTextImageFormat& format) const {
    const QVariant data = const_cast<RichDocument*>(this)->resource(ImageResource, QUrl(format.name()));
    if (data.userType() == QMetaType::QImage) return data.value<QImage>();
    return {};
}

RichDocument::EncodedPicture RichDocument::encodedPicture(const QTextImageFormat& format) const {
    auto original = m_originals.find(QUrl(format.name()).toString());
    if (original != m_originals.end()) return original->second;
    return EncodedPicture{pngBytes(image(format)), "png"};
}

QVariant RichDocument::loadResource(int type, const QUrl& name) {
    // Only pictures carried inside the document itself: data: URLs. Nothing is ever opened.
    if (type != ImageResource || name.scheme() != QLatin1String("data")) return {};
    const QByteArray url = name.toEncoded();
    const qsizetype comma = url.indexOf(',');
    if (comma < 0) return {};
    const QByteArray header = url.left(comma);
    const QByteArray payload = url.mid(comma + 1);
    const QByteArray bytes = header.endsWith(";base64") ? QByteArray::fromBase64(QByteArray::fromPercentEncoding(payload))
                                                        : QByteArray::fromPercentEncoding(payload);
    QByteArray format;
    const std::optional<QImage> image = decode(bytes, format);
    if (!image) return {};
    addResource(ImageResource, name, *image);
    if (format == "png" || format == "jpeg" || format == "jpg") m_originals[name.toString()] = EncodedPicture{bytes, format == "png" ? "png" : "jpeg"};
    return *image;
}

int RichDocument::pictureCount() const {
    int count = 0;
    for (QTextBlock block = begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.isValid() && fragment.charFormat().isImageFormat()) count += fragment.length();
        }
    return count;
}

void RichDocument::dropMissingImages() {
    int dropped = 0;
    // Collected first: removing text while iterating fragments would invalidate the iterators.
    std::vector<int> positions;
    for (QTextBlock block = begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid() || !fragment.charFormat().isImageFormat()) continue;
            if (!image(fragment.charFormat().toImageFormat()).isNull()) continue;
            for (int k = 0; k < fragment.length(); ++k) positions.push_back(fragment.position() + k);
        }
    QTextCursor cursor(this);
    for (auto it = positions.rbegin(); it != positions.rend(); ++it) {
        cursor.setPosition(*it);
        cursor.setPosition(*it + 1, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        ++dropped;
    }
    if (dropped == 1) addNote("A picture could not be read and was left out.");
    else if (dropped > 1) addNote(fmt::format("{} pictures could not be read and were left out.", dropped));
}

QTextCharFormat charFormatOf(const TextAttributes& attributes) {
    const TextFont font = attributes.font.value_or(TextFont::system());
    QTextCharFormat format;
    if (font.isMonospaced()) {
        format.setFontFamilies(QStringList{QStringLiteral("monospace")});
        format.setFontStyleHint(QFont::TypeWriter);
        format.setFontFixedPitch(true);
    } else if (!font.family.empty()) {
        format.setFontFamilies(QStringList{QString::fromStdString(font.family), QStringLiteral("sans-serif")});
    }
    format.setFontPointSize(std::clamp(font.pointSize, 1.0, 1638.0));
    format.setFontWeight(font.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(font.italic);
    if (attributes.underline) format.setFontUnderline(true);
    if (attributes.strike) format.setFontStrikeOut(true);
    if (attributes.colour) format.setForeground(QColor(static_cast<QRgb>(*attributes.colour)));
    if (attributes.link) {
        format.setAnchor(true);
        format.setAnchorHref(QString::fromStdString(*attributes.link));
    }
    return format;
}

std::string RichDocument::tooManyParagraphs() {
    return fmt::format("a document of more than {} paragraphs", kMaxParagraphs);
}

void insertStyled(QTextCursor& cursor, const StyledText& text) {
    // Neighbouring runs that look the same go in as one insertion.
    QString pending;
    QTextCharFormat pendingFormat;
    auto flush = [&] {
        if (pending.isEmpty()) return;
        // Paragraphs end at line feeds (a carriage return and line feed, or a lone carriage
        // return, count as one); each new paragraph starts with a plain block format, so a page
        // break never spreads to the paragraphs after it.
        qsizetype start = 0;
        for (qsizetype i = 0; i <= pending.size(); ++i) {
            const QChar c = i < pending.size() ? pending[i] : QChar();
            if (i < pending.size() && c != QLatin1Char('\n') && c != QLatin1Char('\r') && c != QChar(0x0C)) continue;
            if (i > start) cursor.insertText(pending.mid(start, i - start), pendingFormat);
            start = i + 1;
            if (i == pending.size()) break;
            if (c == QLatin1Char('\r') && i + 1 < pending.size() && pending[i + 1] == QLatin1Char('\n')) {
                ++i;
                start = i + 1;
            }
            if (c == QChar(0x0C)) {
                // A form feed: what follows starts on a new page (a paragraph of its own only when
                // the feed comes in the middle of one).
                QTextBlockFormat block;
                block.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                if (cursor.block().length() > 1) cursor.insertBlock(block, pendingFormat);
                else cursor.setBlockFormat(block);
            } else {
                cursor.insertBlock(QTextBlockFormat(), pendingFormat);
            }
        }
        pending.clear();
    };
    for (const TextRun& run : text.runs()) {
        const QTextCharFormat format = charFormatOf(run.attributes);
        if (format != pendingFormat) flush();
        pendingFormat = format;
        pending += QString::fromUtf8(run.text.data(), static_cast<qsizetype>(run.text.size()));
    }
    flush();
}

std::unique_ptr<RichDocument> richDocument(const StyledText& text) {
    size_t breaks = 0;
    for (const TextRun& run : text.runs()) breaks += static_cast<size_t>(std::count_if(run.text.begin(), run.text.end(), [](char c) {
        return c == '\n' || c == '\r' || c == '\f';
    }));
    if (breaks >= RichDocument::kMaxParagraphs) throw DocumentLimitError(RichDocument::tooManyParagraphs());
    auto document = std::make_unique<RichDocument>();
    QTextCursor cursor(document.get());
    cursor.beginEditBlock();
    insertStyled(cursor, text);
    cursor.endEditBlock();
    return document;
}

CharStyle CharStyle::of(const QTextCharFormat& format) {
    CharStyle style;
    style.bold = format.fontWeight() > QFont::Medium;
    style.italic = format.fontItalic();
    style.underline = format.fontUnderline() && !format.isAnchor();
    style.strike = format.fontStrikeOut();
    style.monospaced = looksMonospaced(format);
    style.pointSize = pointSizeOf(format);
    for (const QString& family : format.fontFamilies().toStringList())
        if (!family.isEmpty() && !isGenericFamily(family)) {
            style.family = family;
            break;
        }
    if (format.hasProperty(QTextFormat::ForegroundBrush) && format.foreground().style() != Qt::NoBrush && !format.isAnchor())
        style.colour = format.foreground().color();
    if (format.isAnchor() && !format.anchorHref().isEmpty()) style.link = format.anchorHref();
    return style;
}

void forEachItem(QTextFrame::iterator it, QTextFrame::iterator end, const std::function<void(const QTextBlock&)>& onBlock,
                 const std::function<void(QTextTable&)>& onTable) {
    for (; it != end; ++it) {
        if (QTextFrame* frame = it.currentFrame()) {
            if (auto* table = qobject_cast<QTextTable*>(frame)) onTable(*table);
            else forEachItem(frame->begin(), frame->end(), onBlock, onTable);
        } else if (it.currentBlock().isValid()) {
            onBlock(it.currentBlock());
        }
    }
}

QString listMarker(const QTextBlock& block) {
    const QTextList* list = block.textList();
    if (!list) return {};
    const int number = list->itemNumber(block) + 1;
    switch (list->format().style()) {
    case QTextListFormat::ListDecimal: return QString::number(number) + QLatin1Char('.');
    case QTextListFormat::ListLowerAlpha: return toLetters(number, false) + QLatin1Char('.');
    case QTextListFormat::ListUpperAlpha: return toLetters(number, true) + QLatin1Char('.');
    case QTextListFormat::ListLowerRoman: return toRoman(number, false) + QLatin1Char('.');
    case QTextListFormat::ListUpperRoman: return toRoman(number, true) + QLatin1Char('.');
    default: return QStringLiteral("\u2022");
    }
}

QByteArray pngBytes(const QImage& image) {
    QByteArray bytes;
    if (image.isNull()) return bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QString fragmentText(const QString& text) {
    QString out = text;
    out.replace(QChar::LineSeparator, QLatin1Char('\n'));
    out.remove(QChar::ObjectReplacementCharacter);
    return out;
}

}  // namespace kolvex
