#pragma once

#include <cstdint>
#include <filesystem>

#include "core/engines/document/StyledText.h"

namespace kolvex {

// Reads the main text of a word-processing package (.docx): paragraphs (also inside tables,
// content controls and inserted revisions), runs with bold and italic in all their w:val forms,
// font sizes and monospaced fonts (from the run, its character style, its paragraph's style
// and the document defaults), tabs, breaks and hyperlinks. Deleted text, drawings and the
// fallback branches of alternate content are skipped. Only the ZIP container is accepted; each
// part read is capped at kMaxPartBytes decompressed; XML is parsed without a DTD, so no entity
// is ever expanded. Failures throw DocumentFormatError. Runs on any thread; no shared state.
class DocxReader {
public:
    static constexpr uint64_t kMaxPartBytes = 64ull << 20;
    static constexpr size_t kMaxDepth = 512;

    DocxReader() = delete;

    static StyledText read(const std::filesystem::path& path);
    // The same, from the bytes of word/document.xml and (possibly empty) its relationships and
    // styles parts.
    static StyledText readParts(std::string_view documentXml, std::string_view relationshipsXml,
                                std::string_view stylesXml = {});
};

}  // namespace kolvex
