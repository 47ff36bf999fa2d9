// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "support/TempDir.h"

namespace kolvex::testing {

// A tmpfs of a few bytes mounted for the life of the object: a disk that really fills up. Only
// where the test may mount (root, or a namespace that allows it); available() says why not.
class SmallVolume {
public:
    explicit SmallVolume(int64_t bytes);
    ~SmallVolume();
    SmallVolume(const SmallVolume&) = delete;
    SmallVolume& operator=(const SmallVolume&) = delete;

    bool available() const { return m_mounted; }
    const std::string& whyNot() const { return m_whyNot; }
    const std::filesystem::path& path() const { return m_path; }

private:
    TempDir m_dir;
    std::filesystem::path m_path;
    bool m_mounted = false;
    std::string m_whyNot;
};

// What an unprivileged writer may still put on the volume that holds `folder`; -1 when it
// cannot be read.
int64_t freeBytes(const std::filesystem::path& folder);

}  // namespace kolvex::testing
