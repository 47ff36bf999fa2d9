// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Included only by the files built as C++17 that talk to qpdf directly (see QpdfBridge.h).

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <qpdf/InputSource.hh>

namespace kolvex::qpdf_bridge {

// A PDF file as qpdf reads it, through blocks of the file read with pread. qpdf's own file
// source goes through stdio, which asks the kernel for the file position at nearly every object
// it parses: ten thousand system calls for a document of a few hundred pages. Here positions are
// ours and a block serves every small read that falls in it; large reads go to the file at once.
// One thread at a time, like the document that reads it.
class QpdfFileSource final : public InputSource {
public:
    // The regular file at `file`, or null when it cannot be opened or is no regular file (a
    // FIFO or a device would block or never end).
    static std::shared_ptr<QpdfFileSource> open(const std::filesystem::path& file);

    QpdfFileSource(std::string name, int fd, qpdf_offset_t size);
    ~QpdfFileSource() override;
    QpdfFileSource(const QpdfFileSource&) = delete;
    QpdfFileSource& operator=(const QpdfFileSource&) = delete;

    qpdf_offset_t findAndSkipNextEOL() override;
    std::string const& getName() const override { return m_name; }
    qpdf_offset_t tell() override { return m_offset; }
    void seek(qpdf_offset_t offset, int whence) override;
    void rewind() override { m_offset = 0; }
    size_t read(char* buffer, size_t length) override;
    void unreadCh(char ch) override;

private:
    // Makes the block that holds `offset` the current one; false when nothing is there.
    bool load(qpdf_offset_t offset);
    // Reads `length` bytes at `offset` from the file; how many there were.
    size_t readFile(char* buffer, size_t length, qpdf_offset_t offset);
    bool inBlock(qpdf_offset_t offset) const {
        return offset >= m_blockStart && offset < m_blockStart + static_cast<qpdf_offset_t>(m_blockLength);
    }

    static constexpr size_t kBlockBytes = size_t{64} << 10;

    std::string m_name;
    int m_fd;
    qpdf_offset_t m_size;
    qpdf_offset_t m_offset = 0;
    std::vector<char> m_block;
    qpdf_offset_t m_blockStart = 0;
    size_t m_blockLength = 0;
};

}  // namespace kolvex::qpdf_bridge
