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
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>

#include <fmt/format.h>

#include "core/engines/document/OutputFile.h"
#include "core/engines/document/TextSystem.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"

namespace kolvex {

namespace {

// Whether every page can be drawn line by line: the document is paragraphs only, without lists,
// tables, rules or paragraph backgrounds (which only Qt's own drawing knows how to paint).
bool isPlainFlow(QTextDocument& document) {
    for (QTextFrame::iterator it = document.rootFrame()->begin(); !it.atEnd(); ++it) {
        if (it.currentFrame()) return false;
        const QTextBlock block = it.currentBlock();
        const QTextBlockFormat format = block.blockFormat();
        if (block.textList() || format.hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth) ||
            format.background().style() != Qt::NoBrush)
            return false;
    }
    return true;
}

// Draws the lines whose tops fall on one page. Qt's own drawing walks every paragraph before the
// page, and every line of a paragraph on it, so a long document costs pages × its length; here
// `first` moves forward page by page and the lines of a long paragraph are found by bisection,
// which keeps the whole document linear.
void drawLines(QPainter& painter, QTextBlock& first, double top, double bottom) {
    auto lineTop = [](const QTextLayout* layout, int i) { return layout->position().y() + layout->lineAt(i).y(); };
    for (; first.isValid(); first = first.next()) {
        const QTextLayout* layout = first.layout();
        if (layout->lineCount() > 0 && lineTop(layout, layout->lineCount() - 1) >= top) break;
    }
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        const int lines = layout->lineCount();
        if (lines == 0) continue;
        if (lineTop(layout, 0) >= bottom) break;
        int from = 0;
        int to = lines;
        while (from < to) {
            const int middle = (from + to) / 2;
            if (lineTop(layout, middle) < top) from = middle + 1;
            else to = middle;
        }
        for (int i = from; i < lines && lineTop(layout, i) < bottom; ++i) layout->lineAt(i).draw(&painter, layout->position());
    }
}

}  // namespace

std::string PdfLayoutWriter::tooLongLabel() {
    return fmt::format("a document longer than {} pages", kMaxPages);
}

void PdfLayoutWriter::write(QTextDocument& document, const std::filesystem::path& destination, std::stop_token stop) {
    requireTextSystem();
    OutputFile output(destination);  // declared first: removed last, after the writer has closed it

    QPdfWriter writer(QString::fromStdString(output.temporaryPath().string()));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Point));
    writer.setResolution(72);  // one device unit per point
    writer.setCreator(QStringLiteral("Kolvex"));

    const double frameWidth = kPageWidth - 2 * kMargin;
    const double frameHeight = kPageHeight - 2 * kMargin;
    document.setDocumentMargin(0);
    document.setUseDesignMetrics(true);
    document.documentLayout()->setPaintDevice(&writer);
    document.setPageSize(QSizeF(frameWidth, frameHeight));
    // Laid out whole before anything is drawn: nothing is cut, however long the document.
    const int pageCount = std::max(1, document.pageCount());
    if (pageCount > kMaxPages) throw ConversionError::unsupportedCombination(tooLongLabel(), "PDF");

    const bool plainFlow = isPlainFlow(document);
    QTextBlock firstOnPage = document.begin();
    QPainter painter;
    if (!painter.begin(&writer)) throw ConversionError::insufficientPermissions(destination);
    for (int page = 0; page < pageCount; ++page) {
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
        if (plainFlow) {
            painter.setPen(Qt::black);
            drawLines(painter, firstOnPage, frame.top(), frame.bottom());
        } else {
            QAbstractTextDocumentLayout::PaintContext context;
            context.clip = frame;
            context.palette.setColor(QPalette::Text, Qt::black);
            document.documentLayout()->draw(&painter, context);
        }
        painter.restore();
    }
    if (!painter.end()) throw ConversionError::insufficientPermissions(destination);
    output.commit();
}

}  // namespace kolvex
