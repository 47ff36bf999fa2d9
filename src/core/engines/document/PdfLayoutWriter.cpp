// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/PdfLayoutWriter.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <future>
#include <map>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <QAbstractTextDocumentLayout>
#include <QGlyphRun>
#include <QImage>
#include <QRawFont>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QFile>
#include <QPdfWriter>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QThread>

#include <fmt/format.h>

#include "core/engines/document/TextSystem.h"
#include "core/engines/document/ColourEmoji.h"
#include "core/engines/document/DrawnText.h"
#include "core/engines/document/LongWords.h"
#include "core/engines/document/PdfTextLayer.h"
#include "core/engines/document/RichDocument.h"
#include "core/engines/document/ScriptFonts.h"
#include "core/engines/document/WordFonts.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"
#include "core/services/ErrorMapper.h"
#include "core/services/QtFilePaths.h"
#include "core/services/StagedOutput.h"

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

// Characters that colour fonts (emoji) may draw: beyond the Basic Multilingual Plane, and the
// symbol blocks that emoji share with text.
bool mayBeColourGlyph(char32_t c) {
    return c >= 0x10000 || (c >= 0x2190 && c <= 0x2BFF) || c == 0x00A9 || c == 0x00AE || (c >= 0x3030 && c <= 0x303D) ||
           c == 0x3297 || c == 0x3299;
}

bool mayHoldColourGlyphs(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSurrogate() || mayBeColourGlyph(c.unicode()); });
}

// Glyphs of colour fonts are bitmaps without outlines, which Qt's PDF output cannot show (the
// page would have a blank where an emoji was): such glyphs are painted as pictures over the page,
// at four times the page's resolution.
class ColourGlyphs {
public:
    explicit ColourGlyphs(QTextDocument& document) : m_layout(document.documentLayout()) {
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            if (!mayHoldColourGlyphs(block.text())) continue;
            const QRectF rect = m_layout->blockBoundingRect(block);
            m_blocks.push_back({block, rect});
            m_tallest = std::max(m_tallest, rect.height());
        }
        std::sort(m_blocks.begin(), m_blocks.end(), [](const Candidate& a, const Candidate& b) { return a.rect.top() < b.rect.top(); });
    }

    void draw(QPainter& painter, double top, double bottom) const {
        auto first = std::lower_bound(m_blocks.begin(), m_blocks.end(), top - m_tallest,
                                      [](const Candidate& c, double y) { return c.rect.top() < y; });
        for (auto it = first; it != m_blocks.end() && it->rect.top() < bottom; ++it) {
            const QTextLayout* layout = it->block.layout();
            for (int i = 0; i < layout->lineCount(); ++i) {
                const QTextLine line = layout->lineAt(i);
                const double y = it->rect.top() + line.y();
                if (y >= top && y < bottom) drawLine(painter, it->rect.topLeft(), line);
            }
        }
    }

private:
    struct Candidate {
        QTextBlock block;
        QRectF rect;
    };
    QAbstractTextDocumentLayout* m_layout;
    std::vector<Candidate> m_blocks;
    double m_tallest = 0;
    mutable std::map<QString, bool> m_bitmapFonts;

    // Whether a font draws bitmaps (colour emoji fonts keep theirs in a CBDT or sbix table).
    bool isBitmapFont(const QRawFont& font) const {
        const QString key = font.familyName() + QLatin1Char('/') + font.styleName();
        auto found = m_bitmapFonts.find(key);
        if (found == m_bitmapFonts.end())
            found = m_bitmapFonts.emplace(key, !font.fontTable("CBDT").isEmpty() || !font.fontTable("sbix").isEmpty()).first;
        return found->second;
    }

    void drawLine(QPainter& painter, const QPointF& origin, const QTextLine& line) const {
        constexpr double kScale = 4;
        for (const QGlyphRun& run : line.glyphRuns()) {
            const QRawFont font = run.rawFont();
            if (!isBitmapFont(font)) continue;
            const QList<quint32> glyphs = run.glyphIndexes();
            const QList<QPointF> positions = run.positions();
            const QList<QPointF> advances = font.advancesForGlyphIndexes(glyphs);
            // The box the glyphs fill: from the first pen position to the last advance, ascent to descent.
            QRectF box;
            for (qsizetype i = 0; i < glyphs.size() && i < positions.size() && i < advances.size(); ++i)
                box |= QRectF(positions[i].x(), positions[i].y() - font.ascent(), advances[i].x(), font.ascent() + font.descent());
            if (box.isEmpty()) continue;
            QImage image((box.size() * kScale).toSize() + QSize(1, 1), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            {
                QPainter picture(&image);
                picture.scale(kScale, kScale);
                picture.translate(-box.topLeft());
                picture.drawGlyphRun(QPointF(0, 0), run);
            }
            painter.drawImage(QRectF(origin + box.topLeft(), QSizeF(image.size()) / kScale), image);
        }
    }
};

