// SPDX-License-Identifier: GPL-3.0-or-later
// One page written alone, straight from its document: what the page uses is written as stored,
// numbered afresh, with a page tree of one page around it. This is what copying the page into an
// empty document and writing that gives, without building the document.
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include "core/engines/pdf/QpdfDocumentData.h"
#include "core/engines/pdf/QpdfFileSink.h"

namespace kolvex::qpdf_bridge {

namespace {

// Object numbers of the output: the catalog, the page tree and the page come first.
constexpr int kCatalog = 1;
constexpr int kPageTree = 2;
constexpr int kPage = 3;

// A file identifier no other file shares: 16 random bytes drawn once, with a count of the files
// this process has written mixed into the last eight, in hexadecimal.
std::string freshIdentifier() {
    static const std::array<unsigned char, 16> base = [] {
        std::array<unsigned char, 16> bytes{};
        size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw std::runtime_error("no random bytes");
            got += static_cast<size_t>(n);
        }
        return bytes;
    }();
    static std::atomic<uint64_t> written{0};
    std::array<unsigned char, 16> bytes = base;
    const uint64_t count = ++written;
    for (int i = 0; i < 8; ++i) bytes[8 + static_cast<size_t>(i)] ^= static_cast<unsigned char>(count >> (8 * i));
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

class PageWriter {
public:
    PageWriter(FileSink& sink, QPDFObjectHandle page) : m_sink(sink), m_page(std::move(page)) {}

    void write(const std::string& version) {
        put("%PDF-" + version + "\n%\xbf\xf7\xa2\xfe\n");
        begin(kCatalog);
        put("<< /Pages 2 0 R /Type /Catalog >>\nendobj\n");
        begin(kPageTree);
        put("<< /Count 1 /Kids [ 3 0 R ] /Type /Pages >>\nendobj\n");
        begin(kPage);
        dictionary(m_page, true);
        put("\nendobj\n");
        // Each object is numbered when first referred to, and written in that order.
        for (size_t i = 0; i < m_queue.size(); ++i) {
            QPDFObjectHandle object = m_queue[i];
            const int number = kPage + 1 + static_cast<int>(i);
            begin(number);
            if (auto length = m_lengths.find(number); length != m_lengths.end()) {
                put(std::to_string(length->second) + "\nendobj\n");
            } else if (object.isStream()) {
                stream(object);
            } else {
                value(object, true);
                put("\nendobj\n");
            }
        }
        const int64_t table = m_sink.total();
        put("xref\n0 " + std::to_string(m_offsets.size() + 1) + "\n0000000000 65535 f \n");
        char line[32];
        for (const int64_t offset : m_offsets) {
            std::snprintf(line, sizeof line, "%010lld 00000 n \n", static_cast<long long>(offset));
            put(line);
        }
        // A fresh identifier for every file: two pages of one split are two documents.
        const std::string id = freshIdentifier();
        put("trailer << /Root 1 0 R /Size " + std::to_string(m_offsets.size() + 1) + " /ID [<" + id + "><" + id +
            ">] >>\nstartxref\n" + std::to_string(table) + "\n%%EOF\n");
    }

private:
    void put(std::string_view text) { m_sink.write(text); }

    void begin(int number) {
        m_offsets.push_back(m_sink.total());
        put(std::to_string(number) + " 0 obj\n");
    }

    // An indirect object is referred to by its new number. Other pages and the page tree are not
    // followed, as a copy of this page alone would not hold them; the page itself is object 3.
    void reference(QPDFObjectHandle object) {
        const QPDFObjGen id = object.getObjGen();
        if (id == m_page.getObjGen()) return put("3 0 R");
        if (object.isNull() || object.isPageObject() || object.isPagesObject()) return put("null");
        auto [at, added] = m_numbers.try_emplace(id, nextNumber());
        if (added) m_queue.push_back(object);
        put(std::to_string(at->second) + " 0 R");
    }

    int nextNumber() const { return kPage + 1 + static_cast<int>(m_queue.size()); }

    void value(QPDFObjectHandle object, bool body = false) {
        if (!body && object.isIndirect()) return reference(object);
        if (object.isDictionary()) return dictionary(object, false);
        if (object.isArray()) {
            put("[ ");
            for (QPDFObjectHandle item : object.aitems()) {
                value(item);
                put(" ");
            }
            return put("]");
        }
        if (object.isStream()) throw std::logic_error("a stream inside an object");
        put(object.unparseResolved());
    }

    // The page's own dictionary sits in the one-page tree in place of its parent.
    void dictionary(QPDFObjectHandle object, bool page, const std::string& length = {}) {
        put("<< ");
        for (auto [key, item] : object.ditems()) {
            if ((page && key == "/Parent") || (!length.empty() && key == "/Length")) continue;
            put(QPDFObjectHandle::newName(key).unparse());
            put(" ");
            value(item);
            put(" ");
        }
        if (page) put("/Parent 2 0 R ");
        if (!length.empty()) put("/Length " + length + " ");
        put(">>");
    }

    // The data as stored, filters and all, handed to the file as it is read; its length, known
    // only then, is an object of its own written later.
    void stream(QPDFObjectHandle object) {
        const int lengthNumber = nextNumber();
        m_queue.push_back(QPDFObjectHandle::newNull());
        dictionary(object.getDict(), false, std::to_string(lengthNumber) + " 0 R");
        put("\nstream\n");
        const int64_t start = m_sink.total();
        bool filtered = false;
        if (!object.pipeStreamData(&m_sink, &filtered, 0, qpdf_dl_none, true)) throw std::runtime_error("unreadable stream");
        m_lengths[lengthNumber] = m_sink.total() - start;
        put("\nendstream\nendobj\n");
    }

    FileSink& m_sink;
    QPDFObjectHandle m_page;
    std::map<QPDFObjGen, int> m_numbers;
    std::vector<QPDFObjectHandle> m_queue;
    std::map<int, int64_t> m_lengths;  // each stream's length object, by number
    std::vector<int64_t> m_offsets;
};

}  // namespace

std::optional<WriteStatus> writePage(Document& document, int index, const std::filesystem::path& file,
                                     int64_t* bytesWritten) {
    // Encrypted objects would have to be encrypted again, and a form's fields live outside the
    // page: the caller copies such pages instead.
    if (document.pdf.isEncrypted() || hasInteractiveForm(document)) return std::nullopt;
    auto& pages = pagesOf(document);
    if (index < 0 || static_cast<size_t>(index) >= pages.size()) throw std::out_of_range("no such page");
    if (!document.ownVersion) document.ownVersion = document.pdf.getVersionAsPDFVersion();
    std::string version;
    int extension = 0;
    document.ownVersion->getVersion(version, extension);

    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return WriteStatus::cannotCreate;
    FileSink sink(fd);
    bool written = false;
    try {
        PageWriter(sink, pages[static_cast<size_t>(index)].getObjectHandle()).write(version);
        written = true;
    } catch (const std::exception&) {
        // Something in the page could not be read as stored: qpdf's own copy may still manage.
        ::close(fd);
        return std::nullopt;
    }
    const bool flushed = sink.flush();
    const bool closed = ::close(fd) == 0;
    if (!(written && flushed && closed)) return WriteStatus::failed;
    if (bytesWritten) *bytesWritten = sink.total();
    return WriteStatus::written;
}

}  // namespace kolvex::qpdf_bridge
