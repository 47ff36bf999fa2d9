// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/SmallVolume.h"

#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>

namespace kolvex::testing {

SmallVolume::SmallVolume(int64_t bytes) : m_path(m_dir / "volume") {
    std::filesystem::create_directories(m_path);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (::mount("tmpfs", m_path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0) {
        m_mounted = true;
    } else {
        m_whyNot = std::string("cannot mount a small tmpfs here: ") + std::strerror(errno);
    }
}

SmallVolume::~SmallVolume() {
    if (m_mounted) ::umount2(m_path.c_str(), MNT_DETACH);
}

int64_t freeBytes(const std::filesystem::path& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) return -1;
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

}  // namespace kolvex::testing
