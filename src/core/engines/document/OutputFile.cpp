#include "core/engines/document/OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/format/ConversionError.h"
#include "core/services/Uuid.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

bool isPermissionError(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

[[noreturn]] void fail(int error, const fs::path& destination, const fs::path& path, const char* what) {
    if (isPermissionError(error)) throw ConversionError::insufficientPermissions(destination);
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// Closes a descriptor on every path.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

OutputFile::OutputFile(fs::path destination) : m_destination(std::move(destination)) {
    // The hidden name must fit the 255-byte limit too: keep at most 160 bytes of the name, cut
    // between characters.
    std::string name = m_destination.filename().string();
    if (name.size() > 160) {
        size_t cut = 160;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.resize(cut);
    }
    m_temporary = m_destination.parent_path() / ("." + name + ".kolvex-" + Uuid::random().toString());
}

OutputFile::~OutputFile() {
    if (!m_committed) {
        std::error_code ignored;
        fs::remove(m_temporary, ignored);
    }
}

void OutputFile::write(std::string_view bytes) {
    Descriptor file;
    file.fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (file.fd < 0) fail(errno, m_destination, m_temporary, "cannot create the output");
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(file.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno, m_destination, m_temporary, "cannot write the output");
        }
        done += static_cast<size_t>(n);
    }
    const int fd = file.fd;
    file.fd = -1;
    if (::close(fd) != 0) fail(errno, m_destination, m_temporary, "cannot write the output");
}

void OutputFile::commit() {
    if (::renameat2(AT_FDCWD, m_temporary.c_str(), AT_FDCWD, m_destination.c_str(), RENAME_NOREPLACE) == 0) {
        m_committed = true;
        return;
    }
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {
        // The file system cannot rename without replacing: a hard link refuses an existing name too.
        if (::link(m_temporary.c_str(), m_destination.c_str()) == 0) {
            std::error_code ignored;
            fs::remove(m_temporary, ignored);
            m_committed = true;
            return;
        }
        error = errno;
        if (error != EEXIST) {
            // Some file systems (FAT, several FUSE ones) have neither: look, then rename. Only a
            // file created in the instant between the two could be replaced.
            struct stat existing {};
            if (::lstat(m_destination.c_str(), &existing) == 0) throw ConversionError::outputNameUnavailable(m_destination);
            if (::rename(m_temporary.c_str(), m_destination.c_str()) == 0) {
                m_committed = true;
                return;
            }
            error = errno;
        }
    }
    if (error == EEXIST) throw ConversionError::outputNameUnavailable(m_destination);
    fail(error, m_destination, m_destination, "cannot move the output into place");
}

void OutputFile::writeAtomically(const fs::path& destination, std::string_view bytes) {
    OutputFile file(destination);
    file.write(bytes);
    file.commit();
}

std::string readSourceFile(const fs::path& path, uintmax_t limit) {
    Descriptor file;
    // Non-blocking open: opening a FIFO for reading must not wait for a writer.
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file.fd < 0) throw ConversionError::corruptedInput(path);
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) throw ConversionError::corruptedInput(path);
    if (static_cast<uintmax_t>(info.st_size) > limit) throw ConversionError::corruptedInput(path);
    std::string bytes;
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            // The file may have grown since fstat: read on, within the limit (one byte past it tells).
            if (bytes.size() > limit) throw ConversionError::corruptedInput(path);
            bytes.resize(std::min<uintmax_t>(limit + 1, bytes.size() + 65536));
        }
        const ssize_t n = ::read(file.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw ConversionError::corruptedInput(path);
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

}  // namespace kolvex
