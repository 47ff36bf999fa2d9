// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace kolvex {

// Reads a whole regular file of at most `limit` bytes. A missing, unreadable or special file
// (a folder, a FIFO, a device) and a larger file throw corruptedInput(path); a FIFO is never
// waited on.
std::string readSourceFile(const std::filesystem::path& path, uintmax_t limit);

}  // namespace kolvex
