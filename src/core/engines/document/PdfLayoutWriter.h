#pragma once

#include <filesystem>
#include <stop_token>

#include "core/engines/document/StyledText.h"

namespace kolvex {

// Lays styled text out on US Letter pages (612 × 792 points) inside a 72-point margin on every
// side with Qt's text layout, and writes them as a PDF. An empty text gives one blank page; text
// beyond kMaxPages pages is dropped. The file appears at the destination only when complete.
// Needs a QGuiApplication; runs on any thread (each call has its own document and writer).
class PdfLayoutWriter {
public:
    static constexpr int kMaxPages = 5000;
    static constexpr double kPageWidth = 612;
    static constexpr double kPageHeight = 792;
    static constexpr double kMargin = 72;

    PdfLayoutWriter() = delete;

    // Throws insufficientPermissions(destination) when the PDF cannot be created there,
    // OperationCancelled (after removing what was written) when `stop` is requested between pages.
    static void write(const StyledText& text, const std::filesystem::path& destination, std::stop_token stop = {});
};

}  // namespace kolvex
