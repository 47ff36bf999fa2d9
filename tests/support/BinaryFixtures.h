#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kolvex::testing {

// Pieces for files written byte by byte: the CRC-32 that ZIP and PNG use, and a big-endian word.
uint32_t crc32(std::string_view bytes);
std::string bigEndian32(uint32_t value);

}  // namespace kolvex::testing
