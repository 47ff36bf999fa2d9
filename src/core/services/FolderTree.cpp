// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/FolderTree.h"

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/services/UniqueFd.h"

namespace kolvex::folder_tree {

namespace {

constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Opens the folder `name` in the folder at `parentFd`, opening up one that cannot be read.
UniqueFd openFolder(int parentFd, const std::string& name) {
    UniqueFd fd(::openat(parentFd, name.c_str(), kOpenFolder));
    if (!fd && errno == EACCES) {
        struct stat info {};
        if (::fstatat(parentFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode) &&
            ::fchmodat(parentFd, name.c_str(), 0700, 0) == 0)
            fd.reset(::openat(parentFd, name.c_str(), kOpenFolder));
    }
    if (fd) ::fchmod(fd.get(), 0700);  // its entries must be removable
    return fd;
}

// A folder on the way down: where it is, and the folders in it still to be removed.
struct Level {
    std::string name;
    dev_t device = 0;
    ino_t inode = 0;
    std::vector<std::string> folders;
};

// Removes every entry of the open folder that is not a folder, and lists the folders. False
// when something could not be removed.
bool clearFiles(int fd, Level& level) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return false;
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return false;
    }
    bool cleared = true;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool folder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            folder = ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
        }
        if (folder) {
            level.folders.emplace_back(name);
        } else if (::unlinkat(fd, entry->d_name, 0) != 0 && errno != ENOENT) {
            cleared = false;
        }
    }
    ::closedir(dir);
    return cleared;
}

}  // namespace

bool removeAt(int parentFd, const std::string& name) {
    struct stat top {};
    if (::fstatat(parentFd, name.c_str(), &top, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(top.st_mode)) return ::unlinkat(parentFd, name.c_str(), 0) == 0 || errno == ENOENT;

    bool whole = true;
    UniqueFd fd = openFolder(parentFd, name);
    if (!fd) return ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0;
    std::vector<Level> path;
    path.push_back({name, top.st_dev, top.st_ino, {}});
    whole &= clearFiles(fd.get(), path.back());
    for (;;) {
        Level& here = path.back();
        if (!here.folders.empty()) {
            const std::string child = std::move(here.folders.back());
            here.folders.pop_back();
            UniqueFd down = openFolder(fd.get(), child);
            struct stat info {};
            if (!down || ::fstat(down.get(), &info) != 0) {
                whole &= ::unlinkat(fd.get(), child.c_str(), AT_REMOVEDIR) == 0;
                continue;
            }
            path.push_back({child, info.st_dev, info.st_ino, {}});
            fd = std::move(down);
            whole &= clearFiles(fd.get(), path.back());
            continue;
        }
        // Everything below is done: up one level, by "..", which must be the folder we came from
        // (nothing of ours was moved meanwhile), and remove the folder just emptied.
        const std::string done = std::move(here.name);
        path.pop_back();
        if (path.empty()) {
            fd.reset();
            return ::unlinkat(parentFd, done.c_str(), AT_REMOVEDIR) == 0 && whole;
        }
        UniqueFd up(::openat(fd.get(), "..", kOpenFolder));
        struct stat info {};
        if (!up || ::fstat(up.get(), &info) != 0 || info.st_dev != path.back().device || info.st_ino != path.back().inode)
            return false;
        fd = std::move(up);
        whole &= ::unlinkat(fd.get(), done.c_str(), AT_REMOVEDIR) == 0;
    }
}

bool remove(const std::filesystem::path& path) {
    const std::filesystem::path item = path.has_filename() ? path : path.parent_path();
    const std::filesystem::path parent = item.has_parent_path() ? item.parent_path() : std::filesystem::path(".");
    const UniqueFd fd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return errno == ENOENT;
    return removeAt(fd.get(), item.filename().string());
}

void visit(const std::filesystem::path& folder,
           const std::function<void(const std::filesystem::path& item, const struct stat& info)>& visit) {
    UniqueFd fd(::open(folder.c_str(), kOpenFolder));
    struct stat top {};
    if (!fd || ::fstat(fd.get(), &top) != 0) return;
    std::string where = folder.string();  // the path of the open folder
    // Visits the entries of the open folder and lists its folders.
    const auto list = [&](int at, Level& level) {
        const int copy = ::fcntl(at, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) return;
        DIR* dir = ::fdopendir(copy);
        if (!dir) {
            ::close(copy);
            return;
        }
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            struct stat info {};
            if (::fstatat(at, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
            visit(std::filesystem::path(where) / entry->d_name, info);
            if (S_ISDIR(info.st_mode)) level.folders.emplace_back(name);
        }
        ::closedir(dir);
    };
    std::vector<Level> path;
    path.push_back({std::string(), top.st_dev, top.st_ino, {}});
    list(fd.get(), path.back());
    while (!path.empty()) {
        Level& here = path.back();
        if (!here.folders.empty()) {
            const std::string child = std::move(here.folders.back());
            here.folders.pop_back();
            UniqueFd down(::openat(fd.get(), child.c_str(), kOpenFolder));
            struct stat info {};
            if (!down || ::fstat(down.get(), &info) != 0) continue;
            path.push_back({child, info.st_dev, info.st_ino, {}});
            fd = std::move(down);
            where += '/';
            where += child;
            list(fd.get(), path.back());
            continue;
        }
        const size_t nameLength = here.name.size();
        path.pop_back();
        if (path.empty()) break;
        where.resize(where.size() - nameLength - 1);
        UniqueFd up(::openat(fd.get(), "..", kOpenFolder));
        struct stat info {};
        if (!up || ::fstat(up.get(), &info) != 0 || info.st_dev != path.back().device || info.st_ino != path.back().inode)
            break;  // moved meanwhile: what was visited stands
        fd = std::move(up);
    }
}

int64_t occupiedBytes(const std::filesystem::path& folder) {
    int64_t total = 0;
    visit(folder, [&total](const std::filesystem::path&, const struct stat& info) {
        total += static_cast<int64_t>(info.st_blocks) * 512;
    });
    return total;
}

}  // namespace kolvex::folder_tree
