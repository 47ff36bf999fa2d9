#include "core/engines/document/HtmlReader.h"

#include <algorithm>
#include <cctype>
#include <string>

#include <QFont>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextList>
#include <QTextListFormat>
#include <QUrl>
#include <QVariant>

#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/TextSystem.h"

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

// Elements without content, and elements whose end tag may be left out (the next one closes them).
bool nestsWithoutLimit(std::string_view name) {
    static const std::string_view kNames[] = {
        "area", "base", "br", "col", "colgroup", "dd", "dt", "embed", "hr", "img", "input", "li", "link", "meta",
        "optgroup", "option", "p", "param", "rp", "rt", "source", "tbody", "td", "tfoot", "th", "thead", "tr", "track", "wbr",
    };
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

}  // namespace

size_t HtmlReader::nestingDepth(std::string_view html, size_t limit) {
    size_t depth = 0;
    size_t deepest = 0;
    size_t i = 0;
    const size_t n = html.size();
    auto lowerName = [&](size_t from, std::string& name) {
        name.clear();
        while (from < n && name.size() < 16 && (std::isalnum(static_cast<unsigned char>(html[from])) || html[from] == '-')) {
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[from])));
            ++from;
        }
        return from;
    };
    std::string name;
    while (i < n && deepest <= limit) {
        const size_t open = html.find('<', i);
        if (open == std::string_view::npos) break;
        if (html.compare(open, 4, "<!--") == 0) {
            const size_t end = html.find("-->", open + 4);
            if (end == std::string_view::npos) break;
            i = end + 3;
            continue;
        }
        const bool closing = open + 1 < n && html[open + 1] == '/';
        size_t p = lowerName(open + (closing ? 2 : 1), name);
        // The tag's end, past quoted attribute values.
        char quote = 0;
        while (p < n && (quote || html[p] != '>')) {
            if (quote && html[p] == quote) quote = 0;
            else if (!quote && (html[p] == '"' || html[p] == '\'')) quote = html[p];
            ++p;
        }
        const bool selfClosing = p > 0 && p < n && html[p - 1] == '/';
        i = p + 1;
        if (name.empty() || nestsWithoutLimit(name)) continue;
        if (closing) {
            if (depth > 0) --depth;
            continue;
        }
        if (selfClosing) continue;
        if (name == "script" || name == "style" || name == "textarea" || name == "title") {
            // Raw text up to the matching end tag.
            size_t end = i;
            for (;;) {
                end = html.find("</", end);
                if (end == std::string_view::npos) break;
                std::string candidate;
                lowerName(end + 2, candidate);
                if (candidate == name) break;
                end += 2;
            }
            i = end == std::string_view::npos ? n : end;
            continue;
        }
        deepest = std::max(deepest, ++depth);
    }
    return deepest;
}

StyledText HtmlReader::read(std::string_view html) {
    requireTextSystem();
    if (html.size() > kMaxBytes) throw DocumentFormatError("the page is too large");
    if (nestingDepth(html, kMaxNesting) > kMaxNesting) throw DocumentFormatError("the page's elements nest too deeply");
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
