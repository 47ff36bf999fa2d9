// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/FileManagerService.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/statvfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <system_error>
#include <vector>

#include "core/format/ConversionError.h"
#include "core/services/OutputNaming.h"
#include "core/services/PathUtils.h"
#include "core/services/Uuid.h"
#include "core/services/WorkInProgress.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

bool lexists(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

[[noreturn]] void throwErrno(const char* what, const fs::path& a, const fs::path& b, int error) {
    throw fs::filesystem_error(what, a, b, std::error_code(error, std::generic_category()));
}

}  // namespace

const FileManagerService& FileManagerService::shared() {
    static const FileManagerService service;
    return service;
}

fs::path FileManagerService::destination(const fs::path& source, std::string_view extension,
                                         const std::optional<fs::path>& directory,
                                         Preferences::ConflictBehaviour onConflict,
                                         const std::function<bool(const fs::path&)>& alsoTaken) const {
    if (onConflict == Preferences::ConflictBehaviour::replace) {
        return OutputNaming::destination(source, extension, directory, [](const fs::path&) { return false; });
    }
    return OutputNaming::destination(source, extension, directory, [&](const fs::path& candidate) {
        return itemExists(candidate) || (alsoTaken && alsoTaken(candidate));
    });
}

bool FileManagerService::itemExists(const fs::path& path) const { return lexists(path); }

void FileManagerService::ensureWritable(const fs::path& destination) const {
    const fs::path folder = paths::deletingLastComponent(destination);
    if (!folder.empty() && !lexists(folder)) fs::create_directories(folder);
    if (!canWrite(folder.empty() ? fs::path(".") : folder)) {
        throw ConversionError::insufficientPermissions(destination);
    }
}

bool FileManagerService::canWrite(const fs::path& folder) const {
    // An unnamed file first: nothing is ever left behind, whenever the process dies.
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
    // File systems without unnamed files get a named probe, recorded so a kill leaves nothing.
    const fs::path probe = folder / (std::string(kWriteProbePrefix) + Uuid::random().toString());
    const WorkInProgress::Entry recorded = WorkInProgress::shared().add(paths::absolute(probe));
    fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

std::optional<int64_t> FileManagerService::size(const fs::path& path) const {
    // Follows a symbolic link: the size that matters is that of the file it names.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<int64_t>(info.st_size);
}

std::optional<int64_t> FileManagerService::allocatedSize(const fs::path& path) const {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    // st_blocks counts 512-byte units whatever the volume's block; a file with holes, or one
    // whose blocks are not given yet, takes at least its size once written out.
    return std::max<int64_t>(static_cast<int64_t>(info.st_blocks) * 512, static_cast<int64_t>(info.st_size));
}

std::optional<int64_t> FileManagerService::availableCapacity(const fs::path& path) const {
    const std::string text = path.string();
    fs::path folder = (!text.empty() && text.back() == '/') ? path : paths::deletingLastComponent(path);
    if (folder.empty()) folder = ".";
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) return std::nullopt;
    const uint64_t blocks = info.f_bavail;
    const uint64_t blockSize = info.f_frsize;
    constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (blockSize != 0 && blocks > kMax / blockSize) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(blocks * blockSize);
}

void FileManagerService::ensureCapacity(int64_t required, const fs::path& path) const {
    const auto available = availableCapacity(path);
    if (available && *available < required) throw ConversionError::insufficientDiskSpace(required, *available);
}

int FileManagerService::renameNoReplace(const fs::path& from, const fs::path& to) const {
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
}

int FileManagerService::hardLink(const fs::path& from, const fs::path& to) const {
    return ::link(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void FileManagerService::moveWithoutReplacing(const fs::path& from, const fs::path& to) const {
    int error = renameNoReplace(from, to);
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
        struct stat info {};
        if (::lstat(from.c_str(), &info) != 0) throwErrno("Could not move the item", from, to, errno);
        // A hard link refuses an existing name just as the rename would have.
        error = S_ISDIR(info.st_mode) ? EPERM : hardLink(from, to);
        if (error == 0) {
            ::unlink(from.c_str());
            return;
        }
        if (error == EPERM || error == EOPNOTSUPP || error == ENOSYS) {
            // No hard links either (FAT, some FUSE volumes, any folder): claim the name with an
            // empty placeholder of the same kind, then rename over the placeholder, which is ours.
            if (S_ISDIR(info.st_mode)) {
                error = ::mkdir(to.c_str(), 0700) == 0 ? 0 : errno;
            } else {
                const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
                error = fd >= 0 ? 0 : errno;
                if (fd >= 0) ::close(fd);
            }
            if (error == 0) {
                if (::rename(from.c_str(), to.c_str()) == 0) return;
                error = errno;
                if (S_ISDIR(info.st_mode)) {
                    ::rmdir(to.c_str());
                } else {
                    ::unlink(to.c_str());
                }
            }
        }
    }
    if (error == 0) return;
    if (error == EEXIST || error == ENOTEMPTY) throw ConversionError::outputNameUnavailable(to);
    throwErrno("Could not move the item into place", from, to, error);
}

}  // namespace kolvex
