// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace kolvex {

// Byte counts as a file manager shows them: decimal units, "Zero KB", "1 byte", "12 MB",
// "1.5 MB", "1.23 GB" (KB whole, MB one decimal, GB and above two; trailing zeros dropped).
struct ByteCountFormatter {
    static std::string file(int64_t bytes);
};

}  // namespace kolvex
