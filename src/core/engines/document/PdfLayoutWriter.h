// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <stop_token>

#include <string>

class QTextDocument;

namespace kolvex {

// Lays a document out on US Letter pages (612 × 792 points) inside a 72-point margin on every
// side with Qt's text layout, and writes them as a PDF. An empty document gives one blank page; a
// document longer than kMaxPages pages is refused whole, never cut. The file appears at the
// destination only when complete. Needs a QGuiApplication; called on the thread that owns the
// document (each call has its own document and writer). A document that may hold colour emoji
// is laid out and drawn on a thread of its own while the call waits, and handed back after.
// Its emoji are given the colour emoji font first, and lose the presentation selectors that
// font does not map (see preferColourEmojiFont); the PDF's text layer still reads back every
// character written, in every script (see pdf_text_layer). A script whose installed font Qt
// refuses is drawn in a copy of that font that Qt takes (see ScriptFonts).
class PdfLayoutWriter {
public:
    static constexpr int kMaxPages = 20000;
    static constexpr double kPageWidth = 612;
    static constexpr double kPageHeight = 792;
    static constexpr double kMargin = 72;

    PdfLayoutWriter() = delete;

    // Lays the document out for the page (it keeps that layout, but not the writer it was made
    // for). Throws
    // unsupportedCombination(tooLongLabel(), "PDF") past kMaxPages pages,
    // insufficientPermissions(destination) when the PDF cannot be created there,
    // OperationCancelled (after removing what was written) when `stop` is requested between pages.
    static std::filesystem::path write(QTextDocument& document, const std::filesystem::path& destination, std::stop_token stop = {});
    // "a document longer than 20000 pages"
    static std::string tooLongLabel();
};

}  // namespace kolvex
