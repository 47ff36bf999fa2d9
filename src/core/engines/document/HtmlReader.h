#pragma once

#include <string_view>

#include "core/engines/document/StyledText.h"

namespace kolvex {

// Reads HTML through Qt's rich-text importer into styled text: paragraphs, list markers, bold,
// italic, monospaced text, font sizes and links. Every external resource (images, style sheets)
// is refused without being opened, so a page cannot make us read a local file, a device or a
// FIFO. Needs a QGuiApplication (requireTextSystem); safe on worker threads.
class HtmlReader {
public:
    // Qt's importer takes time that grows with the square of the element nesting, and a large
    // page takes seconds: deeper or larger pages are refused (DocumentFormatError).
    static constexpr size_t kMaxNesting = 512;
    static constexpr size_t kMaxBytes = 8u << 20;

    HtmlReader() = delete;

    // `html` is decoded as UTF-8; malformed sequences become U+FFFD.
    static StyledText read(std::string_view html);
    // How deeply elements nest, counting only elements that need an end tag (a <p> or <li> that
    // the next one closes does not count); stops counting past `limit`.
    static size_t nestingDepth(std::string_view html, size_t limit);
};

}  // namespace kolvex
