// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/WorkInProgress.h"

#include <cerrno>
#include <charconv>
#include <map>
#include <set>
#include <string>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/services/FolderTree.h"
#include "core/services/Log.h"
#include "core/services/TemporaryFileManager.h"
#include "core/services/Uuid.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxRecord = 8192;
// A set's record names every item of the set: a document of many thousand pages still fits.
constexpr size_t kMaxSetRecord = size_t{64} << 20;
const std::string kSetPrefix = "set-";

bool writeWhole(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::optional<std::string> readRecord(const fs::path& file, size_t limit = kMaxRecord) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<size_t>(info.st_size) >= limit) {
        ::close(fd);
        return std::nullopt;
    }
    std::string text(static_cast<size_t>(info.st_size) + 1, '\0');
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (done == 0 || done == text.size()) return std::nullopt;
    text.resize(done);
    return text;
}

bool ownedByUs(const struct stat& info) { return info.st_uid == ::geteuid(); }

// What tells an item of a set from anything that took its name later: a move keeps all of it
// (the change time is the one a move updates, so it is not part of it).
struct Identity {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t type = 0;
    int64_t size = 0;
    int64_t seconds = 0;
    int64_t nanoseconds = 0;

    static Identity of(const struct stat& info) {
        return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
                static_cast<uint64_t>(info.st_mode & S_IFMT), static_cast<int64_t>(info.st_size),
                static_cast<int64_t>(info.st_mtim.tv_sec), static_cast<int64_t>(info.st_mtim.tv_nsec)};
    }
    bool operator==(const Identity&) const = default;
};

// One line of a set's record: the identity, then the path with its length before it, so that
// any name (a line break in it included) reads back whole.
std::string setLine(const Identity& id, const fs::path& path) {
    const std::string& name = path.native();
    return std::to_string(id.device) + ' ' + std::to_string(id.inode) + ' ' + std::to_string(id.type) + ' ' +
           std::to_string(id.size) + ' ' + std::to_string(id.seconds) + ' ' + std::to_string(id.nanoseconds) + ' ' +
           std::to_string(name.size()) + ':' + name + '\n';
}

template <class Number>
bool readNumber(const char*& at, const char* end, Number& value, char separator) {
    const auto [next, error] = std::from_chars(at, end, value);
    if (error != std::errc() || next == end || *next != separator) return false;
    at = next + 1;
    return true;
}

// The items of a set's record; a line cut short by the kill ends the list.
std::vector<std::pair<Identity, fs::path>> parseSet(const std::string& text) {
    std::vector<std::pair<Identity, fs::path>> items;
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    while (at < end) {
        Identity id;
        size_t length = 0;
        if (!readNumber(at, end, id.device, ' ') || !readNumber(at, end, id.inode, ' ') ||
            !readNumber(at, end, id.type, ' ') || !readNumber(at, end, id.size, ' ') ||
            !readNumber(at, end, id.seconds, ' ') || !readNumber(at, end, id.nanoseconds, ' ') ||
            !readNumber(at, end, length, ':') || static_cast<size_t>(end - at) < length + 1 || at[length] != '\n') {
            break;
        }
        items.emplace_back(id, fs::path(std::string(at, length)));
        at += length + 1;
    }
    return items;
}

// Whether `path` is still the item a set recorded: same identity, ours, a file or a folder.
bool isRecordedItem(const fs::path& path, const Identity& id) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && ownedByUs(info) && (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) &&
           Identity::of(info) == id;
}

// Takes back what a dead process moved into place of a set whose commit did not finish. Items
// are found under the name recorded, else (moved under a name the record did not get to) by
// their inode in the same folder; anything else under those names is left alone. Returns
// whether the record can go.
bool sweepSet(const fs::path& record, int& removed) {
    const auto text = readRecord(record, kMaxSetRecord);
    if (!text) return true;
    bool keep = false;
    std::set<std::pair<uint64_t, uint64_t>> found;
    std::map<fs::path, std::vector<Identity>> missing;  // by folder
    const auto take = [&](const fs::path& path, const Identity& id) {
        found.emplace(id.device, id.inode);
        if (WorkInProgress::removeItem(path)) {
            ++removed;
        } else {
            keep = true;
        }
    };
    const auto items = parseSet(*text);
    for (const auto& [id, path] : items) {
        if (!path.is_absolute() || found.count({id.device, id.inode})) continue;
        if (isRecordedItem(path, id)) {
            take(path, id);
            continue;
        }
        // A folder that is not there now (a drive not plugged in) may come back: keep the record.
        struct stat parent {};
        if (::stat(path.parent_path().c_str(), &parent) != 0) keep = true;
    }
    for (const auto& [id, path] : items) {
        if (path.is_absolute() && !found.count({id.device, id.inode})) missing[path.parent_path()].push_back(id);
    }
    for (const auto& [folder, ids] : missing) {
        // Listed once: the inodes of its entries come with the listing, without a look at each.
        std::map<uint64_t, std::vector<std::string>> byInode;
        if (DIR* listing = ::opendir(folder.c_str())) {
            while (const dirent* entry = ::readdir(listing)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") byInode[static_cast<uint64_t>(entry->d_ino)].push_back(name);
            }
            ::closedir(listing);
        }
        for (const Identity& id : ids) {
            const auto names = byInode.find(id.inode);
            if (names == byInode.end()) continue;
            for (const std::string& name : names->second) {
                if (!found.count({id.device, id.inode}) && isRecordedItem(folder / name, id)) take(folder / name, id);
            }
        }
    }
    return !keep;
}

