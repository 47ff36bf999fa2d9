// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>

namespace kolvex {

// Removes a file, or a folder with everything in it, however deep. The walk goes by directory
// descriptors (openat/unlinkat), never by paths, so a tree deeper than the longest path the
// system takes goes as well; one folder is open at a time and what is kept grows with the
// depth alone. Links are removed, never followed; folders an archive made read-only are opened
// up first. What cannot be removed is left, the rest still goes. Any thread.
namespace folder_tree {

// The item `name` in the folder open at `parentFd`. True when it is gone.
bool removeAt(int parentFd, const std::string& name);
// The item at `path` (its parent's path must be within the system's limit). True when it is gone.
bool remove(const std::filesystem::path& path);

}  // namespace folder_tree

}  // namespace kolvex
