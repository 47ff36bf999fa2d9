// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kolvex::testing {

// Pieces for files written byte by byte: the CRC-32 that ZIP and PNG use, and a big-endian word.
uint32_t crc32(std::string_view bytes);
std::string bigEndian32(uint32_t value);

// One picture of an icon file: its side in pixels (1…256) and its encoded bytes (a PNG).
struct IconEntry {
    int side = 0;
    std::string png;
};
// A PDF written out by hand from its objects (numbered from 1; the first is the catalog) with a
// correct cross-reference table.
std::string pdfFromObjects(const std::vector<std::string>& objects);

// An ICO file holding the entries in the order given, each declared 32-bit.
std::string iconFile(const std::vector<IconEntry>& entries);

}  // namespace kolvex::testing
