// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

#include "core/engines/document/RichDocument.h"

namespace kolvex {

// Reads HTML through Qt's rich-text importer into a rich document: headings, paragraphs, lists,
// tables, pictures carried as data: URLs, page breaks and character formats. Every external
// resource (linked images, style sheets) is refused without being opened, so a page cannot make
// us read a local file, a device or a FIFO; a picture that cannot be shown is left out with a
// note. Needs a QGuiApplication (requireTextSystem); safe on worker threads.
class HtmlReader {
public:
    // Qt's importer takes time that grows with the square of the element nesting, and a large
    // page takes seconds: deeper or larger pages are refused (DocumentFormatError).
    static constexpr size_t kMaxNesting = 512;
    static constexpr size_t kMaxBytes = 8u << 20;

    HtmlReader() = delete;

    // `html` is decoded as UTF-8; malformed sequences become U+FFFD.
    static std::unique_ptr<RichDocument> read(std::string_view html);
    // How deeply elements nest, counting only elements that need an end tag (a <p> or <li> that
    // the next one closes does not count); stops counting past `limit`.
    static size_t nestingDepth(std::string_view html, size_t limit);
};

}  // namespace kolvex