// A scratch folder: named by an upper-case UUID, in a root that is ours and closed to others.
bool isScratchFolder(const fs::path& item) {
    const std::string name = item.filename().string();
    if (name.size() != 36) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    struct stat root {};
    return ::lstat(item.parent_path().c_str(), &root) == 0 && S_ISDIR(root.st_mode) && ownedByUs(root) &&
           (root.st_mode & 077) == 0;
}

// Removes the item a dead process recorded, when it is still of our making. Returns whether
// the record can go (the item is gone, or is not ours to remove).
bool sweepItem(const fs::path& item, int& removed) {
    if (!item.is_absolute()) return true;
    if (!WorkInProgress::isStagingName(item.filename().string()) && !isScratchFolder(item)) return true;
    struct stat info {};
    if (::lstat(item.c_str(), &info) != 0) {
        // A folder that is not there now (a drive not plugged in) may come back: keep the record.
        struct stat parent {};
        return errno == ENOENT && ::stat(item.parent_path().c_str(), &parent) == 0;
    }
    if (!ownedByUs(info) || !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))) return true;
    // What cannot be removed now (a program of the killed run still writing into it) is tried
    // again at the next launch.
    if (!WorkInProgress::removeItem(item)) return false;
    ++removed;
    return true;
}

}  // namespace

WorkInProgress::WorkInProgress(fs::path root) : m_records(std::move(root) / ".in-progress") {}

WorkInProgress::~WorkInProgress() {
    std::lock_guard lock(m_mutex);
    release(false);
}

void WorkInProgress::settle() {
    std::lock_guard lock(m_mutex);
    release(true);
}

void WorkInProgress::release(bool keepLocked) {
    if (m_own.empty()) return;
    // Entries still open belong to work torn down with us: the folder stays, unlocked, and the
    // next sweep takes care of their items. Otherwise the folder goes. The count tells without
    // reading the folder: at exit, a read's buffer would have the allocator gather whatever
    // large documents just freed.
    if (m_open->load() > 0) {
        if (keepLocked) return;
    } else {
        ::unlink((m_own / "lock").c_str());
        ::rmdir(m_own.c_str());
    }
    ::close(m_lock);
    m_lock = -1;
    m_own.clear();
}

WorkInProgress& WorkInProgress::shared() {
    static WorkInProgress instance(TemporaryFileManager::shared().root());
    return instance;
}

bool WorkInProgress::isStagingName(const std::string& name) {
    return name.size() > 1 && name.front() == '.' && name.find(".kolvex-") != std::string::npos;
}

