// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/archive/ArchiveNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <system_error>

#include "core/services/OutputNaming.h"
#include "core/services/PathUtils.h"
#include "core/services/UniqueFd.h"
#include "core/services/Utf8.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

// The length of the valid UTF-8 sequence at the start of `bytes`; 0 when there is none.
size_t sequenceLength(std::string_view bytes) {
    const auto lead = static_cast<unsigned char>(bytes.front());
    const size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                        : lead >= 0xF0 && lead <= 0xF4   ? 4
                                                                         : 0;
    if (length == 0 || length > bytes.size()) return 0;
    return isValidUtf8(bytes.substr(0, length)) ? length : 0;
}

// An item's escaped name, free in its folder: "<stem> 2.<ext>" and on when it is taken.
// The longest name one item may have, with room for a " 999" the free-name search may add.
constexpr size_t kLongestName = 255;
constexpr size_t kNumberRoom = 4;

// `name` cut to `room` bytes, its extension kept: never inside a %XX or a character.
std::string fitted(const std::string& name, size_t room) {
    if (name.size() <= room) return name;
    const auto dot = name.rfind('.');
    const bool keepExtension = dot != std::string::npos && dot > 0 && name.size() - dot <= 16;
    const std::string extension = keepExtension ? name.substr(dot) : std::string();
    size_t cut = room - extension.size();
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;  // inside a character
    if (cut >= 1 && name[cut - 1] == '%') cut -= 1;                                      // inside a %XX
    else if (cut >= 2 && name[cut - 2] == '%') cut -= 2;
    return name.substr(0, cut) + extension;
}

fs::path freeEscapedName(const fs::path& item) {
    // Each odd byte takes three: a name near the longest grows past it, and is cut to fit.
    std::string name = ArchiveNames::escaped(paths::lastComponent(item));
    if (name.size() > kLongestName) name = fitted(name, kLongestName - kNumberRoom);
    const fs::path folder = item.parent_path();
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(folder / name, ec))) return folder / name;
    const auto dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot + 1) : std::string();
    for (int number = 2; number <= OutputNaming::maxCollisionAttempts; ++number) {
        const fs::path candidate = folder / OutputNaming::filename(stem, number, extension);
        if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
    }
    throw fs::filesystem_error("No free name for an escaped entry", item, std::make_error_code(std::errc::file_exists));
}

uint16_t read16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
}

uint32_t read32(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(read16(bytes, at)) | static_cast<uint32_t>(read16(bytes, at + 2)) << 16;
}

uint64_t read64(const std::string& bytes, size_t at) {
    return static_cast<uint64_t>(read32(bytes, at)) | static_cast<uint64_t>(read32(bytes, at + 4)) << 32;
}

std::string readAt(int fd, uint64_t offset, uint64_t count) {
    std::string bytes(count, '\0');
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, bytes.data() + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::system_error(errno, std::generic_category(), "Could not read the ZIP");
        if (n == 0) throw std::runtime_error("The ZIP ends early");
        done += static_cast<size_t>(n);
    }
    return bytes;
}

void writeAt(int fd, uint64_t offset, const std::string& bytes) {
    if (::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) != static_cast<ssize_t>(bytes.size()))
        throw std::system_error(errno, std::generic_category(), "Could not write the ZIP");
}

struct CentralDirectory {
    uint64_t offset = 0;
    uint64_t size = 0;
};

// Where the central directory is, read off the end record (and its ZIP64 form when the plain
// one has run out of digits).
CentralDirectory locateCentralDirectory(int fd, uint64_t fileSize) {
    constexpr uint64_t kEndRecord = 22;
    if (fileSize < kEndRecord) throw std::runtime_error("Too short for a ZIP");
    const uint64_t tailSize = std::min<uint64_t>(fileSize, kEndRecord + 0xFFFF);
    const std::string tail = readAt(fd, fileSize - tailSize, tailSize);
    const size_t end = tail.rfind(std::string_view("PK\x05\x06", 4));
    if (end == std::string::npos || end + kEndRecord > tail.size()) throw std::runtime_error("No ZIP end record");
    CentralDirectory directory{read32(tail, end + 16), read32(tail, end + 12)};
    if (directory.offset != 0xFFFFFFFF && directory.size != 0xFFFFFFFF) return directory;
    // The ZIP64 locator sits right before the end record and names the ZIP64 end record.
    const uint64_t endAt = fileSize - tailSize + end;
    if (endAt < 20) throw std::runtime_error("No ZIP64 locator");
    const std::string locator = readAt(fd, endAt - 20, 20);
    if (locator.compare(0, 4, "PK\x06\x07", 4) != 0) throw std::runtime_error("No ZIP64 locator");
    const std::string record = readAt(fd, read64(locator, 8), 56);
    if (record.compare(0, 4, "PK\x06\x06", 4) != 0) throw std::runtime_error("No ZIP64 end record");
    return {read64(record, 48), read64(record, 40)};
}

