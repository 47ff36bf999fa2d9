#include "core/engines/document/HtmlReader.h"

#include <algorithm>

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextList>
#include <QTextListFormat>
#include <QUrl>
#include <QVariant>

#include "core/format/ConversionError.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

namespace {

// Qt would otherwise load <img> and <link> targets itself, synchronously, from the file system.
class SealedTextDocument : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

bool isMonospacedFormat(const QTextCharFormat& format) {
    if (format.fontFixedPitch()) return true;
    static const char* const kMarks[] = {"monospace", "Courier", "Mono", "Menlo", "Monaco", "Consolas", "Code", "Fixed"};
    for (const QString& family : format.fontFamilies().toStringList())
        for (const char* mark : kMarks)
            if (family.contains(QLatin1String(mark), Qt::CaseInsensitive)) return true;
    return false;
}

double pointSize(const QTextCharFormat& format) {
    double size = format.hasProperty(QTextFormat::FontPointSize) ? format.fontPointSize() : 12.0;
    if (size <= 0) size = 12.0;
    if (format.hasProperty(QTextFormat::FontSizeAdjustment)) {
        // The same steps Qt uses for <small>, <big> and headings.
        static const double kScale[] = {0.7, 0.8, 1.0, 1.2, 1.5, 2.0, 2.4};
        const int step = std::clamp(format.intProperty(QTextFormat::FontSizeAdjustment), -2, 4);
        size *= kScale[step + 2];
    }
    return size;
}

TextAttributes attributesOf(const QTextCharFormat& format) {
    TextFont font = TextFont::system(pointSize(format));
    if (isMonospacedFormat(format)) font.design = TextFont::Design::monospaced;
    font.bold = format.fontWeight() > QFont::Medium;
    font.italic = format.fontItalic();
    TextAttributes attributes;
    attributes.font = font;
    if (format.isAnchor() && !format.anchorHref().isEmpty()) attributes.link = format.anchorHref().toStdString();
    return attributes;
}

}  // namespace

void requireTextSystem() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        throw ConversionError::backendFailure(engine_ids::document.rawValue, -1, "text layout needs a running application");
}

StyledText HtmlReader::read(std::string_view html) {
    requireTextSystem();
    SealedTextDocument document;
    document.setResourceProvider([](const QUrl&) { return QVariant(); });
    document.setHtml(QString::fromUtf8(html.data(), static_cast<qsizetype>(html.size())));

    StyledText out;
    bool first = true;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const TextAttributes blockAttributes = attributesOf(block.charFormat());
        if (!first) out.append("\n", blockAttributes);
        first = false;
        if (QTextList* list = block.textList()) {
            const QTextListFormat::Style style = list->format().style();
            const bool bullet = style == QTextListFormat::ListDisc || style == QTextListFormat::ListCircle ||
                                style == QTextListFormat::ListSquare;
            QString marker = bullet ? QStringLiteral("\u2022") : list->itemText(block);
            out.append((marker + QLatin1Char('\t')).toStdString(), blockAttributes);
        }
        const int fragmentsEnd = block.position() + block.length() - 1;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid()) continue;
            QString text = fragment.text();
            // Qt marks line breaks inside a block and images with private characters.
            // A <br> that ends a block shows no line of its own.
            if (fragment.position() + fragment.length() == fragmentsEnd && text.endsWith(QChar::LineSeparator)) text.chop(1);
            text.replace(QChar::LineSeparator, QLatin1Char('\n'));
            text.remove(QChar::ObjectReplacementCharacter);
            out.append(text.toStdString(), attributesOf(fragment.charFormat()));
        }
    }
    // Qt keeps the white space between the last paragraph and the page's end as text of that paragraph.
    out.trimTrailingWhitespace();
    return out;
}

}  // namespace kolvex
