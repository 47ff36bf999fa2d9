// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/SourceFile.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/format/ConversionError.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

// Closes a descriptor on every path.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

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