std::optional<fs::path> WorkInProgress::ensureOwnFolder() {
    if (!m_own.empty()) return m_own;
    try {
        TemporaryFileManager(m_records.parent_path()).ensureRoot();
    } catch (const fs::filesystem_error& error) {
        Log::files().error("Cannot keep a record of work in progress: {}", error.what());
        return std::nullopt;
    }
    if (::mkdir(m_records.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    // Made under a hidden name and renamed once locked, so a sweep never sees it unlocked.
    const std::string id = Uuid::random().toString();
    const fs::path making = m_records / ("." + id);
    const fs::path done = m_records / id;
    if (::mkdir(making.c_str(), 0700) != 0) return std::nullopt;
    const int lock = ::open((making / "lock").c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0 || ::rename(making.c_str(), done.c_str()) != 0) {
        if (lock >= 0) ::close(lock);
        std::error_code ignored;
        fs::remove_all(making, ignored);
        return std::nullopt;
    }
    m_lock = lock;
    m_own = done;
    return m_own;
}

WorkInProgress::Entry WorkInProgress::add(const fs::path& item) {
    std::optional<fs::path> folder;
    {
        std::lock_guard lock(m_mutex);
        folder = ensureOwnFolder();
        // Counted before the folder is left, so settle() cannot remove it under this entry.
        if (folder) ++*m_open;
    }
    if (!folder) return {};
    const fs::path file = *folder / Uuid::random().toString();
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    const bool written = fd >= 0 && writeWhole(fd, item.string());
    if (fd >= 0) ::close(fd);
    if (!written) {
        if (fd >= 0) ::unlink(file.c_str());
        --*m_open;
        return {};
    }
    return Entry(file, m_open);
}

WorkInProgress::Entry WorkInProgress::addSet(const std::vector<std::pair<struct stat, fs::path>>& moves) {
    std::string text;
    for (const auto& [staged, destination] : moves) {
        // An item that is not there cannot be moved: its commit fails and takes the set back.
        if (staged.st_ino != 0) text += setLine(Identity::of(staged), destination);
    }
    std::optional<fs::path> folder;
    {
        std::lock_guard lock(m_mutex);
        folder = ensureOwnFolder();
        if (folder) ++*m_open;  // as in add()
    }
    if (!folder) return {};
    const fs::path file = *folder / (kSetPrefix + Uuid::random().toString());
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    const bool written = fd >= 0 && writeWhole(fd, text);
    if (fd >= 0) ::close(fd);
    if (!written) {
        if (fd >= 0) ::unlink(file.c_str());
        --*m_open;
        Log::files().error("Cannot keep a record of a set of outputs being moved into place");
        return {};
    }
    return Entry(file, m_open);
}

void WorkInProgress::Entry::movedTo(const fs::path& destination) const {
    struct stat info {};
    if (m_file.empty() || ::lstat(destination.c_str(), &info) != 0) return;
    const int fd = ::open(m_file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    // One write: a kill never leaves half a line that reads as another item.
    writeWhole(fd, setLine(Identity::of(info), destination));
    ::close(fd);
}

WorkInProgress::Entry::Entry(Entry&& other) noexcept
    : m_file(std::move(other.m_file)), m_open(std::move(other.m_open)) {
    other.m_file.clear();
}

WorkInProgress::Entry& WorkInProgress::Entry::operator=(Entry&& other) noexcept {
    if (this != &other) {
        drop();
        m_file = std::move(other.m_file);
        m_open = std::move(other.m_open);
        other.m_file.clear();
    }
    return *this;
}

void WorkInProgress::Entry::drop() {
    if (m_file.empty()) return;
    ::unlink(m_file.c_str());
    m_file.clear();
    if (m_open) --*m_open;
    m_open.reset();
}

bool WorkInProgress::removeItem(const fs::path& item) {
    return folder_tree::remove(item);
}

int WorkInProgress::sweep() const {
    fs::path own;
    {
        std::lock_guard lock(m_mutex);
        own = m_own;
    }
    int removed = 0;
    std::error_code ec;
    for (const auto& process : fs::directory_iterator(m_records, ec)) {
        const std::string name = process.path().filename().string();
        if (name.empty() || name.front() == '.' || process.path() == own) continue;
        struct stat info {};
        if (::lstat(process.path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || !ownedByUs(info)) continue;
        // A folder is renamed into view only once its lock is held, so a missing lock means
        // its process took the lock away on the way out.
        const int lock = ::open((process.path() / "lock").c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (lock < 0 && errno != ENOENT) continue;
        if (lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
            ::close(lock);  // its process is alive
            continue;
        }
        bool keep = false;
        std::error_code entriesError;
        for (const auto& record : fs::directory_iterator(process.path(), entriesError)) {
            if (record.path().filename() == "lock") continue;
            if (record.path().filename().string().starts_with(kSetPrefix)) {
                if (!sweepSet(record.path(), removed)) {
                    keep = true;
                    continue;
                }
                ::unlink(record.path().c_str());
                continue;
            }
            const auto item = readRecord(record.path());
            if (item && !sweepItem(fs::path(*item), removed)) {
                keep = true;
                continue;
            }
            ::unlink(record.path().c_str());
        }
        if (!keep) {
            ::unlink((process.path() / "lock").c_str());
            ::rmdir(process.path().c_str());
        }
        if (lock >= 0) ::close(lock);
    }
    if (removed > 0) Log::files().info("Removed {} partial outputs left by an earlier run", removed);
    return removed;
}

}  // namespace kolvex
