// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kolvex::rtf_destinations {

// Whether a destination word names a group whose content is not document text (headers,
// footnotes, the style sheet, document information, embedded objects and the like).
bool isSkipped(std::string_view word);

// Where a field instruction's HYPERLINK points; nothing for other fields or an empty target.
std::optional<std::string> hyperlinkTarget(const std::string& instruction);

}  // namespace kolvex::rtf_destinations
