// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

// Path helpers with the semantics of file URLs: trailing separators do not make an empty
// last component, and extensions are whatever follows the last dot of the last component.
namespace kolvex::paths {

namespace fs = std::filesystem;

// "/a/b/" → "b", "/a/b.txt" → "b.txt", "/" → "/", "" → "".
std::string lastComponent(const fs::path& path);
// The path without its last component: "/a/b/" → "/a", "/a" → "/".
fs::path deletingLastComponent(const fs::path& path);
// Text after the last dot of the last component, without the dot; "" when none
// (a leading dot alone, as in ".bashrc", is not an extension).
std::string extension(const fs::path& path);
// The last component without its extension.
std::string stem(const fs::path& path);
// True when the path names an existing folder (following symlinks).
bool isDirectory(const fs::path& path);
// An absolute, lexically normal form: subprocesses are only ever handed these.
fs::path absolute(const fs::path& path);
// The system's limits on what it is handed: a path of at most 4,095 bytes (its buffer of 4,096
// holds the closing zero), each name in it at most 255 bytes.
inline constexpr std::size_t kMaxPathBytes = 4095;
inline constexpr std::size_t kMaxNameBytes = 255;
// Whether the system takes `path`: its absolute form within kMaxPathBytes, with `room` bytes to
// spare (for names that will go below it), and each of its names within kMaxNameBytes.
bool withinSystemLimits(const fs::path& path, std::size_t room = 0);
// ASCII lower-casing (file extensions, ids).
std::string asciiLower(std::string text);

// An XDG base folder: `variable` (XDG_CONFIG_HOME, XDG_CACHE_HOME…) when it holds an absolute
// path, else `fallback` (".config", ".cache") below $HOME, else below the account's home folder.
// `environment` reads a variable (std::getenv when not given).
fs::path xdgBaseFolder(const char* variable, const char* fallback,
                       const std::function<const char*(const char*)>& environment = nullptr);

}  // namespace kolvex::paths