// The characters of the text that no font Qt can use draws (each once, in order of first use):
// those the fonts leave out, and scripts whose fonts Qt refuses to shape with.
QString undrawable(const QString& text, const QFont& font) {
    QString seen;
    std::vector<char32_t> candidates;
    for (const char32_t c : text.toUcs4()) {
        const QChar::Category category = QChar::category(c);
        // Not text: pictures (U+FFFC), the marks Qt keeps for frames and tables (noncharacters).
        if (c < 0x80 || c == 0xFFFC || (c >= 0xFDD0 && c <= 0xFDEF) || QChar::isSpace(c) || category == QChar::Other_Control ||
            category == QChar::Other_Format ||
            category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph || (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0000 && c <= 0xE01EF))
            continue;
        const QString one = QString::fromUcs4(&c, 1);
        if (seen.contains(one)) continue;
        seen += one;
        candidates.push_back(c);
    }
    const auto missing = [&font](const QString& chunk) { return !ScriptFonts::drawsAll(chunk, font); };
    // In chunks: most text has a font for everything, and one layout answers for many characters.
    QString out;
    constexpr size_t kChunk = 64;
    for (size_t from = 0; from < candidates.size(); from += kChunk) {
        const size_t to = std::min(candidates.size(), from + kChunk);
        QString chunk;
        for (size_t i = from; i < to; ++i) chunk += QString::fromUcs4(&candidates[i], 1) + QLatin1Char(' ');
        if (!missing(chunk)) continue;
        for (size_t i = from; i < to; ++i) {
            if (!missing(QString::fromUcs4(&candidates[i], 1))) continue;
            // Private-use characters show as nothing in a message: named by their code points.
            if (QChar::category(candidates[i]) == QChar::Other_PrivateUse)
                out += QStringLiteral("%1U+%2").arg(out.isEmpty() ? QString() : QStringLiteral(" ")).arg(candidates[i], 4, 16, QLatin1Char('0')).toUpper();
            else
                out += QString::fromUcs4(&candidates[i], 1);
        }
    }
    return out;
}

// The PDF's file, counting what the writer hands over: once the volume is full the writer goes on
// into nothing, so that a full disk is told with what the whole file takes. The failed write
// is kept: a file any of whose bytes went nowhere is never taken as written.
class CountedFile : public QFile {
public:
    int64_t handed() const { return m_handed; }
    bool failed() const { return m_failed; }

protected:
    qint64 writeData(const char* data, qint64 length) override {
        m_handed += length;
        if (!m_failed && QFile::writeData(data, length) != length) m_failed = true;
        return length;
    }

private:
    int64_t m_handed = 0;
    bool m_failed = false;
};

