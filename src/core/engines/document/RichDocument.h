// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>
#include <QTextDocument>
#include <QTextFrame>

#include "core/engines/document/StyledText.h"

class QTextBlock;
class QTextCharFormat;
class QTextCursor;
class QTextImageFormat;
class QTextTable;

namespace kolvex {

// The document every reader produces and every writer consumes: Qt's rich-text document, which
// already holds what office files carry — headings, bulleted and numbered lists, tables with
// header rows, pictures, page breaks, and character formats with family, size, weight, slant,
// underline, strike-through, colour and links — and lays itself out onto PDF pages.
// Pictures are QImage resources the reader added, or data: URLs decoded here; every other
// resource load is refused, so a document never makes us open a file, a device or the network.
// Made and used on one thread (any worker thread); never shared.
class RichDocument : public QTextDocument {
public:
    // Pictures larger than this are left out rather than decoded.
    static constexpr qint64 kMaxImagePixels = 40'000'000;
    // Pictures are kept at most this many pixels on their long side (about 250 dots an inch
    // across a page's text), and all of a document's together at most kMaxDocumentPixels; past
    // that they are left out with a note, so pictures cannot exhaust memory.
    static constexpr int kMaxImageSide = 1600;
    static constexpr qint64 kMaxDocumentPixels = 128'000'000;
    // Each paragraph costs a few hundred bytes once laid out; more are refused (DocumentLimitError).
    static constexpr size_t kMaxParagraphs = 2'000'000;
    // "a document of more than 2000000 paragraphs"
    static std::string tooManyParagraphs();

    // Throws backendFailure when there is no QGuiApplication (see requireTextSystem).
    RichDocument();

    // A picture added from a file's bytes: the name an image format refers to it by, and its
    // size in pixels as the file has it.
    struct Picture {
        QString name;
        QSize pixels;
    };
    // Decodes and adds a picture (PNG, JPEG, GIF, BMP, …) within the limits above; none when it
    // cannot be decoded or is past them.
    std::optional<Picture> addPicture(const QByteArray& bytes);
    // Adds a decoded picture and returns its name.
    QString addImage(const QImage& image);
    // The picture an image format shows; a null image when there is none.
    QImage image(const QTextImageFormat& format) const;

    // A picture as a writer stores it: the file's own bytes when they are PNG or JPEG, else PNG.
    struct EncodedPicture {
        QByteArray bytes;
        QByteArray format;  // "png" or "jpeg"
    };
    EncodedPicture encodedPicture(const QTextImageFormat& format) const;

    // How many pictures the document shows.
    int pictureCount() const;

    // Takes out every picture that has no image behind it (not decodable, refused, missing) and
    // notes how many were left out.
    void dropMissingImages();

    // What was left out while reading, for the log and the user.
    const std::vector<std::string>& notes() const { return m_notes; }
    void addNote(std::string note) { m_notes.push_back(std::move(note)); }

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    int m_images = 0;
    qint64 m_pixels = 0;
    std::map<QString, EncodedPicture> m_originals;
    std::vector<std::string> m_notes;

    std::optional<QImage> decode(const QByteArray& bytes, QByteArray& format);
};

// Styled text as a rich document: one paragraph per line feed; a form feed starts a new page.
// Throws DocumentLimitError past RichDocument::kMaxParagraphs paragraphs.
std::unique_ptr<RichDocument> richDocument(const StyledText& text);

// Inserts styled text at the cursor the same way (line feeds and form feeds as above).
void insertStyled(QTextCursor& cursor, const StyledText& text);

// The character format a run's attributes stand for.
QTextCharFormat charFormatOf(const TextAttributes& attributes);

// How a run looks, as the writers ask it of a character format.
struct CharStyle {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool monospaced = false;
    double pointSize = 12;
    QString family;  // a named family; empty for the generic ones
    std::optional<QColor> colour;
    QString link;

    static CharStyle of(const QTextCharFormat& format);
};

// Visits the document in reading order: each paragraph outside tables, and each table (whose
// cells the visitor walks with forEachItem(cell.begin(), cell.end(), …) as it needs).
void forEachItem(QTextFrame::iterator it, QTextFrame::iterator end, const std::function<void(const QTextBlock&)>& onBlock,
                 const std::function<void(QTextTable&)>& onTable);

// A list item's marker as plain text: "•" for bullets, "1.", "a." or "iv." for numbered items.
QString listMarker(const QTextBlock& block);

// A picture as PNG bytes (empty for a null image).
QByteArray pngBytes(const QImage& image);

// The text of a paragraph's fragment as writers want it: line separators as line feeds,
// object replacement characters (pictures) removed.
QString fragmentText(const QString& text);

}  // namespace kolvex
