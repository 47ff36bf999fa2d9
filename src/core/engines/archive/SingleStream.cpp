// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/archive/SingleStream.h"

#include <cerrno>
#include <memory>
#include <utility>
#include <system_error>

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <unistd.h>

#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

struct ReaderCloser {
    void operator()(archive* reader) const { archive_read_free(reader); }
};

// The new file, removed unless it was finished.
class NewFile {
public:
    explicit NewFile(fs::path path) : m_path(std::move(path)) {
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (m_fd < 0) throw std::system_error(errno, std::generic_category(), "Could not create " + m_path.string());
    }
    ~NewFile() {
        if (m_fd >= 0) ::close(m_fd);
        if (!m_done) ::unlink(m_path.c_str());
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    void write(const char* bytes, size_t count) {
        while (count > 0) {
            const ssize_t n = ::write(m_fd, bytes, count);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw std::system_error(errno, std::generic_category(), "Could not write " + m_path.string());
            bytes += n;
            count -= static_cast<size_t>(n);
        }
    }

    void finish() {
        const int fd = std::exchange(m_fd, -1);
        if (::fsync(fd) != 0 || ::close(fd) != 0)
            throw std::system_error(errno, std::generic_category(), "Could not write " + m_path.string());
        m_done = true;
    }

private:
    fs::path m_path;
    int m_fd = -1;
    bool m_done = false;
};

}  // namespace

void SingleStream::unpack(const fs::path& source, const fs::path& target, std::stop_token stop) {
    std::unique_ptr<archive, ReaderCloser> reader(archive_read_new());
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_raw(reader.get());
    // The stream of an empty file decodes to nothing, which the raw format does not bid on.
    archive_read_support_format_empty(reader.get());
    archive_entry* entry = nullptr;
    if (archive_read_open_filename(reader.get(), source.c_str(), 64 * 1024) != ARCHIVE_OK)
        throw ConversionError::corruptedInput(source);
    const int header = archive_read_next_header(reader.get(), &entry);
    // A stream that breaks off before its first byte reads as empty too, but leaves its error.
    if ((header != ARCHIVE_OK && header != ARCHIVE_EOF) || archive_filter_code(reader.get(), 0) == ARCHIVE_FILTER_NONE ||
        (header == ARCHIVE_EOF && archive_error_string(reader.get()) != nullptr))
        throw ConversionError::corruptedInput(source);

    NewFile output(target);
    if (header == ARCHIVE_EOF) {
        output.finish();
        return;
    }
    auto buffer = std::make_unique<char[]>(256 * 1024);
    for (;;) {
        throwIfStopRequested(stop);
        const la_ssize_t n = archive_read_data(reader.get(), buffer.get(), 256 * 1024);
        if (n == 0) break;
        if (n < 0) throw ConversionError::corruptedInput(source);
        output.write(buffer.get(), static_cast<size_t>(n));
    }
    output.finish();
}

}  // namespace kolvex
