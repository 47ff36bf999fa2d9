// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include <QByteArray>

#include "core/engines/document/RichDocument.h"

namespace kolvex {

// Reads a word-processing package (.docx) into a rich document: paragraphs with their heading
// level, page breaks, bulleted and numbered lists (from the numbering part), tables with merged
// cells and header rows, pictures (from the media parts), hyperlinks, footnotes and endnotes, and
// runs with family, size, bold, italic, underline, strike-through and colour, resolved through the
// run, its character style, its paragraph's style and the document defaults. A note reference
// shows as its mark in brackets ("[1]", "[ii]"), numbered as the package numbers that kind of
// note; the notes follow the body, footnotes first, each opening with its mark. Text inside
// content controls and inserted revisions is kept; deleted text and the fallback branches of
// alternate content are skipped. A picture that does not decode is left out with a note. Only the
// ZIP container is accepted; each part read is capped at kMaxPartBytes decompressed and all
// pictures together at kMaxMediaBytes; XML is parsed without a DTD, so no entity is ever expanded.
// Failures throw DocumentFormatError. Needs a QGuiApplication; runs on any thread; no shared state.
class DocxReader {
public:
    static constexpr uint64_t kMaxPartBytes = 64ull << 20;
    static constexpr uint64_t kMaxMediaBytes = 128ull << 20;
    static constexpr size_t kMaxDepth = 512;
    static constexpr size_t kMaxTableCells = 500'000;

    // The parts the reader uses, by their names in the package ("word/document.xml", …).
    struct Parts {
        std::string document;
        std::string relationships;
        std::string styles;
        std::string numbering;
        std::map<std::string, QByteArray> media;  // "word/media/image1.png" → bytes
        std::string footnotes;
        std::string endnotes;
        // The notes parts' own relationships: their pictures and links.
        std::string footnoteRelationships;
        std::string endnoteRelationships;
        std::string settings;
    };

    DocxReader() = delete;

    static std::unique_ptr<RichDocument> read(const std::filesystem::path& path);
    // The same, from the parts themselves.
    static std::unique_ptr<RichDocument> readParts(const Parts& parts);
};

}  // namespace kolvex
