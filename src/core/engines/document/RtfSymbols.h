// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string_view>

namespace kolvex::rtf_symbols {

// The text a control word that stands for one fixed character gives (\emdash, \tab, \line,
// \page as a form feed…); nothing for any other word.
std::optional<std::string_view> textOf(std::string_view word);

}  // namespace kolvex::rtf_symbols
