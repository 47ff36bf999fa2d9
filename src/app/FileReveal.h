// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>

namespace kolvex {

// Shows a file selected in the user's file manager: org.freedesktop.FileManager1.ShowItems on
// the session bus, else the folder holding it opened with xdg-open. GUI thread; never blocks
// on the file manager.
void revealInFileManager(const std::filesystem::path& file);

}  // namespace kolvex
