// SPDX-License-Identifier: GPL-3.0-or-later
// The text document readers: plain text decoding, Markdown, CSV, RTF and HTML. The first byte
// picks the reader, so one corpus holds seeds for each.
#include <memory>
#include <string>

#include "FuzzInput.h"

#include "core/engines/document/CSVFormatter.h"
#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/HtmlReader.h"
#include "core/engines/document/MarkdownReader.h"
#include "core/engines/document/RtfReader.h"
#include "core/engines/document/TextDecoding.h"
#include "core/format/ConversionError.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kolvex::fuzz::startTextSystem();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    if (size == 0) return 0;
    const auto bytes = fuzz::text(data + 1, size - 1);
    try {
        switch (data[0] % 5) {
        case 0:
            (void)text_decoding::anyToUtf8(bytes);
            (void)text_decoding::utf8WithoutBom(bytes);
            break;
        case 1:
            if (auto utf8 = text_decoding::utf8WithoutBom(bytes)) (void)MarkdownReader::parseInline(*utf8);
            break;
        case 2:
            if (auto utf8 = text_decoding::anyToUtf8(bytes)) (void)CSVFormatter::asPlainTable(*utf8);
            break;
        case 3:
            (void)RtfReader::read(bytes);
            (void)RtfReader::readDocument(bytes);
            break;
        case 4:
            (void)HtmlReader::read(bytes);
            break;
        }
    } catch (const DocumentFormatError&) {
    } catch (const DocumentLimitError&) {
    } catch (const ConversionError&) {
    }
    return 0;
}
