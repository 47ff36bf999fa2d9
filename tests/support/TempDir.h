// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>

namespace kolvex::testing {

// A fresh folder under the system temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }
    // Writes `contents` to a file below the folder (creating parents) and returns its path.
    std::filesystem::path write(const std::string& relative, const std::string& contents) const;

private:
    std::filesystem::path m_path;
};

// Reads a whole file ("" when missing).
std::string readFile(const std::filesystem::path& path);

}  // namespace kolvex::testing