// The local header's offset of a central directory entry, from its ZIP64 extra field when the
// plain field is full.
uint64_t localHeaderOffset(const std::string& directory, size_t entry, uint16_t nameLength, uint16_t extraLength) {
    const uint64_t plain = read32(directory, entry + 42);
    if (plain != 0xFFFFFFFF) return plain;
    size_t at = entry + 46 + nameLength;
    const size_t end = at + extraLength;
    while (at + 4 <= end) {
        const uint16_t id = read16(directory, at);
        const uint16_t length = read16(directory, at + 2);
        if (id == 0x0001) {
            // Present in this order, each only when its plain field is full.
            size_t field = at + 4;
            if (read32(directory, entry + 24) == 0xFFFFFFFF) field += 8;
            if (read32(directory, entry + 20) == 0xFFFFFFFF) field += 8;
            if (field + 8 > at + 4 + length) break;
            return read64(directory, field);
        }
        at += 4 + length;
    }
    throw std::runtime_error("A ZIP entry without its offset");
}

}  // namespace

std::string ArchiveNames::escaped(std::string_view name) {
    if (isValidUtf8(name)) return std::string(name);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string result;
    while (!name.empty()) {
        if (const size_t length = sequenceLength(name)) {
            result.append(name.substr(0, length));
            name.remove_prefix(length);
            continue;
        }
        const auto byte = static_cast<unsigned char>(name.front());
        result += '%';
        result += kDigits[byte >> 4];
        result += kDigits[byte & 0xF];
        name.remove_prefix(1);
    }
    return result;
}

std::vector<std::string> ArchiveNames::escapeNonUtf8(const fs::path& folder) {
    std::vector<fs::path> odd;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it)
        if (!isValidUtf8(paths::lastComponent(it->path()))) odd.push_back(it->path());
    // Deepest first: a folder is renamed after everything inside it.
    std::stable_sort(odd.begin(), odd.end(), [](const fs::path& a, const fs::path& b) {
        return std::distance(a.begin(), a.end()) > std::distance(b.begin(), b.end());
    });
    std::vector<std::string> renamed;
    for (const auto& item : odd) {
        const fs::path target = freeEscapedName(item);
        fs::rename(item, target);
        renamed.push_back(paths::lastComponent(target));
    }
    // A link keeps leading where it led: its target is written the same way.
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        if (!it->is_symlink()) continue;
        const std::string target = fs::read_symlink(it->path()).string();
        if (isValidUtf8(target)) continue;
        std::string rewritten;
        for (size_t start = 0; start <= target.size();) {
            const size_t slash = std::min(target.find('/', start), target.size());
            rewritten += escaped(std::string_view(target).substr(start, slash - start));
            if (slash < target.size()) rewritten += '/';
            start = slash + 1;
        }
        fs::remove(it->path());
        fs::create_symlink(rewritten, it->path());
    }
    return renamed;
}

int ArchiveNames::clearFalseUtf8Marks(const fs::path& zip) { return falseUtf8Marks(zip, true); }

int ArchiveNames::countFalseUtf8Marks(const fs::path& zip) noexcept {
    try {
        return falseUtf8Marks(zip, false);
    } catch (...) {
        return 0;
    }
}

int ArchiveNames::falseUtf8Marks(const fs::path& zip, bool clear) {
    constexpr uint16_t kUtf8Flag = 0x0800;
    UniqueFd fd(::open(zip.c_str(), (clear ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
    if (!fd) throw std::system_error(errno, std::generic_category(), "Could not open " + zip.string());
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) throw std::system_error(errno, std::generic_category(), "Could not read " + zip.string());
    const auto where = locateCentralDirectory(fd.get(), static_cast<uint64_t>(info.st_size));
    if (where.offset + where.size > static_cast<uint64_t>(info.st_size)) throw std::runtime_error("A ZIP directory past its end");
    const std::string directory = readAt(fd.get(), where.offset, where.size);

    int cleared = 0;
    for (size_t entry = 0; entry + 46 <= directory.size();) {
        if (directory.compare(entry, 4, "PK\x01\x02", 4) != 0) break;
        const uint16_t flags = read16(directory, entry + 8);
        const uint16_t nameLength = read16(directory, entry + 28);
        const uint16_t extraLength = read16(directory, entry + 30);
        const uint16_t commentLength = read16(directory, entry + 32);
        if (entry + 46 + nameLength + extraLength + commentLength > directory.size())
            throw std::runtime_error("A ZIP directory entry past its end");
        const std::string_view name(directory.data() + entry + 46, nameLength);
        if ((flags & kUtf8Flag) && !isValidUtf8(name) && !clear) {
            ++cleared;
        } else if ((flags & kUtf8Flag) && !isValidUtf8(name)) {
            const uint64_t local = localHeaderOffset(directory, entry, nameLength, extraLength);
            const std::string header = readAt(fd.get(), local, 30);
            if (header.compare(0, 4, "PK\x03\x04", 4) != 0) throw std::runtime_error("A ZIP entry without its header");
            const auto clear = [](uint16_t value) {
                const auto kept = static_cast<uint16_t>(value & ~kUtf8Flag);
                return std::string{static_cast<char>(kept & 0xFF), static_cast<char>(kept >> 8)};
            };
            writeAt(fd.get(), local + 6, clear(read16(header, 6)));
            writeAt(fd.get(), where.offset + entry + 8, clear(flags));
            ++cleared;
        }
        entry += 46 + nameLength + extraLength + commentLength;
    }
    if (cleared > 0 && ::fsync(fd.get()) != 0)
        throw std::system_error(errno, std::generic_category(), "Could not write " + zip.string());
    if (const int error = fd.close())
        throw std::system_error(error, std::generic_category(), "Could not write " + zip.string());
    return cleared;
}

}  // namespace kolvex
