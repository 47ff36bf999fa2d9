#include "core/engines/document/PdfLayoutWriter.h"

#include <algorithm>

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include "core/services/StagedOutput.h"
#include "core/engines/document/TextSystem.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"

namespace kolvex {

namespace {

QString layoutText(const std::string& text) {
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    // Qt's cursor treats a lone carriage return as a paragraph end too; keep "\r\n" one break.
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return s;
}

QTextCharFormat formatOf(const TextAttributes& attributes) {
    const TextFont font = attributes.font.value_or(TextFont::system());
    QTextCharFormat format;
    if (font.isMonospaced()) {
        format.setFontFamilies(QStringList{QStringLiteral("monospace")});
        format.setFontStyleHint(QFont::TypeWriter);
        format.setFontFixedPitch(true);
    } else {
        format.setFontFamilies(QStringList{QStringLiteral("sans-serif")});
        format.setFontStyleHint(QFont::SansSerif);
    }
    format.setFontPointSize(std::clamp(font.pointSize, 1.0, 1638.0));
    // Qt's PDF output maps a ligature glyph to the ligature character (U+FB01 for "fi"), so text
    // copied or extracted from the page would not match what was written: lay Latin text out
    // glyph by glyph.
    format.setFontStyleStrategy(QFont::PreferNoShaping);
    format.setFontWeight(font.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(font.italic);
    if (attributes.link) {
        format.setAnchor(true);
        format.setAnchorHref(QString::fromStdString(*attributes.link));
    }
    return format;
}

}  // namespace

void PdfLayoutWriter::write(const StyledText& text, const std::filesystem::path& destination, std::stop_token stop) {
    requireTextSystem();
    StagedOutput output(destination);  // declared first: removed last, after the writer has closed it

    QPdfWriter writer(QString::fromStdString(output.path().string()));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Point));
    writer.setResolution(72);  // one device unit per point
    writer.setCreator(QStringLiteral("Kolvex"));

    const double frameWidth = kPageWidth - 2 * kMargin;
    const double frameHeight = kPageHeight - 2 * kMargin;
    QTextDocument document;
    document.setUndoRedoEnabled(false);
    document.setDocumentMargin(0);
    document.setUseDesignMetrics(true);
    QFont base(QStringLiteral("sans-serif"));
    base.setStyleHint(QFont::SansSerif);
    base.setPointSizeF(12);
    document.setDefaultFont(base);
    document.documentLayout()->setPaintDevice(&writer);
    document.setPageSize(QSizeF(frameWidth, frameHeight));
    {
        // One edit block: the whole text is one change, laid out at once. (A page size set on a
        // filled document would start Qt's incremental layout, whose timer a worker thread cannot
        // run.) Neighbouring runs that look the same are inserted as one.
        QTextCursor cursor(&document);
        cursor.beginEditBlock();
        QString pending;
        QTextCharFormat pendingFormat;
        for (const TextRun& run : text.runs()) {
            const QTextCharFormat format = formatOf(run.attributes);
            if (!pending.isEmpty() && format != pendingFormat) {
                cursor.insertText(pending, pendingFormat);
                pending.clear();
            }
            pendingFormat = format;
            pending += layoutText(run.text);
        }
        if (!pending.isEmpty()) cursor.insertText(pending, pendingFormat);
        cursor.endEditBlock();
    }

    QPainter painter;
    if (!painter.begin(&writer)) throw ConversionError::insufficientPermissions(destination);
    const int pages = std::clamp(document.pageCount(), 1, kMaxPages);
    for (int page = 0; page < pages; ++page) {
        if (stop.stop_requested()) {
            painter.end();
            throw OperationCancelled();
        }
        if (page > 0) writer.newPage();
        painter.fillRect(QRectF(0, 0, kPageWidth, kPageHeight), Qt::white);
        painter.save();
        const QRectF frame(0, page * frameHeight, frameWidth, frameHeight);
        painter.translate(kMargin, kMargin - frame.top());
        painter.setClipRect(frame);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = frame;
        context.palette.setColor(QPalette::Text, Qt::black);
        document.documentLayout()->draw(&painter, context);
        painter.restore();
    }
    if (!painter.end()) throw ConversionError::insufficientPermissions(destination);
    output.commit();
}

}  // namespace kolvex
