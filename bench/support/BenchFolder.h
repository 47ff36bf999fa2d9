// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>

namespace kolvex {

// A fresh folder under the temporary folder for one benchmark's inputs and outputs, removed
// with everything in it when the object goes.
class BenchFolder {
public:
    // `tag` goes into the folder's name ("kolvex-bench-<tag>-XXXXXX").
    explicit BenchFolder(const std::string& tag);
    ~BenchFolder();
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    // False when the folder could not be made; path() is then empty.
    bool made() const { return !m_path.empty(); }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

}  // namespace kolvex
