// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include <sys/stat.h>
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

// Calls `visit` with the path and lstat of every entry below `folder` (folders before what they
// hold), walked by descriptors: however deep, one folder open at a time, and the paths made as
// the walk goes (an entry's path may be longer than the system takes by path). Links are not
// followed.
void visit(const std::filesystem::path& folder,
           const std::function<void(const std::filesystem::path& item, const struct stat& info)>& visit);

// The bytes the entries below `folder` occupy on disk (a sparse file counts only what it holds),
// walked the same way: however deep, one folder open at a time. Links are not followed.
int64_t occupiedBytes(const std::filesystem::path& folder);

}  // namespace folder_tree

}  // namespace kolvex
