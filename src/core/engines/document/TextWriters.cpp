// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/TextWriters.h"

#include <algorithm>
#include <cctype>

#include <QBuffer>
#include <QTextImageFormat>

#include "core/engines/document/RichDocument.h"

namespace kolvex::text_writers {

namespace {

constexpr std::string_view kViewport = R"(<meta name="viewport" content="width=device-width, initial-scale=1">)";

}  // namespace

std::string html(const QTextDocument& document, std::string_view title) {
    QString page = document.toHtml();
    // The title, when Qt's page has none: the document's name.
    if (!page.contains(QLatin1String("<title>")) && !title.empty()) {
        const QString tag = QStringLiteral("<title>") + QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())).toHtmlEscaped() +
                            QStringLiteral("</title>");
        const qsizetype head = page.indexOf(QLatin1String("<head>"));
        if (head >= 0) page.insert(head + 6, tag);
    }
    // Pictures travel inside the page, as data: URLs.
    const auto* rich = dynamic_cast<const RichDocument*>(&document);
    static const QLatin1String kPrefix("src=\"kolvex-image:");
    for (qsizetype at = page.indexOf(kPrefix); at >= 0 && rich; at = page.indexOf(kPrefix, at)) {
        const qsizetype nameStart = at + 5;
        const qsizetype nameEnd = page.indexOf(QLatin1Char('"'), nameStart);
        if (nameEnd < 0) break;
        QTextImageFormat format;
        format.setName(page.mid(nameStart, nameEnd - nameStart));
        const RichDocument::EncodedPicture encoded = rich->encodedPicture(format);
        const QString data = QStringLiteral("data:image/") + QString::fromLatin1(encoded.format) + QStringLiteral(";base64,") +
                             QString::fromLatin1(encoded.bytes.toBase64());
        page.replace(nameStart, nameEnd - nameStart, data);
        at = nameStart + data.size();
    }
    return page.toStdString();
}

std::string insertViewport(std::string page, bool ignoreCase) {
    if (page.find(R"(name="viewport")") != std::string::npos) return page;
    size_t at = std::string::npos;
    if (ignoreCase) {
        std::string lower = page;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        at = lower.find("<head>");
    } else {
        at = page.find("<head>");
    }
    if (at == std::string::npos) return page;
    page.replace(at, 6, "<head>\n" + std::string(kViewport));
    return page;
}

}  // namespace kolvex::text_writers