std::filesystem::path writePages(QTextDocument& document, const std::filesystem::path& destination, std::stop_token stop) {
    constexpr double kPageWidth = PdfLayoutWriter::kPageWidth;
    constexpr double kPageHeight = PdfLayoutWriter::kPageHeight;
    constexpr double kMargin = PdfLayoutWriter::kMargin;
    StagedOutput output(destination);  // declared first: removed last, after the writer has closed it

    // Opened here and handed over as a device: a QString file name would lose a name that is not UTF-8.
    CountedFile file;
    if (!qtpaths::open(file, output.path(), QIODevice::WriteOnly)) {
        const std::error_code code(errno, std::generic_category());
        throw ErrorMapper::fromSystemError(code, ErrorMapper::Subject(destination, "document"), FileManagerService::shared())
            .value_or(ConversionError::insufficientPermissions(destination));
    }
    QPdfWriter writer(&file);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Point));
    writer.setResolution(72);  // one device unit per point
    writer.setCreator(QStringLiteral("Kolvex"));

    const double frameWidth = kPageWidth - 2 * kMargin;
    const double frameHeight = kPageHeight - 2 * kMargin;
    const ColourEmojiLayout emoji = preferColourEmojiFont(document);
    WordFonts::giveWholeWords(document, stop);
    // An empty page size first: the layout made for the writer starts nothing before it knows the
    // writer and the real page size (a document's default size would have it lay out the first
    // part unwrapped, for nothing).
    document.setPageSize(QSizeF(0, 0));
    document.setDocumentMargin(0);
    document.setUseDesignMetrics(true);
    // The text as written, before long words get their breaks.
    const QString rawText = document.toRawText();
    LongWords::breakToWidth(document, writer, frameWidth, stop);
    document.documentLayout()->setPaintDevice(&writer);
    // The layout must not point at the writer once it is gone (the document outlives it).
    struct LetGoOfWriter {
        QTextDocument& document;
        ~LetGoOfWriter() { document.documentLayout()->setPaintDevice(nullptr); }
    } letGo{document};
    document.setPageSize(QSizeF(frameWidth, frameHeight));
    // Laid out whole before anything is drawn: nothing is cut, however long the document. One
    // paragraph after another, so that a stop is seen between them.
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        throwIfStopRequested(stop);
        document.documentLayout()->blockBoundingRect(block);
    }
    const int pageCount = std::max(1, document.pageCount());
    if (pageCount > PdfLayoutWriter::kMaxPages) throw ConversionError::unsupportedCombination(PdfLayoutWriter::tooLongLabel(), "PDF");

    const bool plainFlow = isPlainFlow(document);
    const ColourGlyphs colourGlyphs(document);
    // Every page is drawn a second time onto a recorder, which keeps the text of each run of
    // glyphs in the order the writer shows them: the text layer is made from it afterwards.
    // Text of Latin-1 alone reads back from Qt's own glyph names (see pdf_text_layer).
    const bool recordText = std::any_of(rawText.begin(), rawText.end(), [](QChar c) { return c.unicode() >= 0x100; });
    DrawnTextRecorder recorder(writer, [&emoji](const QString& text, const QStringList& families) { return emoji.writtenText(text, families); });
    QPainter recording;
    if (recordText && !recording.begin(&recorder))
        throw ConversionError::backendFailure("document", -1, "could not record the laid-out text");
    const auto drawPage = [&](QPainter& target, QTextBlock& first, const QRectF& frame) {
        target.save();
        target.translate(kMargin, kMargin - frame.top());
        target.setClipRect(frame);
        if (plainFlow) {
            target.setPen(Qt::black);
            drawLines(target, first, frame.top(), frame.bottom());
        } else {
            QAbstractTextDocumentLayout::PaintContext context;
            context.clip = frame;
            context.palette.setColor(QPalette::Text, Qt::black);
            document.documentLayout()->draw(&target, context);
        }
    };
    QTextBlock firstOnPage = document.begin();
    QTextBlock firstRecorded = document.begin();
    QPainter painter;
    if (!painter.begin(&writer)) throw ConversionError::insufficientPermissions(destination);
    for (int page = 0; page < pageCount; ++page) {
        if (stop.stop_requested()) {
            painter.end();
            throw OperationCancelled();
        }
        if (page > 0) writer.newPage();
        painter.fillRect(QRectF(0, 0, kPageWidth, kPageHeight), Qt::white);
        const QRectF frame(0, page * frameHeight, frameWidth, frameHeight);
        drawPage(painter, firstOnPage, frame);
        colourGlyphs.draw(painter, frame.top(), frame.bottom());
        painter.restore();
        recorder.startPage();
        if (recordText) {
            drawPage(recording, firstRecorded, frame);
            recording.restore();
        }
    }
    if (recordText) recording.end();
    const bool written = painter.end() && file.flush() && file.error() == QFileDevice::NoError && !file.failed();
    file.close();
    if (!written) {
        // The writer does not say why; a full volume is one cause the user can act on.
        if (auto full = ErrorMapper::fullVolume(ErrorMapper::Subject(destination, "document"), output.path(),
                                                FileManagerService::shared(), file.handed())) {
            throw *full;
        }
        throw ConversionError::insufficientPermissions(destination);
    }
    // Qt names the text behind each glyph from the font's cmap alone: the commonest ideographs
    // read back as radicals ("⽇本語" for "日本語"), ligatures as ligature characters, and glyphs
    // that no character maps to (conjuncts, vowel signs, emoji sequences, anything beyond the
    // Basic Multilingual Plane) as nothing. The text layer is rebuilt from what was drawn.
    try {
        pdf_text_layer::rewriteFile(output.path(), recorder.pages(), rawText);
    } catch (const std::exception& error) {
        throw ConversionError::backendFailure("document", -1, std::string("could not write the PDF's text layer: ") + error.what());
    }
    output.commit();
    if (auto* rich = dynamic_cast<RichDocument*>(&document)) {
        const QString missing = undrawable(rawText, document.defaultFont());
        if (!missing.isEmpty())
            rich->addNote(fmt::format("No installed font could draw {} (shown as empty boxes; the PDF's text still holds them).",
                                      missing.left(40).toStdString()));
    }
    return output.destination();
}

}  // namespace

std::string PdfLayoutWriter::tooLongLabel() {
    return fmt::format("a document longer than {} pages", kMaxPages);
}

std::filesystem::path PdfLayoutWriter::write(QTextDocument& document, const std::filesystem::path& destination,
                                             std::stop_token stop) {
    requireTextSystem();
    const QString text = document.toRawText();
    ScriptFonts::prepareFor(text, document.defaultFont());
    if (!mayHoldColourGlyphs(text)) return writePages(document, destination, std::move(stop));
    // Once Qt's PDF output has met a colour font's glyphs, the thread's font state for that font
    // is spoilt: every later layout on the thread gives them no width, so the next document's
    // emoji come out squeezed and cut. A document that may hold them is laid out and drawn on a
    // thread of its own (the document goes along and comes back).
    QThread* const home = document.thread();
    std::promise<QThread*> arrived;
    std::promise<void> moved;
    std::exception_ptr failure;
    std::filesystem::path written;
    std::thread worker([&] {
        arrived.set_value(QThread::currentThread());
        moved.get_future().wait();
        try {
            written = writePages(document, destination, stop);
        } catch (...) {
            failure = std::current_exception();
        }
        if (document.thread() == QThread::currentThread()) document.moveToThread(home);
    });
    QThread* const there = arrived.get_future().get();
    if (home == QThread::currentThread()) document.moveToThread(there);
    moved.set_value();
    worker.join();
    if (failure) std::rethrow_exception(failure);
    return written;
}

}  // namespace kolvex
