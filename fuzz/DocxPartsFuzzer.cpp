// SPDX-License-Identifier: GPL-3.0-or-later
// The XML parts of a word-processing package, without the ZIP container around them: the
// document, its relationships, styles and numbering, separated by lines of "====".
#include <array>
#include <string>
#include <string_view>

#include "FuzzInput.h"

#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/DocxReader.h"
#include "core/format/ConversionError.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kolvex::fuzz::startTextSystem();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    constexpr std::string_view separator = "\n====\n";
    std::array<std::string, 4> pieces;
    auto text = fuzz::text(data, size);
    for (size_t i = 0; i < pieces.size() && !text.empty(); ++i) {
        const auto end = i + 1 < pieces.size() ? text.find(separator) : text.npos;
        pieces[i] = std::string(text.substr(0, end));
        text = end == text.npos ? std::string_view() : text.substr(end + separator.size());
    }
    DocxReader::Parts parts;
    parts.document = std::move(pieces[0]);
    parts.relationships = std::move(pieces[1]);
    parts.styles = std::move(pieces[2]);
    parts.numbering = std::move(pieces[3]);
    // A 1×1 grey PNG: pictures are placed, not decoded from fuzzed bytes.
    static const QByteArray picture(
        "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x01\x00\x00\x00"
        "\x01\x08\x00\x00\x00\x00\x3a\x7e\x9b\x55\x00\x00\x00\x0a\x49\x44\x41\x54\x78\x9c\x63\x68\x00"
        "\x00\x00\x82\x00\x81\x77\xcd\x72\xb6\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82",
        67);
    parts.media["word/media/image1.png"] = picture;
    try {
        (void)DocxReader::readParts(parts);
    } catch (const DocumentFormatError&) {
    } catch (const DocumentLimitError&) {
    } catch (const ConversionError&) {
    }
    return 0;
}
