// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/engines/document/RichDocument.h"
#include "core/engines/document/StyledText.h"

// What the RTF reader's parser leaves in its text for the structure it saw, and the step that
// turns that marked text into a rich document. Pure; the document belongs to the calling thread.
namespace kolvex::rtf_markup {

// Table structure, kept in the text as noncharacters (which no document holds) until the reader
// turns it into tables, or into tabs and line feeds.
constexpr std::string_view kCellEnd = "\uFDD0";
constexpr std::string_view kRowEnd = "\uFDD1";
constexpr std::string_view kCellParagraph = "\uFDD2";
// Where a picture stood; the pictures themselves are kept in order beside the text.
constexpr std::string_view kPicture = "\uFDD3";

constexpr size_t kMaxPictureHex = 64u << 20;

// A picture as RTF carries it: hex digits of a PNG or JPEG file and the size it is shown at.
struct RtfPicture {
    std::string hex;
    bool supported = false;  // PNG or JPEG; metafiles and device-independent bitmaps are left out
    long widthTwips = 0;
    long heightTwips = 0;
};

// Paragraphs outside tables as they come; a row is what lies between the last paragraph end (or
// row end) and its row-end marker, its cells split at the cell-end markers; each picture marker
// becomes the next picture, or is left out with a note when that picture cannot be shown.
// Throws DocumentLimitError past RichDocument::kMaxParagraphs paragraphs and cells.
std::unique_ptr<RichDocument> buildDocument(const StyledText& marked, std::vector<RtfPicture> pictures);

}  // namespace kolvex::rtf_markup
