// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a .docx package: its parts out of the ZIP, each within its limit, before any XML is
// parsed (DocxReader::readParts).
#include <cstring>
#include <string>

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/DocxReader.h"
#include "core/engines/document/RichDocument.h"

namespace kolvex {

namespace {

constexpr size_t kMaxEntries = 100000;

struct ArchiveCloser {
    void operator()(archive* a) const { archive_read_free(a); }
};

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

std::string readEntry(archive* a, const char* name, uint64_t limit) {
    std::string data;
    char buffer[65536];
    for (;;) {
        const la_ssize_t n = archive_read_data(a, buffer, sizeof buffer);
        if (n < 0) throw DocumentFormatError(std::string("cannot decompress ") + name + ": " + (archive_error_string(a) ? archive_error_string(a) : "damaged"));
        if (n == 0) break;
        if (data.size() + static_cast<size_t>(n) > limit) throw DocumentFormatError(std::string(name) + " is too large");
        data.append(buffer, static_cast<size_t>(n));
    }
    return data;
}

}  // namespace

std::unique_ptr<RichDocument> DocxReader::read(const std::filesystem::path& path) {
    FdCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) throw DocumentFormatError("cannot open the document");
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) throw DocumentFormatError("not a regular file");

    std::unique_ptr<archive, ArchiveCloser> a(archive_read_new());
    if (!a) throw DocumentFormatError("cannot read archives");
    archive_read_support_format_zip(a.get());
    if (archive_read_open_fd(a.get(), file.fd, 65536) != ARCHIVE_OK) throw DocumentFormatError("not a ZIP package");

    Parts parts;
    bool hasDocument = false;
    uint64_t mediaBytes = 0;
    archive_entry* entry = nullptr;
    for (size_t count = 0; count < kMaxEntries; ++count) {
        const int status = archive_read_next_header(a.get(), &entry);
        if (status == ARCHIVE_EOF) break;
        if (status < ARCHIVE_WARN) throw DocumentFormatError("not a ZIP package");
        const char* name = archive_entry_pathname(entry);
        if (!name) continue;
        if (std::strcmp(name, "word/document.xml") == 0) {
            parts.document = readEntry(a.get(), name, kMaxPartBytes);
            hasDocument = true;
        } else if (std::strcmp(name, "word/_rels/document.xml.rels") == 0) {
            parts.relationships = readEntry(a.get(), name, kMaxPartBytes);
        } else if (std::strcmp(name, "word/_rels/footnotes.xml.rels") == 0) {
            parts.footnoteRelationships = readEntry(a.get(), name, kMaxPartBytes);
        } else if (std::strcmp(name, "word/_rels/endnotes.xml.rels") == 0) {
            parts.endnoteRelationships = readEntry(a.get(), name, kMaxPartBytes);
        } else if (std::strcmp(name, "word/styles.xml") == 0) {
            parts.styles = readEntry(a.get(), name, kMaxPartBytes);
        } else if (std::strcmp(name, "word/numbering.xml") == 0) {
            parts.numbering = readEntry(a.get(), name, kMaxPartBytes);
        } else if (std::strcmp(name, "word/footnotes.xml") == 0) {
            parts.footnotes = readEntry(a.get(), name, kMaxPartBytes);
        } else if (std::strcmp(name, "word/endnotes.xml") == 0) {
            parts.endnotes = readEntry(a.get(), name, kMaxPartBytes);
        } else if (std::strcmp(name, "word/settings.xml") == 0) {
            parts.settings = readEntry(a.get(), name, kMaxPartBytes);
        } else if (std::strncmp(name, "word/media/", 11) == 0) {
            // Pictures beyond the budget are left out (and noted), not a reason to refuse the text.
            if (mediaBytes >= kMaxMediaBytes) continue;
            std::string bytes = readEntry(a.get(), name, kMaxMediaBytes - mediaBytes);
            mediaBytes += bytes.size();
            parts.media[name] = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
        }
    }
    if (!hasDocument) throw DocumentFormatError("the package has no word/document.xml");
    return readParts(parts);
}

}  // namespace kolvex
