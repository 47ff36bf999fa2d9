#pragma once

#include <string_view>

#include "core/engines/document/StyledText.h"

namespace kolvex {

// Reads HTML through Qt's rich-text importer into styled text: paragraphs, list markers, bold,
// italic, monospaced text, font sizes and links. Every external resource (images, style sheets)
// is refused without being opened, so a page cannot make us read a local file, a device or a
// FIFO. Needs a QGuiApplication (see requireTextSystem); safe on worker threads.
class HtmlReader {
public:
    HtmlReader() = delete;

    // `html` is decoded as UTF-8; malformed sequences become U+FFFD.
    static StyledText read(std::string_view html);
};

// Throws backendFailure when no QGuiApplication exists: Qt's fonts and text layout need one.
void requireTextSystem();

}  // namespace kolvex
