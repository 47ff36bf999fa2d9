// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Decoders for the data a drag source hands out, keeping only local files.
// Pure functions: any byte string is accepted, never a crash, and anything that is not a
// local file URL (other schemes, remote hosts, relative paths, embedded NULs) is dropped.
namespace kolvex::drag_data {

// The MIME types we ask a drag source for, best first.
inline constexpr std::string_view kUriList = "text/uri-list";
inline constexpr std::string_view kMozUrl = "text/x-moz-url";
inline constexpr std::string_view kNetscapeUrl = "_NETSCAPE_URL";
inline constexpr std::string_view kPlainText = "text/plain";

// "file:///a/b%20c" → "/a/b c". Accepts an empty host or "localhost", percent escapes
// (a '%' that starts no valid escape stays as it is, for sources that send raw UTF-8 with
// literal spaces) and the one-slash form "file:/a". None for anything else.
std::optional<std::filesystem::path> pathFromFileUri(std::string_view uri);

// text/uri-list: one URI per line (CRLF, or a bare LF), lines starting with '#' are comments.
std::vector<std::filesystem::path> filesFromUriList(std::string_view data);
// text/x-moz-url: UTF-16 (little-endian unless it starts with a byte-order mark) lines that
// alternate URL and title.
std::vector<std::filesystem::path> filesFromMozUrl(std::string_view data);
// _NETSCAPE_URL: UTF-8 lines that alternate URL and title.
std::vector<std::filesystem::path> filesFromNetscapeUrl(std::string_view data);
// text/plain: every line that is a file URL once blanks around it are trimmed.
std::vector<std::filesystem::path> filesFromPlainText(std::string_view data);
// Dispatches on the MIME type (one of the four above); nothing for any other type.
std::vector<std::filesystem::path> filesFrom(std::string_view mimeType, std::string_view data);

// UTF-16 bytes to UTF-8; unpaired surrogates become U+FFFD, an odd last byte is dropped.
std::string utf8FromUtf16(std::string_view bytes, bool bigEndian = false);

}  // namespace kolvex::drag_data
