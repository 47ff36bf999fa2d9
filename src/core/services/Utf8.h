// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace kolvex {

// True when `bytes` are valid UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// The bytes as UTF-8 text, every byte that does not begin a valid sequence replaced by U+FFFD.
std::string replaceInvalidUtf8(std::string_view bytes);

}  // namespace kolvex
