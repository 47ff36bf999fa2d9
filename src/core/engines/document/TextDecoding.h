// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Turning the bytes of a text file into UTF-8. Pure functions; safe from any thread.
namespace kolvex::text_decoding {

// The bytes as UTF-8 text, whatever common encoding they are in: UTF-8 with or without a
// byte-order mark, UTF-16 or UTF-32 with one, and otherwise legacy text — Windows-1252 (a
// superset of printable Latin-1) when it reads as text, else the non-Latin encoding (Cyrillic,
// Korean, Greek, …) whose decoding reads most like text: ICU's detector's when it is sure and
// its reading is no odder, the first of a fixed order otherwise (a line or two is too little
// for the detector). None only for UTF-16/32 that is cut short.
std::optional<std::string> anyToUtf8(std::string_view bytes);

// Valid UTF-8 without its byte-order mark; none when the bytes are not UTF-8.
std::optional<std::string> utf8WithoutBom(std::string_view bytes);

}  // namespace kolvex::text_decoding
