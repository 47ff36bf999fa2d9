// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/TemporaryFileManager.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/services/FolderTree.h"
#include "core/services/Log.h"
#include "core/services/Uuid.h"
#include "core/services/UniqueFd.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

fs::path defaultRoot() {
    const char* tmp = std::getenv("TMPDIR");
    const fs::path base = (tmp && *tmp == '/') ? fs::path(tmp) : fs::path("/tmp");
    return base / ("Kolvex-" + std::to_string(::geteuid()));
}

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

}  // namespace

TemporaryFileManager::TemporaryFileManager(std::optional<fs::path> root)
    : m_root(root ? std::move(*root) : defaultRoot()) {}

const TemporaryFileManager& TemporaryFileManager::shared() {
    static const TemporaryFileManager instance;
    return instance;
}

// The root sits in a folder every user can write to, so its name is predictable to others:
// it must be ours, a real folder, and closed to everyone else before anything goes in it.
void TemporaryFileManager::ensureRoot() const {
    if (!m_root.parent_path().empty()) fs::create_directories(m_root.parent_path());
    if (::mkdir(m_root.c_str(), 0700) != 0 && errno != EEXIST) fail("Cannot create the scratch root", m_root, errno);
    struct stat info {};
    if (::lstat(m_root.c_str(), &info) != 0) fail("Cannot inspect the scratch root", m_root, errno);
    if (S_ISLNK(info.st_mode) || !S_ISDIR(info.st_mode)) fail("The scratch root is not a folder", m_root, ENOTDIR);
    if (info.st_uid != ::geteuid()) fail("The scratch root belongs to another user", m_root, EPERM);
    if ((info.st_mode & 077) != 0 && ::chmod(m_root.c_str(), 0700) != 0)
        fail("Cannot restrict the scratch root", m_root, errno);
}

TemporaryFileManager::ScratchDirectory TemporaryFileManager::makeScratchDirectory() const {
    ensureRoot();
    fs::path directory = m_root / Uuid::random().toString();
    WorkInProgress::Entry recorded = WorkInProgress::shared().add(fs::absolute(directory));
    if (::mkdir(directory.c_str(), 0700) != 0) fail("Cannot create a scratch folder", directory, errno);
    return ScratchDirectory{std::move(directory), std::move(recorded)};
}

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The names in the folder open at `fd` (which stays open), without "." and "..".
std::vector<std::string> namesIn(int fd) {
    std::vector<std::string> names;
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return names;
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(copy));
    if (!dir) {
        ::close(copy);
        return names;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    return names;
}

}  // namespace

int TemporaryFileManager::reapOrphans(double seconds) const {
    // The same checks as when the root is made, on the folder actually opened: a root that is a
    // symlink, belongs to someone else or is open to others is not ours to clean.
    const UniqueFd root(::open(m_root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!root) {
        if (errno != ENOENT) Log::files().error("Not reaping {}: {}", m_root.string(), std::strerror(errno));
        return 0;
    }
    struct stat rootInfo {};
    if (::fstat(root.get(), &rootInfo) != 0 || rootInfo.st_uid != ::geteuid() || (rootInfo.st_mode & 077) != 0) {
        Log::files().error("Not reaping {}: it is not a private folder of this user", m_root.string());
        return 0;
    }

    const auto cutoff = std::chrono::system_clock::now() -
                        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(seconds));
    int removed = 0;
    for (const auto& name : namesIn(root.get())) {
        if (name.front() == '.') continue;
        struct stat info {};
        if (::fstatat(root.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) continue;
        const auto modified = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::seconds(info.st_mtim.tv_sec) +
                                                                            std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
        if (!(modified < cutoff)) continue;
        if (folder_tree::removeAt(root.get(), name)) ++removed;
    }
    if (removed > 0) Log::files().info("Reaped {} orphaned scratch directories", removed);
    return removed;
}

}  // namespace kolvex
