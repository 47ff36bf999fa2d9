// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/archive/ArchiveSurvey.h"

#include <locale.h>

#include <algorithm>
#include <memory>
#include <string>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include <archive.h>
#include <archive_entry.h>
#include <fmt/format.h>
#include <fcntl.h>
#include <unistd.h>

#include "core/services/Cancellation.h"
#include "core/services/OutputNaming.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

struct ReaderCloser {
    void operator()(archive* reader) const { archive_read_free(reader); }
};

bool mentionsEncryption(archive* reader) {
    const char* text = archive_error_string(reader);
    if (!text) return false;
    const std::string lowered = paths::asciiLower(text);
    return lowered.find("encrypt") != std::string::npos || lowered.find("passphrase") != std::string::npos ||
           lowered.find("password") != std::string::npos;
}

// "x.tar.gz", "x.tgz" and the like: a compressed tar, not a single stream.
bool namedAsTar(const fs::path& path) {
    const std::string name = paths::asciiLower(paths::lastComponent(path));
    const auto endsWith = [&name](std::string_view tail) {
        return name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    for (const std::string& extension : OutputNaming::compoundExtensions())
        if (endsWith("." + extension)) return true;
    for (std::string_view extension : {".tgz", ".tbz", ".tbz2", ".txz", ".taz", ".tlz"})
        if (endsWith(extension)) return true;
    return false;
}

// Every archive format libarchive reads except mtree: an mtree "archive" is a text listing of
// paths on the reading machine, and a plain word list or base64 text passes for one.
void supportArchiveFormats(archive* reader) {
    archive_read_support_format_7zip(reader);
    archive_read_support_format_ar(reader);
    archive_read_support_format_cab(reader);
    archive_read_support_format_cpio(reader);
    archive_read_support_format_empty(reader);
    archive_read_support_format_iso9660(reader);
    archive_read_support_format_lha(reader);
    archive_read_support_format_rar(reader);
    archive_read_support_format_rar5(reader);
    archive_read_support_format_tar(reader);
    archive_read_support_format_warc(reader);
    archive_read_support_format_xar(reader);
    archive_read_support_format_zip(reader);
}

// Names are read as UTF-8 on this thread while it lives, whatever the process's locale: names
// stored as Unicode (7-Zip, flagged ZIP entries) are then compared as the unpacking sees them.
class Utf8Names {
public:
    Utf8Names() : m_locale(::newlocale(LC_ALL_MASK, "C.UTF-8", nullptr)) {
        if (m_locale) m_previous = ::uselocale(m_locale);
    }
    ~Utf8Names() {
        if (!m_locale) return;
        ::uselocale(m_previous);
        ::freelocale(m_locale);
    }
    Utf8Names(const Utf8Names&) = delete;
    Utf8Names& operator=(const Utf8Names&) = delete;

private:
    locale_t m_locale;
    locale_t m_previous = nullptr;
};

// The path an entry unpacks to, as a key: without leading "./" or "/" and a trailing "/".
std::string unpackedPath(std::string name) {
    for (;;) {
        if (name.starts_with("./")) name.erase(0, 2);
        else if (name.starts_with("/")) name.erase(0, 1);
        else break;
    }
    while (name.ends_with("/")) name.pop_back();
    return name;
}

std::string longPathWords(size_t limit) {
    return fmt::format("holds a path longer than the system allows ({} bytes)", limit);
}

// Throws beyondLimit when a name in the entry's path is longer than the system takes.
void refuseLongNames(const std::string& entryPath, const fs::path& archive) {
    size_t start = 0;
    while (start <= entryPath.size()) {
        const size_t end = std::min(entryPath.find('/', start), entryPath.size());
        if (end - start > ArchiveSurvey::kMaxName)
            throw ConversionError::beyondLimit(
                archive, fmt::format("holds a name longer than the system allows ({} bytes)", ArchiveSurvey::kMaxName));
        start = end + 1;
    }
}

// Whether each path an archive unpacks to is a folder (its own entry's, or one an entry below it
// makes) or not, to find a name that is both.
class PathKinds {
public:
    // Records an entry; returns the name that is both a file and a folder, when it makes one.
    std::optional<std::string> add(const std::string& path, bool folder) {
        if (path.empty()) return std::nullopt;
        const auto [at, added] = m_kinds.emplace(path, folder);
        if (!added && at->second != folder) return path;
        // The folders above it, up to the first already known (which knows those above it).
        for (size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0; slash = path.rfind('/', slash - 1)) {
            const auto [above, new_] = m_kinds.emplace(path.substr(0, slash), true);
            if (!above->second) return above->first;
            if (!new_) break;
        }
        return std::nullopt;
    }

private:
    std::unordered_map<std::string, bool> m_kinds;
};

}  // namespace

