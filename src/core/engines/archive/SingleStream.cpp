// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/archive/SingleStream.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <lzma.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"
#include "core/services/UniqueFd.h"

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

bool readExactly(int fd, uint8_t* into, size_t count, uint64_t offset) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, into + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<int64_t> SingleStream::Meter::projected(int64_t compressedSize) const {
    const int64_t in = consumed.load();
    const int64_t out = written.load();
    if (in <= 0 || compressedSize <= 0) return std::nullopt;
    // Read-ahead makes `in` run a little ahead of `out`: the projection errs low, never high.
    const long double whole = static_cast<long double>(out) * static_cast<long double>(compressedSize) /
                              static_cast<long double>(std::min(in, compressedSize));
    return static_cast<int64_t>(std::min<long double>(whole, static_cast<long double>(std::numeric_limits<int64_t>::max())));
}

std::optional<int64_t> SingleStream::recordedXzLength(const fs::path& source) {
    const UniqueFd fd(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    // Walked from the end, as the format is meant to be read: stream padding, then each stream's
    // footer, which gives the size of the index before it, which gives the stream's size.
    uint64_t end = static_cast<uint64_t>(info.st_size);
    int64_t total = 0;
    int streams = 0;
    while (end > 0) {
        uint8_t footer[LZMA_STREAM_HEADER_SIZE];
        if (end < 2 * LZMA_STREAM_HEADER_SIZE || !readExactly(fd.get(), footer, sizeof footer, end - sizeof footer))
            return std::nullopt;
        if (footer[8] == 0 && footer[9] == 0 && footer[10] == 0 && footer[11] == 0) {
            end -= 4;  // stream padding
            continue;
        }
        lzma_stream_flags flags{};
        if (lzma_stream_footer_decode(&flags, footer) != LZMA_OK) return std::nullopt;
        const uint64_t indexSize = flags.backward_size;
        if (indexSize > end - 2 * LZMA_STREAM_HEADER_SIZE || indexSize > (uint64_t{64} << 20)) return std::nullopt;
        std::vector<uint8_t> bytes(indexSize);
        if (!readExactly(fd.get(), bytes.data(), bytes.size(), end - LZMA_STREAM_HEADER_SIZE - indexSize))
            return std::nullopt;
        lzma_index* index = nullptr;
        uint64_t memoryLimit = uint64_t{128} << 20;
        size_t position = 0;
        if (lzma_index_buffer_decode(&index, &memoryLimit, nullptr, bytes.data(), &position, bytes.size()) != LZMA_OK)
            return std::nullopt;
        const uint64_t plain = lzma_index_uncompressed_size(index);
        const uint64_t streamSize = lzma_index_stream_size(index);
        lzma_index_end(index, nullptr);
        if (streamSize > end || plain > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - total)) return std::nullopt;
        total += static_cast<int64_t>(plain);
        end -= streamSize;
        ++streams;
    }
    return streams > 0 ? std::optional(total) : std::nullopt;
}

void SingleStream::unpack(const fs::path& source, const fs::path& target, std::stop_token stop, Meter* meter) {
    std::unique_ptr<archive, ReaderCloser> reader(archive_read_new());
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_raw(reader.get());
    // The stream of an empty file decodes to nothing, which the raw format does not bid on.
    archive_read_support_format_empty(reader.get());
    archive_entry* entry = nullptr;
    // Read in small blocks when followed: what has been read is then close to what has been
    // decoded, and a projection from it close to the truth.
    if (archive_read_open_filename(reader.get(), source.c_str(), meter ? 4096 : 64 * 1024) != ARCHIVE_OK)
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
        if (meter) meter->consumed = archive_filter_bytes(reader.get(), -1);
        output.write(buffer.get(), static_cast<size_t>(n));
        if (meter) meter->written += n;
    }
    output.finish();
}

}  // namespace kolvex
