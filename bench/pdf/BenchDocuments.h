// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>

// Writes a text-heavy document of `pages` letter pages with qpdf. Built as C++17: qpdf's
// headers do not compile as C++20 with clang 14.
void writeBenchDocument(const std::filesystem::path& file, int pages);