void ArchiveSurvey::refusePathsBeyond(const fs::path& folder, const fs::path& archive) const {
    if (longestPath == 0) return;
    const size_t prefix = paths::absolute(folder).string().size() + 1;
    if (prefix + longestPath > kMaxPath) throw ConversionError::beyondLimit(archive, longPathWords(kMaxPath));
}

ArchiveSurvey ArchiveSurvey::of(const fs::path& path, std::stop_token stop, Source source) {
    // Opened here first, so a missing or locked file reads as such and a FIFO cannot hang us.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) throw ConversionError::unreadableInput(path);
    ::close(fd);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) throw ConversionError::unreadableInput(path);

    const Utf8Names utf8;
    std::unique_ptr<archive, ReaderCloser> reader(archive_read_new());
    archive_read_support_filter_all(reader.get());
    if (source == Source::compressedStream) {
        archive_read_support_format_tar(reader.get());
        archive_read_support_format_empty(reader.get());  // the stream of an empty file
    } else {
        supportArchiveFormats(reader.get());
    }
    // Bids last: a compressed tar is still read as a tar.
    archive_read_support_format_raw(reader.get());
    if (archive_read_open_filename(reader.get(), path.c_str(), 64 * 1024) != ARCHIVE_OK) {
        if (mentionsEncryption(reader.get())) throw ConversionError::passwordProtected(path);
        throw ConversionError::corruptedInput(path);
    }

    ArchiveSurvey survey;
    std::unordered_set<std::string> names;
    PathKinds kinds;
    for (;;) {
        throwIfStopRequested(stop);
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF) break;
        if (status < ARCHIVE_WARN) {
            if (archive_read_has_encrypted_entries(reader.get()) > 0 || mentionsEncryption(reader.get()))
                throw ConversionError::passwordProtected(path);
            throw ConversionError::corruptedInput(path);
        }
        if (archive_entry_is_encrypted(entry)) throw ConversionError::passwordProtected(path);
        if (archive_format(reader.get()) == ARCHIVE_FORMAT_RAW) {
            // Anything reads as "raw" data; only a real compression filter makes it a stream.
            if (archive_filter_code(reader.get(), 0) == ARCHIVE_FILTER_NONE) throw ConversionError::corruptedInput(path);
            survey.singleStream = true;
            survey.sizesKnown = false;
            survey.entries = 1;
            break;
        }
        ++survey.entries;
        const char* name = archive_entry_pathname(entry);
        if (name) {
            // Refused here, before the set of names below can grow with a deep archive's paths.
            const std::string unpacked = unpackedPath(name);
            if (unpacked.size() > kMaxPath) throw ConversionError::beyondLimit(path, longPathWords(kMaxPath));
            refuseLongNames(unpacked, path);
            survey.longestPath = std::max(survey.longestPath, unpacked.size());
        }
        const bool replacesByDesign = (archive_format(reader.get()) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR;
        const bool folder = archive_entry_filetype(entry) == AE_IFDIR;
        if (name && !replacesByDesign && !folder && !survey.clash && !names.insert(unpackedPath(name)).second)
            survey.clash = unpackedPath(name);
        // A file and a folder under one name cannot both be unpacked, in any format. (A path
        // through a link is unsafe, and refused as such when unpacked.)
        if (name && !survey.clash && archive_entry_filetype(entry) != AE_IFLNK)
            survey.clash = kinds.add(unpackedPath(name), folder);
        if (archive_entry_size_is_set(entry) && archive_entry_filetype(entry) == AE_IFREG) {
            survey.declaredBytes += archive_entry_size(entry);
        } else if (archive_entry_filetype(entry) == AE_IFREG) {
            survey.sizesKnown = false;
        }
        if (archive_read_data_skip(reader.get()) < ARCHIVE_WARN) {
            if (archive_read_has_encrypted_entries(reader.get()) > 0 || mentionsEncryption(reader.get()))
                throw ConversionError::passwordProtected(path);
            throw ConversionError::corruptedInput(path);
        }
    }
    // A compressed run of zeros reads as an empty tar, whose end is two blocks of zeros. A
    // compressed file not named as a tar that holds no entry is the single stream it looks like.
    if (survey.entries == 0 && archive_filter_code(reader.get(), 0) != ARCHIVE_FILTER_NONE && !namedAsTar(path)) {
        survey.singleStream = true;
        survey.sizesKnown = false;
        survey.entries = 1;
    }
    return survey;
}

}  // namespace kolvex
