// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/QpdfFileSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <qpdf/QPDFExc.hh>

namespace kolvex::qpdf_bridge {

std::shared_ptr<QpdfFileSource> QpdfFileSource::open(const std::filesystem::path& file) {
    // Not blocking: opening a FIFO for reading would wait for a writer.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_shared<QpdfFileSource>(file.string(), fd, static_cast<qpdf_offset_t>(status.st_size));
}

QpdfFileSource::QpdfFileSource(std::string name, int fd, qpdf_offset_t size)
    : m_name(std::move(name)), m_fd(fd), m_size(size) {}

QpdfFileSource::~QpdfFileSource() { ::close(m_fd); }

size_t QpdfFileSource::readFile(char* buffer, size_t length, qpdf_offset_t offset) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(m_fd, buffer + done, length - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw QPDFExc(qpdf_e_system, m_name, "", offset, std::string("read failed: ") + std::strerror(errno));
        if (n == 0) break;  // the file became shorter while it was read
        done += static_cast<size_t>(n);
    }
    return done;
}

bool QpdfFileSource::load(qpdf_offset_t offset) {
    if (inBlock(offset)) return true;
    if (offset < 0 || offset >= m_size) return false;
    if (m_block.empty()) m_block.resize(kBlockBytes);
    m_blockStart = offset - offset % static_cast<qpdf_offset_t>(kBlockBytes);
    m_blockLength = 0;
    m_blockLength = readFile(m_block.data(), kBlockBytes, m_blockStart);
    return inBlock(offset);
}

void QpdfFileSource::seek(qpdf_offset_t offset, int whence) {
    qpdf_offset_t base = 0;
    switch (whence) {
        case SEEK_SET:
            break;
        case SEEK_CUR:
            base = m_offset;
            break;
        case SEEK_END:
            base = m_size;
            break;
        default:
            throw std::logic_error("invalid seek in " + m_name);
    }
    if (offset < 0 && base < -offset) throw std::runtime_error(m_name + ": seek before the beginning of the file");
    m_offset = base + offset;
}

size_t QpdfFileSource::read(char* buffer, size_t length) {
    if (m_offset >= m_size) {
        last_offset = m_size;
        return 0;
    }
    last_offset = m_offset;
    const size_t wanted = std::min(length, static_cast<size_t>(m_size - m_offset));
    size_t done = 0;
    while (done < wanted) {
        const qpdf_offset_t at = m_offset + static_cast<qpdf_offset_t>(done);
        if (!inBlock(at) && wanted - done >= kBlockBytes) {
            // A stream's data: straight into qpdf's buffer.
            const size_t want = wanted - done;
            const size_t n = readFile(buffer + done, want, at);
            done += n;
            if (n < want) break;
            continue;
        }
        if (!load(at)) break;
        const size_t from = static_cast<size_t>(at - m_blockStart);
        const size_t n = std::min(wanted - done, m_blockLength - from);
        std::memcpy(buffer + done, m_block.data() + from, n);
        done += n;
    }
    m_offset += static_cast<qpdf_offset_t>(done);
    return done;
}

void QpdfFileSource::unreadCh(char) {
    if (m_offset > 0) --m_offset;
}

qpdf_offset_t QpdfFileSource::findAndSkipNextEOL() {
    if (m_offset >= m_size) {
        last_offset = m_size;
        m_offset = m_size;
        return m_size;
    }
    const auto isEol = [](char c) { return c == '\r' || c == '\n'; };
    qpdf_offset_t at = m_offset;
    while (true) {
        if (!load(at)) {
            m_offset = m_size;
            return m_size;
        }
        const char* begin = m_block.data() + (at - m_blockStart);
        const char* end = m_block.data() + m_blockLength;
        const char* found = std::find_if(begin, end, isEol);
        at += found - begin;
        if (found != end) break;
    }
    const qpdf_offset_t eol = at;
    m_offset = eol + 1;
    while (m_offset < m_size && load(m_offset) && isEol(m_block[static_cast<size_t>(m_offset - m_blockStart)])) ++m_offset;
    return eol;
}

}  // namespace kolvex::qpdf_bridge
