// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A qpdf pipeline into an open file. Included only by the files built as C++17 that talk to qpdf
// directly (see QpdfBridge.h).

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include <unistd.h>

#include <qpdf/Pipeline.hh>

namespace kolvex::qpdf_bridge {

// Takes what qpdf writes and hands it to the file in large pieces. qpdf finishes its output
// pipeline after every object it writes; a file stream would make a system call each time.
class FileSink final : public Pipeline {
public:
    explicit FileSink(int fd) : Pipeline("output file", nullptr), m_fd(fd) { m_pending.reserve(kChunkBytes); }

    void write(unsigned char const* data, size_t length) override {
        m_total += static_cast<int64_t>(length);
        if (length >= kChunkBytes) {
            // A large piece goes straight to the file, after what is pending, without a copy.
            flush();
            writeOut(reinterpret_cast<const char*>(data), length);
            return;
        }
        m_pending.append(reinterpret_cast<const char*>(data), length);
        if (m_pending.size() >= kChunkBytes) flush();
    }
    void finish() override {}  // the whole file is flushed once qpdf is done
    void write(std::string_view text) { write(reinterpret_cast<unsigned char const*>(text.data()), text.size()); }

    // Writes what is pending; false once any write has failed.
    bool flush() {
        writeOut(m_pending.data(), m_pending.size());
        m_pending.clear();
        return m_ok;
    }

    int64_t total() const { return m_total; }

private:
    void writeOut(const char* data, size_t left) {
        while (m_ok && left > 0) {
            const ssize_t n = ::write(m_fd, data, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                m_ok = false;
                break;
            }
            data += n;
            left -= static_cast<size_t>(n);
        }
    }

    static constexpr size_t kChunkBytes = size_t{256} << 10;
    int m_fd;
    std::string m_pending;
    int64_t m_total = 0;
    bool m_ok = true;
};

}  // namespace kolvex::qpdf_bridge
