#include "core/services/FileManagerService.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/statvfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <system_error>
#include <vector>

#include "core/format/ConversionError.h"
#include "core/services/OutputNaming.h"
#include "core/services/PathUtils.h"
#include "core/services/Uuid.h"

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

// Copies `from` to a file created for it at `to` (never an existing one). A failed copy
// removes what it wrote.
void copyExclusively(const fs::path& from, const fs::path& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throwErrno("Could not read the file", from, to, errno);
    struct stat info {};
    if (::fstat(in, &info) != 0) {
        const int error = errno;
        ::close(in);
        throwErrno("Could not read the file", from, to, error);
    }
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 0777);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        if (error == EEXIST) throw ConversionError::outputNameUnavailable(to);
        throwErrno("Could not create the file", from, to, error);
    }
    std::vector<char> buffer(1 << 20);
    int error = 0;
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        if (got == 0) break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR) continue;
                error = errno;
                break;
            }
            done += put;
        }
        if (error) break;
    }
    if (!error && ::fsync(out) != 0) error = errno;
    if (::close(out) != 0 && !error) error = errno;
    ::close(in);
    if (error) {
        ::unlink(to.c_str());
        throwErrno("Could not copy the file", from, to, error);
    }
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
    const fs::path probe = folder / (std::string(kWriteProbePrefix) + Uuid::random().toString());
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.c_str());  // a probe left behind is an empty hidden file; nothing to do about it
    return true;
}

std::optional<int64_t> FileManagerService::size(const fs::path& path) const {
    // Follows a symbolic link: the size that matters is that of the file it names.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<int64_t>(info.st_size);
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

void FileManagerService::install(const fs::path& file, const fs::path& destination) const {
    if (lexists(destination)) throw ConversionError::outputNameUnavailable(destination);
    // Never replace what appeared since the check: rename without replacing.
    if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0) return;
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {
        // The file system cannot rename without replacing; a hard link refuses an existing name too.
        if (::link(file.c_str(), destination.c_str()) == 0) {
            ::unlink(file.c_str());
            return;
        }
        error = errno;
        if (error == EPERM || error == EOPNOTSUPP) {
            if (lexists(destination)) throw ConversionError::outputNameUnavailable(destination);
            if (::rename(file.c_str(), destination.c_str()) == 0) return;
            error = errno;
        }
    }
    if (error == EEXIST) throw ConversionError::outputNameUnavailable(destination);
    if (error != EXDEV) throw fs::filesystem_error("Could not move the file", file, destination, std::error_code(error, std::generic_category()));

    // Another volume: copy into a newly created file, then remove the original.
    copyExclusively(file, destination);
    fs::remove(file);
}

}  // namespace kolvex
